// SPDX-License-Identifier: MIT
#pragma once

#include "packlist/pack_list_builder.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

class QObject;

namespace zpmoni {

// Runs a pack list build on a thread of its own. Everything it reports reaches the context
// object's thread as queued calls, and none of them arrives once the context is gone or the
// build was stopped.
class PackListWorker {
public:
    struct Callbacks {
        std::function<void(const QString&)> line;
        std::function<void(int)> range;
        std::function<void(int)> progress;
        std::function<void(bool)> finished;  // after the last line: false when the build failed
    };
    // How long Stop waits for the thread.
    static constexpr std::chrono::seconds kStopWait{2};

    PackListWorker(QObject* context, Callbacks callbacks);
    // Stops a running build (see Stop).
    ~PackListWorker();
    PackListWorker(const PackListWorker&) = delete;
    PackListWorker& operator=(const PackListWorker&) = delete;

    // False when a build is still running. `listing` must outlive the thread (the system's
    // listing does); the caller does not touch `known` until `finished`.
    bool Start(PackListJob job, const DirectoryListing& listing, std::shared_ptr<AircraftIndex> known);
    // From start to the `finished` call (context thread only).
    bool Running() const { return build != nullptr; }
    // Asks the build to stop before its next line.
    void RequestStop();
    // Asks it to stop and waits for its thread, at most kStopWait: a thread stuck in a read
    // of a hung file system must not freeze the caller. A thread still running then goes on
    // alone with what it owns and ends at its next look at its stop token; `finished` is not
    // called.
    void Stop();

private:
    struct Build;
    QObject* context;
    Callbacks callbacks;
    std::shared_ptr<Build> build;  // context thread only
    std::jthread thread;           // the latest build's, until joined or let go
};

}  // namespace zpmoni

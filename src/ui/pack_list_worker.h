// SPDX-License-Identifier: MIT
#pragma once

#include "ui/pack_list_builder.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

class QObject;

// Runs a pack list build on a thread of its own. Everything it reports reaches the context
// object's thread as queued calls, and none of them arrives once the context is gone.
class PackListWorker {
public:
    struct Callbacks {
        std::function<void(const QString&)> line;
        std::function<void(int)> range;
        std::function<void(int)> progress;
        std::function<void()> finished;  // after the "Done" line; the thread has ended
    };

    PackListWorker(QObject* context, Callbacks callbacks);
    // Stops a running build and waits for its thread.
    ~PackListWorker();
    PackListWorker(const PackListWorker&) = delete;
    PackListWorker& operator=(const PackListWorker&) = delete;

    // False when a build is still running. `listing` and `known` must outlive the build; the
    // caller does not touch `known` until `finished`.
    bool Start(PackListJob job, const DirectoryListing& listing, AircraftIndex& known);
    // From start to the `finished` call (context thread only).
    bool Running() const { return running; }
    // Asks the build to stop before its next list file.
    void RequestStop() { busy.store(0); }
    // Asks it to stop and waits until its thread has ended; `finished` is then not called.
    void Stop();

private:
    QObject* context;
    Callbacks callbacks;
    std::atomic<int32_t> busy{0};
    bool running = false;
    uint32_t generation = 0;  // context thread only
    std::thread thread;
};

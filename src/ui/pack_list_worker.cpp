// SPDX-License-Identifier: MIT
#include "ui/pack_list_worker.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

namespace {

using Poster = std::function<void(std::function<void()>)>;

class QueuedSink final : public PackListSink {
public:
    QueuedSink(Poster post, const PackListWorker::Callbacks& callbacks)
        : post(std::move(post)), callbacks(callbacks)
    {
    }
    void Line(std::string_view text) override
    {
        QString line = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        post([cb = callbacks.line, line] { cb(line); });
    }
    void Range(int count) override { post([cb = callbacks.range, count] { cb(count); }); }
    void Progress(int done) override { post([cb = callbacks.progress, done] { cb(done); }); }

private:
    Poster post;
    const PackListWorker::Callbacks& callbacks;
};

}  // namespace

PackListWorker::PackListWorker(QObject* context, Callbacks callbacks)
    : context(context), callbacks(std::move(callbacks))
{
}

PackListWorker::~PackListWorker()
{
    Stop();
}

bool PackListWorker::Start(PackListJob job, const DirectoryListing& listing, AircraftIndex& known)
{
    if (running)
        return false;
    running = true;
    busy.store(1);
    // Calls still queued from a build that Stop abandoned are dropped by their generation.
    const uint32_t build = ++generation;
    Poster post = [this, build](std::function<void()> call) {
        QMetaObject::invokeMethod(
            context,
            [this, build, call = std::move(call)] {
                if (build == generation)
                    call();
            },
            Qt::QueuedConnection);
    };
    thread = std::thread([this, post, job = std::move(job), &listing, &known] {
        QueuedSink sink(post, callbacks);
        PackListBuilder builder(listing, known);
        builder.Build(job, busy, sink);
        post([this] {
            thread.join();
            running = false;
            busy.store(0);
            callbacks.finished();
        });
    });
    return true;
}

void PackListWorker::Stop()
{
    RequestStop();
    if (thread.joinable())
        thread.join();
    running = false;
    ++generation;
}

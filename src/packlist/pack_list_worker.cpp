// SPDX-License-Identifier: MIT
#include "packlist/pack_list_worker.h"

#include <QMetaObject>
#include <QObject>

#include <condition_variable>
#include <mutex>
#include <utility>

namespace zpmoni {

// What the thread shares with the worker; the thread holds it, so a stopped worker may go.
struct PackListWorker::Build {
    std::mutex mutex;
    std::condition_variable ended;
    QObject* context;  // under the mutex; null once the worker has let go of the build
    bool done = false;  // under the mutex
};

namespace {

using Poster = std::function<void(std::function<void()>)>;

class QueuedSink final : public PackListSink {
public:
    QueuedSink(Poster post, const PackListWorker::Callbacks* callbacks) : post(std::move(post)), cb(callbacks) {}
    // The callbacks are only reached inside the posted calls, on the context's thread.
    void Line(std::string_view text) override
    {
        QString line = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        post([cb = cb, line] { cb->line(line); });
    }
    void Range(int count) override { post([cb = cb, count] { cb->range(count); }); }
    void Progress(int done) override { post([cb = cb, done] { cb->progress(done); }); }

private:
    Poster post;
    const PackListWorker::Callbacks* cb;
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

bool PackListWorker::Start(PackListJob job, const DirectoryListing& listing, std::shared_ptr<AircraftIndex> known)
{
    if (build)
        return false;
    if (thread.joinable())
        thread.join();  // the last build's: it has said it finished, it is at its end
    auto shared = std::make_shared<Build>();
    shared->context = context;
    build = shared;
    // A call runs only while its build is still this worker's: the worker is alive then, since
    // the context (which holds it) takes its queued calls with it when it goes.
    Poster post = [this, shared](std::function<void()> call) {
        const std::lock_guard lock(shared->mutex);
        if (shared->context) {
            QMetaObject::invokeMethod(
                shared->context,
                [this, shared, call = std::move(call)] {
                    if (build == shared)
                        call();
                },
                Qt::QueuedConnection);
        }
    };
    thread = std::jthread([this, shared, post, cbs = &callbacks, job = std::move(job), &listing,
                           known = std::move(known)](std::stop_token stop) {
        QueuedSink sink(post, cbs);
        const bool ok = PackListBuilder(listing, *known).Build(job, stop, sink);
        post([this, ok] {
            build.reset();
            callbacks.finished(ok);
        });
        const std::lock_guard lock(shared->mutex);
        shared->done = true;
        shared->ended.notify_all();
    });
    return true;
}

void PackListWorker::RequestStop()
{
    if (build)
        thread.request_stop();
}

void PackListWorker::Stop()
{
    const std::shared_ptr<Build> stopped = std::exchange(build, nullptr);
    if (!stopped)
        return;
    thread.request_stop();
    std::unique_lock lock(stopped->mutex);
    stopped->context = nullptr;
    const bool ended = stopped->ended.wait_for(lock, kStopWait, [&] { return stopped->done; });
    lock.unlock();
    if (ended)
        thread.join();
    else
        thread.detach();  // it holds what it uses, and nothing of it reaches the caller any more
}

}  // namespace zpmoni

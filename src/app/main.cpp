// SPDX-License-Identifier: MIT
#include "app/headless.h"
#include "packlist/packlist_command.h"
#include "app/replay.h"
#include "ctl/ctl_command.h"
#include "base/text_escape.h"
#include "history/daily_log_reader.h"
#include "history/history_store.h"
#include "platform/directory_listing.h"
#include "platform/file_sync.h"
#include "platform/instance_lock.h"
#include "platform/server_process.h"
#include "platform/system_clock.h"
#include "web/operators.h"
#ifdef ZPMONI_HAVE_GUI
#include "app/main_window.h"
#endif

#include <sys/prctl.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

using namespace zpmoni;

namespace {

void Usage(FILE* to)
{
    std::fputs("usage: zpmoni [--workdir DIR]            (the main window)\n"
               "       zpmoni --headless [--workdir DIR]\n"
               "       zpmoni --replay FILE --local ADDR [--local ADDR]... [--port P]\n"
               "              [--no-checksum] [--packs FILE]\n"
               "       zpmoni --build-packlist [--workdir DIR] [--folder SIMFOLDER] [--output FILE]\n"
               "       zpmoni --import-logs [--workdir DIR]\n"
               "       zpmoni --add-operator NAME viewer|admin [--workdir DIR]\n"
               "       zpmoni ctl [--url URL] [--token-file FILE] [--json] COMMAND ...  (zpmoni ctl --help)\n"
               "       zpmoni --version\n",
               to);
}

// Takes every session and keeps none, until the player history is there to keep them.
// Each session into the history unless it is there already, so a second import adds nothing.
class StoredSessions final : public SessionSink {
public:
    explicit StoredSessions(HistoryStore& store) : store(store) {}
    Status Add(const SessionRecord& s) override
    {
        const Result<bool> inserted = store.InsertIfAbsent(s);
        if (!inserted)
            return Failure{inserted.error()};
        added += inserted.value() ? 1 : 0;
        return {};
    }
    size_t added = 0;

private:
    HistoryStore& store;
};

// The daily logs below the working folder read into the player history; each session once.
int RunImportLogs(const std::vector<std::string>& args)
{
    std::string workdir = ".";
    if (args.size() == 2 && args[0] == "--workdir") {
        workdir = args[1];
    } else if (!args.empty()) {
        Usage(stderr);
        return 2;
    }
    Result<std::unique_ptr<HistoryStore>> store = HistoryStore::Open(workdir + "/" + std::string(kHistoryFileName));
    if (!store) {
        std::fprintf(stderr, "zpmoni: %s\n", Escaped(store.error()).c_str());
        return 1;
    }
    StoredSessions sink(*store.value());
    std::optional<Result<BackfillCounts>> read;
    // One transaction: years of logs go in at once, or not at all.
    const Status stored = store.value()->InTransaction([&]() -> Status {
        read.emplace(ImportDailyLogs(workdir + "/Log", SystemDirectoryListing(), SystemLocalTime, sink));
        return read->ok() ? Status() : Failure{read->error()};
    });
    if (!stored || !read || !read->ok()) {
        std::fprintf(stderr, "zpmoni: %s\n", Escaped(read && !read->ok() ? read->error() : stored.error()).c_str());
        return 1;
    }
    const Result<BackfillCounts>& counts = *read;
    for (const std::string& problem : counts->problems)
        std::fprintf(stderr, "zpmoni: %s\n", problem.c_str());
    std::printf("%zu daily logs read, %zu not readable; %zu lines, %zu unreadable, %zu without a session; "
                "%zu sessions, %zu of them new in the history\n",
                counts->files, counts->skippedFiles, counts->lines, counts->unreadable, counts->unmatched,
                counts->sessions, sink.added);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Capabilities given ambiently (the service unit's) would pass on to every program the
    // monitor starts, the game server among them: the monitor keeps its own, hands on none.
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--version") {
        std::printf("zpmoni %s\n", ZPMONI_VERSION);
        return 0;
    }
    if (args.size() == 2 && args[0] == "--exec-pane")
        return RunPaneExec(args[1]);
    if (!args.empty() && args[0] == "--build-packlist")
        return RunBuildPacklist({args.begin() + 1, args.end()}, SystemDirectoryListing(), stdout, stderr);
    if (!args.empty() && args[0] == "--import-logs")
        return RunImportLogs({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "--add-operator")
        return RunAddOperator({args.begin() + 1, args.end()}, stdout, stderr, SyncToDisk);
    if (!args.empty() && args[0] == "ctl")
        return RunCtl(argc, argv, {args.begin() + 1, args.end()}, stdout, stderr);
    if (!args.empty() && args[0] == "--replay") {
        ReplayOptions options;
        std::string error = ParseReplayArguments({args.begin() + 1, args.end()}, options);
        if (!error.empty()) {
            std::fprintf(stderr, "zpmoni: %s\n", error.c_str());
            Usage(stderr);
            return 2;
        }
        static char buffer[1 << 16];
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
        return RunReplay(options, stdout, stderr);
    }

    bool headless = false;
    std::string workdir;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--headless") {
            headless = true;
        } else if (args[i] == "--workdir" && i + 1 < args.size()) {
            workdir = args[++i];
        } else {
            std::fprintf(stderr, "zpmoni: unexpected argument: %s\n", args[i].c_str());
            Usage(stderr);
            return 2;
        }
    }
    // The working folder is the program's current folder: every file is found from there.
    std::error_code error;
    if (!workdir.empty())
        std::filesystem::current_path(workdir, error);
    if (error) {
        std::fprintf(stderr, "zpmoni: cannot use %s: %s\n", workdir.c_str(),
                     error.message().c_str());
        return 2;
    }
    const std::string cwd = std::filesystem::current_path(error).string();
    // One monitor per working folder: two would overwrite each other's settings and logs.
    InstanceLock lock;
    const InstanceLock::Result locked = lock.Acquire(cwd);
    if (locked == InstanceLock::Result::Held) {
        std::fprintf(stderr, "zpmoni: %s is in use by another zpmoni (pid %d)\n", Escaped(cwd).c_str(),
                     static_cast<int>(lock.Holder()));
        return 1;
    }
    // Running without the lock would let a second monitor in, and a lock file that cannot be
    // taken may be a trap laid in a shared folder: either way the folder is not used.
    if (locked == InstanceLock::Result::Unavailable) {
        std::fprintf(stderr, "zpmoni: cannot lock %s: %s\n", Escaped(cwd).c_str(), lock.Problem().c_str());
        return 1;
    }
    if (headless)
        return RunHeadless(argc, argv, cwd);
#ifdef ZPMONI_HAVE_GUI
    return RunWindowed(argc, argv, cwd);
#else
    std::fputs("zpmoni: built without windows; run it with --headless\n", stderr);
    return 2;
#endif
}

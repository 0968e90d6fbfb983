// SPDX-License-Identifier: MIT
#include "platform/server_process.h"

#include "platform/command_runner.h"
#include "platform/command_runner_queue.h"
#include "platform/spawn_args.h"

#include "base/text_escape.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zpmoni {

namespace {

int PidfdOpen(pid_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// A Windows executable starts with "MZ". Read without blocking and only from a regular file:
// a FIFO or a device named as the executable must not hang the monitor.
bool IsWindowsProgram(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    char magic[2] = {};
    const bool mz = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    ::pread(fd, magic, 2, 0) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    ::close(fd);
    return mz;
}

// The pane's start, handed to the exec step out of band: nothing of it passes tmux's command
// parser (which splits at a final ';' and expands '#' formats) or stays on a command line (the
// tmux server's is world-readable for its whole life). NUL-separated: the folder, the number
// of arguments, the arguments, then the environment.
constexpr size_t kMaxPaneStart = 1 << 20;

std::string PaneStartText(const std::vector<std::string>& argv, const std::string& workdir,
                          const std::vector<std::string>& env)
{
    std::string text = (workdir.empty() ? "/" : workdir) + '\0' + std::to_string(argv.size()) + '\0';
    for (const std::vector<std::string>* list : {&argv, &env})
        for (const std::string& item : *list)
            text += item + '\0';
    return text;
}

// A private file that only the pane's user can read; its path, or "" on failure.
std::string WritePaneStart(const std::string& text, const std::optional<SpawnIdentity>& who)
{
    char path[] = "/tmp/zpmoni-pane-XXXXXX";
    const int fd = ::mkostemp(path, O_CLOEXEC);
    if (fd < 0)
        return {};
    bool ok = !who || ::fchown(fd, who->uid, who->gid) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        ok = n > 0;
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    ::close(fd);
    if (!ok) {
        ::unlink(path);
        return {};
    }
    return path;
}

// The monitor's own executable, which runs the pane's exec step; after an update that replaced
// the file, the new one at the same path.
std::string SelfExecutable()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self = n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
    constexpr std::string_view kReplaced = " (deleted)";
    if (self.ends_with(kReplaced))
        self.resize(self.size() - kReplaced.size());
    return self;
}

class LinuxServerProcesses final : public ServerProcesses {
public:
    LinuxServerProcesses(std::string socket, ProcessCalls calls)
        : socket(std::move(socket)), calls(std::move(calls))
    {
        if (!this->calls.pidfdOpen)
            this->calls.pidfdOpen = PidfdOpen;
        poller.setParent(&context);
        QObject::connect(&poller, &QTimer::timeout, &context, [this] { PollEnded(); });
    }
    ~LinuxServerProcesses() override
    {
        for (auto& [pid, w] : watched) {
            delete w.notifier;
            if (w.pidfd >= 0)
                ::close(w.pidfd);
        }
    }

    void Start(const LaunchSpec& spec, std::function<void(Result<uint32_t>)> done) override
    {
        // Made on the queue's thread, watched on this one.
        auto made = std::make_shared<std::optional<Result<Started>>>();
        starts.Post([this, spec, made] { made->emplace(TryStart(spec)); },
                    [this, made, done = std::move(done)] {
                        const Result<Started>& result = **made;
                        if (!result) {
                            done(Failure{result.error()});
                            return;
                        }
                        Track(result->pid, result->child);
                        // A pane that ended before its exec step read the file leaves it to the monitor.
                        if (!result->startFile.empty())
                            watched[result->pid].startFile = result->startFile;
                        done(result->pid);
                    });
    }

    void Watch(uint32_t pid) override { Track(pid, false, false); }

    bool Alive(uint32_t pid) override
    {
        auto it = watched.find(pid);
        if (it == watched.end())
            return false;
        if (it->second.pidfd < 0)
            return StillThere(pid, it->second);
        pollfd p{it->second.pidfd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 0;
    }

    void Signal(uint32_t pid, bool kill) override
    {
        // Only a process this monitor started, while it lives: a taken-over one (its pid told
        // by a window) is never signalled.
        auto it = watched.find(pid);
        if (pid <= 1 || it == watched.end() || !it->second.started || !Alive(pid))
            return;
        const int sig = kill ? SIGKILL : SIGTERM;
        const int pidfd = it->second.pidfd;
        // The group it leads in the session it was started in, with everything it started
        // (its pid, known alive, names no other group); otherwise through the pidfd, which
        // cannot name a reused pid.
        if (::getpgid(static_cast<pid_t>(pid)) == static_cast<pid_t>(pid))
            ::kill(-static_cast<pid_t>(pid), sig);
        else if (pidfd >= 0)
            ::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0);
    }

private:
    // A process just started: its pid, whether it is this monitor's child, the console pane's
    // start file.
    struct Started {
        uint32_t pid = 0;
        bool child = false;
        std::string startFile;
    };

    // Everything but the watching, so on any thread: it touches no member but the socket name.
    Result<Started> TryStart(const LaunchSpec& spec) const
    {
        if (spec.argv.empty() || spec.argv[0].empty())
            return Fail("no executable");
        std::vector<std::string> argv = spec.argv;
        // Found from the monitor's folder, like any path it is given, not from the server's.
        if (argv[0].front() != '/') {
            char cwd[4096];
            if (::getcwd(cwd, sizeof cwd))
                argv[0] = std::string(cwd) + "/" + argv[0];
        }
        struct stat st {};
        if (!spec.workdir.empty() && (::stat(spec.workdir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
            return Fail("the folder " + Escaped(spec.workdir) + " does not exist");
        if (::stat(argv[0].c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return Fail(Escaped(argv[0]) + " does not exist or is no file");
        const bool windows = IsWindowsProgram(argv[0]);
        if (!windows && ::access(argv[0].c_str(), X_OK) != 0)
            return Fail(Escaped(argv[0]) + " is not executable");
        std::optional<SpawnIdentity> who;
        if (::geteuid() == 0) {
            // Never root by default: an exploit of the internet-facing server must not be root.
            if (spec.user.empty())
                return Fail("ServerUser in [ZpmoniDlg] is empty: set the user the server runs as "
                            "(ServerUser=root runs it as root)");
            if (spec.user != "root") {
                who = LookUpUser(spec.user);
                if (!who)
                    return Fail("ServerUser " + Escaped(spec.user) + " is no user of this system");
                if (who->uid == 0)
                    who.reset();
            }
        }
        if (windows) {
            const std::string wine = FindInPath("wine");
            if (wine.empty())
                return Fail("wine, needed for the Windows program " + Escaped(argv[0]) + ", is not installed");
            argv.insert(argv.begin(), wine);
        }
        return spec.console ? StartConsole(argv, spec.workdir, who) : Spawn(argv, spec.workdir, who);
    }

    static Failure Fail(std::string why) { return Failure{std::move(why)}; }

    struct Watched {
        int pidfd = -1;  // -1: watched by polling
        bool child = false;
        bool started = false;  // by this monitor, not taken over
        bool ended = false;  // seen ended by polling, not yet told
        QSocketNotifier* notifier = nullptr;
        std::string startFile;  // a console pane's start, removed at its end
    };

    // Without a pidfd: a child lives until it is reaped, another process until its pid is gone.
    static bool StillThere(uint32_t pid, Watched& w)
    {
        if (w.ended)
            return false;
        const pid_t p = static_cast<pid_t>(pid);
        if (w.child) {
            int status = 0;
            const pid_t r = ::waitpid(p, &status, WNOHANG);
            w.ended = r == p || (r < 0 && errno == ECHILD);
        } else {
            w.ended = ::kill(p, 0) != 0 && errno == ESRCH;
        }
        return !w.ended;
    }

    void PollEnded()
    {
        std::vector<uint32_t> ended;
        for (auto& [pid, w] : watched)
            if (w.pidfd < 0 && !StillThere(pid, w))
                ended.push_back(pid);
        for (uint32_t pid : ended)
            Ended(pid);
    }

    static Result<Started> Spawn(const std::vector<std::string>& argv, const std::string& workdir,
                                 const std::optional<SpawnIdentity>& who)
    {
        SpawnRequest request;
        request.argv = argv;
        request.workdir = workdir;
        request.env = who ? EnvironmentFor(*who) : MonitorEnvironment();
        request.identity = who;
        // A session of its own: the server outlives the monitor and its terminal.
        request.newSession = true;
        const pid_t pid = SpawnChild(request);
        if (pid < 0)
            return Fail("cannot run " + Escaped(argv[0]) + ": " + std::strerror(errno));
        return Started{static_cast<uint32_t>(pid), true, {}};
    }

    Result<Started> StartConsole(const std::vector<std::string>& argv, const std::string& workdir,
                                 const std::optional<SpawnIdentity>& who) const
    {
        // The user's own tmux server: the pane, and every later command to it, run as the user.
        SetConsoleIdentity(who);
        static std::atomic<int> serial{0};
        const std::string name =
            "zemainsvr-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
        // The monitor's own executable runs the pane's exec step ("--exec-pane FILE").
        const std::string self = SelfExecutable();
        if (self.empty() || self.back() == ';')
            return Fail("the monitor's own executable cannot run the console server's start");
        std::string startFile;
        std::optional<std::string> out;
        // A server that was the last pane of its tmux server takes that tmux server with it, and
        // a start made while it is still going meets a dying server ("server exited
        // unexpectedly"): one more try, once it has gone, starts a new one.
        for (int attempt = 0; attempt < 3 && !out; ++attempt) {
            if (attempt > 0)
                ::usleep(50'000);
            startFile = WritePaneStart(
                PaneStartText(argv, workdir, who ? EnvironmentFor(*who) : MonitorEnvironment()), who);
            if (startFile.empty())
                return Fail(std::string("cannot write the console server's start: ") + std::strerror(errno));
            const std::vector<std::string> command = TmuxCommand(socket, {"new-session", "-d", "-P",
                "-F", "#{pane_pid}", "-s", name, "-x", "160", "-y", "48", "--", self, "--exec-pane", startFile});
            if (command.empty()) {
                ::unlink(startFile.c_str());
                return Fail("tmux, needed for the console server, is not installed");
            }
            out = RunCapture(command, 64, who);
            if (!out)
                ::unlink(startFile.c_str());
        }
        if (!out)
            return Fail("tmux could not open the console server's session");
        char* end = nullptr;
        const unsigned long pid = std::strtoul(out->c_str(), &end, 10);
        if (pid == 0 || pid > 0x7fffffff) {
            ::unlink(startFile.c_str());
            return Fail("tmux told no process of the console server's session");
        }
        return Started{static_cast<uint32_t>(pid), false, startFile};
    }

    void Track(uint32_t pid, bool child, bool started = true)
    {
        if (pid == 0 || watched.count(pid))
            return;
        const int fd = calls.pidfdOpen(static_cast<int>(pid));
        Watched& w = watched[pid];
        w.pidfd = fd;
        w.child = child;
        w.started = started;
        if (fd < 0) {
            // No pidfd (an old kernel, a seccomp filter, no descriptors left): a refused
            // watch is no proof of an end, so the process is polled, and a child reaped, on
            // the one-second tick.
            if (!poller.isActive())
                poller.start(1000);
            return;
        }
        w.notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
        QObject::connect(w.notifier, &QSocketNotifier::activated, w.notifier,
                         [this, pid] { Ended(pid); });
    }

    void Ended(uint32_t pid)
    {
        auto it = watched.find(pid);
        if (it == watched.end())
            return;
        if (it->second.child && !it->second.ended)
            ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);
        if (!it->second.startFile.empty())
            ::unlink(it->second.startFile.c_str());
        if (it->second.notifier) {
            it->second.notifier->setEnabled(false);
            it->second.notifier->deleteLater();
            ::close(it->second.pidfd);
        }
        watched.erase(it);
        if (std::none_of(watched.begin(), watched.end(), [](const auto& e) { return e.second.pidfd < 0; }))
            poller.stop();
        if (onExit)
            onExit(pid);
    }

    std::string socket;
    ProcessCalls calls;
    std::map<uint32_t, Watched> watched;
    QObject context;  // ends the queued reports with this object
    QTimer poller;    // the processes watched without a pidfd
    // Last: a start under way is waited for before the rest goes, and its answer dropped.
    JobQueue starts;
};

}  // namespace

void UseConsoleUser(const std::string& user)
{
    if (::geteuid() == 0 && !user.empty() && user != "root") {
        std::optional<SpawnIdentity> who = LookUpUser(user);
        SetConsoleIdentity(who && who->uid != 0 ? who : std::nullopt);
    }
}

int RunPaneExec(const std::string& startFile)
{
    // Only a regular file of this user's, read without blocking and bounded, then removed.
    const int fd = ::open(startFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_size <= 0 || static_cast<size_t>(st.st_size) > kMaxPaneStart) {
        std::fprintf(stderr, "zpmoni: no usable start in %s\n", startFile.c_str());
        return 127;
    }
    std::string text(static_cast<size_t>(st.st_size), '\0');
    const bool whole = ::read(fd, text.data(), text.size()) == st.st_size;
    ::close(fd);
    ::unlink(startFile.c_str());
    std::vector<std::string> items;
    for (size_t at = 0, end; whole && (end = text.find('\0', at)) != std::string::npos; at = end + 1)
        items.push_back(text.substr(at, end - at));
    const unsigned long argc = items.size() > 2 ? std::strtoul(items[1].c_str(), nullptr, 10) : 0;
    if (argc == 0 || argc > items.size() - 2) {
        std::fprintf(stderr, "zpmoni: a broken start in %s\n", startFile.c_str());
        return 127;
    }
    const std::vector<std::string> argv(items.begin() + 2, items.begin() + 2 + static_cast<long>(argc));
    const std::vector<std::string> env(items.begin() + 2 + static_cast<long>(argc), items.end());
    std::vector<char*> args = SpawnArgs(argv), envp = SpawnArgs(env);
    if (::chdir(items[0].c_str()) == 0)
        ::execve(args[0], args.data(), envp.data());
    std::fprintf(stderr, "zpmoni: cannot start %s: %s\n", argv[0].c_str(), std::strerror(errno));
    return 127;
}

std::unique_ptr<ServerProcesses> MakeServerProcesses(const std::string& consoleSocket,
                                                     ProcessCalls calls)
{
    return std::make_unique<LinuxServerProcesses>(consoleSocket, std::move(calls));
}

}  // namespace zpmoni

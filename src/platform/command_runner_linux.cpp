// SPDX-License-Identifier: MIT
#include "platform/command_runner.h"

#include "platform/spawn_args.h"

#include <cerrno>
#include <chrono>
#include <mutex>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zpmoni {


namespace {

// The system's own command folders, as confstr gives them, and /usr/local/bin.
std::string SystemPath()
{
    char buffer[512] = {};
    const size_t n = ::confstr(_CS_PATH, buffer, sizeof buffer);
    std::string path = n > 0 && n <= sizeof buffer ? std::string(buffer) : "/bin:/usr/bin";
    return "/usr/local/bin:" + path;
}

}  // namespace

bool Privileged()
{
    if (::geteuid() == 0)
        return true;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return true;  // unknown: the careful answer
    return (data[0].effective | data[1].effective | data[0].permitted | data[1].permitted) != 0;
}

std::string FindInPath(std::string_view name)
{
    if (name.empty() || name.find('/') != std::string_view::npos)
        return {};
    // A privileged monitor trusts only the system's folders; nobody trusts a relative entry
    // (".", "bin"), which names whatever folder the monitor happens to run in.
    const char* path = std::getenv("PATH");
    const std::string dirsText = Privileged() || !path ? SystemPath() : std::string(path);
    std::string_view dirs = dirsText;
    while (!dirs.empty()) {
        const size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
        if (dir.empty() || dir.front() != '/')
            continue;
        std::string candidate = dir + "/" + std::string(name);
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

std::vector<std::string> MonitorEnvironment()
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string_view var(*e);
        if (!var.starts_with("TMUX=") && !var.starts_with("TMUX_PANE="))
            env.emplace_back(var);
    }
    return env;
}

std::vector<std::string> EnvironmentFor(const SpawnIdentity& who)
{
    std::vector<std::string> env;
    for (std::string& var : MonitorEnvironment()) {
        const std::string_view key = std::string_view(var).substr(0, var.find('='));
        if (key != "HOME" && key != "USER" && key != "LOGNAME" && key != "PATH" &&
            key != "XDG_RUNTIME_DIR" && key != "MAIL")
            env.push_back(std::move(var));
    }
    env.insert(env.end(), {"HOME=" + who.home, "USER=" + who.name, "LOGNAME=" + who.name,
                           "PATH=" + SystemPath()});
    return env;
}

std::vector<std::string> HelperEnvironment(const std::optional<SpawnIdentity>& who)
{
    std::vector<std::string> env;
    for (std::string& var : who ? EnvironmentFor(*who) : MonitorEnvironment()) {
        const std::string_view key = std::string_view(var).substr(0, var.find('='));
        if (key == "PATH" || key == "HOME" || key == "USER" || key == "LOGNAME" || key == "LANG" ||
            key.starts_with("LC_") || key == "TZ" || key == "TMUX_TMPDIR")
            env.push_back(std::move(var));
    }
    return env;
}

std::optional<SpawnIdentity> LookUpUser(const std::string& name)
{
    if (name.empty())
        return std::nullopt;
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwnam_r(name.c_str(), &pw, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::nullopt;
    SpawnIdentity who;
    who.uid = pw.pw_uid;
    who.gid = pw.pw_gid;
    who.name = pw.pw_name;
    who.home = pw.pw_dir ? pw.pw_dir : "/";
    int count = 64;
    who.groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(pw.pw_name, pw.pw_gid, who.groups.data(), &count) < 0) {
        who.groups.resize(static_cast<size_t>(count));
        if (::getgrouplist(pw.pw_name, pw.pw_gid, who.groups.data(), &count) < 0)
            return std::nullopt;
    }
    who.groups.resize(static_cast<size_t>(count));
    return who;
}

namespace {

[[noreturn]] void ChildFails(int report)
{
    const int error = errno;
    [[maybe_unused]] const ssize_t n = ::write(report, &error, sizeof error);
    ::_exit(127);
}

}  // namespace

pid_t SpawnChild(const SpawnRequest& r)
{
    if (r.argv.empty() || r.argv[0].empty() || r.argv[0].front() != '/') {
        errno = ENOENT;
        return -1;
    }
    // Everything the child needs is made before the fork: between fork and exec only
    // async-signal-safe calls, the monitor having other threads.
    std::vector<char*> args = SpawnArgs(r.argv);
    std::vector<char*> env = SpawnArgs(r.env);
    const char* workdir = r.workdir.empty() ? nullptr : r.workdir.c_str();
    rlimit files{};
    const int limit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 65536
                          ? static_cast<int>(files.rlim_cur) : 65536;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return -1;
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) {
        const int error = errno;
        ::close(report[0]), ::close(report[1]);
        errno = error;
        return -1;
    }
    sigset_t all, old;
    sigfillset(&all);
    // No handler of the monitor's may run in the child before its dispositions are reset.
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid = ::fork();
    if (pid == 0) {
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig)
            ::sigaction(sig, &byDefault, nullptr);
        // The report pipe must survive the renumbering below and close at exec.
        int out = r.stdoutFd >= 0 ? r.stdoutFd : devNull;
        if (::dup2(devNull, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(devNull, 2) < 0)
            ChildFails(report[1]);
        if (report[1] != 3 && ::dup3(report[1], 3, O_CLOEXEC) < 0)
            ChildFails(report[1]);
        const int reportFd = 3;
        // Nothing of the monitor's (sockets, its lock, its logs) outlives it in the child; where
        // the kernel has no close_range, one by one.
        if (::syscall(SYS_close_range, 4u, ~0u, 0u) != 0)
            for (int fd = 4; fd < limit; ++fd)
                ::close(fd);
        if (r.newSession && ::setsid() < 0)
            ChildFails(reportFd);
        if (workdir && ::chdir(workdir) != 0)
            ChildFails(reportFd);
        if (r.identity) {
            const SpawnIdentity& who = *r.identity;
            // The raw calls: the libc wrappers would signal the parent's other threads, which
            // do not exist in the child.
            if (::syscall(SYS_setgroups, who.groups.size(), who.groups.data()) != 0 ||
                ::syscall(SYS_setresgid, who.gid, who.gid, who.gid) != 0 ||
                ::syscall(SYS_setresuid, who.uid, who.uid, who.uid) != 0 ||
                ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 ||
                ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
                ChildFails(reportFd);
            // A uid that could be taken back would undo all of the above.
            if (who.uid != 0 && (::syscall(SYS_setuid, 0) == 0 || ::geteuid() != who.uid))
                ChildFails(reportFd);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(args[0], args.data(), env.data());
        ChildFails(reportFd);
    }
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::close(report[1]);
    ::close(devNull);
    if (pid < 0) {
        ::close(report[0]);
        errno = forkError;
        return -1;
    }
    // The pipe closes at a successful exec, or brings the child's errno.
    int error = 0;
    ssize_t n;
    while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof error)) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        errno = error;
        return -1;
    }
    return pid;
}

std::optional<std::string> RunCapture(const std::vector<std::string>& argv, size_t maxBytes,
                                      const std::optional<SpawnIdentity>& identity, bool* unanswered)
{
    if (unanswered)
        *unanswered = true;
    if (argv.empty())
        return std::nullopt;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return std::nullopt;
    SpawnRequest request;
    request.argv = argv;
    // The helpers get no more of the monitor's environment than they need: whatever a tmux
    // server gets stays with it for its whole life.
    request.env = HelperEnvironment(identity);
    request.stdoutFd = out[1];
    request.identity = identity;
    const pid_t pid = SpawnChild(request);
    ::close(out[1]);
    if (pid < 0) {
        ::close(out[0]);
        return std::nullopt;
    }

    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, std::min(static_cast<size_t>(n), maxBytes - std::min(maxBytes, text.size())));
    }
    ::close(out[0]);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (unanswered)
        *unanswered = timedOut || !WIFEXITED(status);
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return text;
}

namespace {
std::mutex consoleIdentityLock;
std::optional<SpawnIdentity> consoleIdentity;
}  // namespace

void SetConsoleIdentity(std::optional<SpawnIdentity> who)
{
    std::lock_guard guard(consoleIdentityLock);
    consoleIdentity = std::move(who);
}

std::optional<SpawnIdentity> ConsoleIdentity()
{
    std::lock_guard guard(consoleIdentityLock);
    return consoleIdentity;
}

std::vector<std::string> TmuxCommand(const std::string& socket, std::vector<std::string> args)
{
    static const std::string tmux = FindInPath("tmux");
    if (tmux.empty())
        return {};
    std::vector<std::string> argv{tmux};
    // The monitor's own tmux server reads no configuration: nobody's ~/.tmux.conf runs there.
    if (!socket.empty())
        argv.insert(argv.end(), {"-f", "/dev/null", "-L", socket});
    argv.insert(argv.end(), std::make_move_iterator(args.begin()), std::make_move_iterator(args.end()));
    return argv;
}

}  // namespace zpmoni

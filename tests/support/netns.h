// SPDX-License-Identifier: MIT
#pragma once

// Network namespaces of a test's own, joined by a veth pair, so that programs talk over a real
// link without touching the machine's network. Every name starts with "zpt" and the test
// process's id; whatever a test makes is removed when its objects go, also when it fails.

#include "support/child_process.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace zpmoni;

// A system program by name (in the folders an ordinary PATH may leave out too), or empty.
inline std::string FindProgram(const std::string& name)
{
    for (std::string folder : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"})
        if (::access((folder + name).c_str(), X_OK) == 0)
            return folder + name;
    return {};
}

// "zpt" and this process's id: the start of every namespace and link name made here.
inline std::string NetnsPrefix() { return "zpt" + std::to_string(::getpid()); }

// One named network namespace with its loopback interface up.
class NetNamespace {
public:
    // The name is NetnsPrefix() + suffix, a lower-case letter or two (15 characters at most).
    explicit NetNamespace(const std::string& suffix) : name(NetnsPrefix() + suffix)
    {
        RunCommand({ip, "netns", "del", name});  // left by a killed run with the same id
        created = RunCommand({ip, "netns", "add", name});
        ok = created && Ip({"link", "set", "lo", "up"});
    }
    ~NetNamespace() { if (created) RunCommand({ip, "netns", "del", name}); }
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;

    bool Ok() const { return ok; }
    const std::string& Name() const { return name; }
    // The command line that runs argv inside this namespace.
    std::vector<std::string> Inside(std::vector<std::string> argv) const
    {
        argv.insert(argv.begin(), {ip, "netns", "exec", name});
        return argv;
    }
    // Runs argv inside to its end; true on exit 0.
    bool Run(const std::vector<std::string>& argv, const std::string& output = "/dev/null") const
    {
        return RunCommand(Inside(argv), output);
    }
    // Runs an `ip` subcommand on this namespace: Ip({"addr", "add", ...}).
    bool Ip(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {ip, "-n", name});
        return RunCommand(args);
    }

    const std::string ip = FindProgram("ip");

private:
    const std::string name;
    bool created = false, ok = false;
};

// The calling thread in the named namespace while this lives; sockets made meanwhile stay there.
struct InNamespace {
    explicit InNamespace(const std::string& name)
    {
        const int ns = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        entered = ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0;
        ::close(ns);
    }
    ~InNamespace() { ::setns(home, CLONE_NEWNET), ::close(home); }
    const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    bool entered = false;
};

// The server's namespace and the players' namespace, joined by a veth pair (gone with them):
// server 198.51.100.1/24 on serverLink, players 198.51.100.2/24 on botsLink.
struct VethTestbed {
    static constexpr const char* kServerAddress = "198.51.100.1";
    static constexpr const char* kBotsAddress = "198.51.100.2";

    bool Ok() const { return ok; }

    NetNamespace server{"s"};
    NetNamespace bots{"b"};
    const std::string serverLink = NetnsPrefix() + "sv";
    const std::string botsLink = NetnsPrefix() + "bv";
    const bool ok = server.Ok() && bots.Ok() &&
                    server.Ip({"link", "add", "name", serverLink, "type", "veth", "peer", "name", botsLink, "netns",
                               bots.Name()}) &&
                    server.Ip({"addr", "add", std::string(kServerAddress) + "/24", "dev", serverLink}) &&
                    bots.Ip({"addr", "add", std::string(kBotsAddress) + "/24", "dev", botsLink}) &&
                    server.Ip({"link", "set", serverLink, "up"}) && bots.Ip({"link", "set", botsLink, "up"});
};

// Skips the current test with the reason unless the VethTestbed `bed` stands: it needs root and
// iproute2 (network namespaces, packet sockets).
#define ZPT_SKIP_UNLESS_TESTBED(bed)                                                               \
    if (::geteuid() != 0 || FindProgram("ip").empty() || !(bed).Ok())                              \
    GTEST_SKIP() << "needs root, iproute2's ip and network namespaces (no veth pair " << (bed).serverLink << ")"

// Declares the VethTestbed `bed`, or skips the current test with the reason.
#define ZPT_TESTBED(bed)                                                                           \
    VethTestbed bed;                                                                               \
    ZPT_SKIP_UNLESS_TESTBED(bed)

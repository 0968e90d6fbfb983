// SPDX-License-Identifier: MIT
#pragma once

// Network namespaces of a test's own, joined by a veth pair, so that programs talk over a real
// link without touching the machine's network. Every name starts with "zpt" and the test
// process's id; whatever a test creates is removed when its objects go, also when it fails.

#include "support/child_process.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

// A program by name: on PATH, or in the system folders that an ordinary PATH leaves out.
inline std::string FindProgram(const std::string& name)
{
    std::vector<std::string> folders;
    if (const char* path = std::getenv("PATH")) {
        std::string all = path;
        size_t begin = 0;
        while (begin <= all.size()) {
            size_t end = all.find(':', begin);
            if (end == std::string::npos)
                end = all.size();
            if (end > begin)
                folders.push_back(all.substr(begin, end - begin));
            begin = end + 1;
        }
    }
    for (const char* f : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"})
        folders.emplace_back(f);
    for (const std::string& folder : folders) {
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// Runs a command to its end (killed after `limit`); output appended to `output`. True on exit 0.
inline bool RunCommand(const std::vector<std::string>& argv, const std::string& output = "/dev/null",
                       std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    if (argv.empty() || argv[0].empty())
        return false;
    ChildProcess child;
    if (!child.Start(argv, output))
        return false;
    if (!child.Wait(limit)) {
        child.Stop(SIGKILL, std::chrono::seconds(1));
        return false;
    }
    const int status = child.ExitStatus();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// "zpt" and this process's id: the start of every namespace and link name made here.
inline std::string NetnsPrefix()
{
    return "zpt" + std::to_string(::getpid());
}

// Whether `name` was made by a process with this id: the prefix, then a letter (so that process
// 12 does not take the names of process 123).
inline bool IsOwnNetnsName(const std::string& name)
{
    const std::string prefix = NetnsPrefix();
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           name[prefix.size()] >= 'a' && name[prefix.size()] <= 'z';
}

// Removes the namespaces and links an earlier process with this same id left behind (a run
// killed before its cleanup). Once per process: later calls would remove live ones.
inline void RemoveStaleNetns()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const std::string ip = FindProgram("ip");
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/run/netns", error)) {
        const std::string name = entry.path().filename().string();
        if (IsOwnNetnsName(name))
            RunCommand({ip, "netns", "del", name});
    }
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net", error)) {
        const std::string name = entry.path().filename().string();
        if (IsOwnNetnsName(name))
            RunCommand({ip, "link", "del", name});
    }
}

// Why namespace tests cannot run here; empty when they can.
inline std::string NetnsUnavailable()
{
    if (::geteuid() != 0)
        return "needs root (network namespaces and packet sockets)";
    if (FindProgram("ip").empty())
        return "needs iproute2's ip";
    return {};
}

// One named network namespace with its loopback interface up.
class NetNamespace {
public:
    // `suffix` is a lower-case letter or two; the name is NetnsPrefix() + suffix (<= 15 chars).
    explicit NetNamespace(const std::string& suffix, bool loopbackUp = true)
        : ip(FindProgram("ip")), name(NetnsPrefix() + suffix)
    {
        RemoveStaleNetns();
        if (!RunCommand({ip, "netns", "add", name})) {
            error = "ip netns add " + name + " failed";
            return;
        }
        created = true;
        if (loopbackUp && !Run({ip, "link", "set", "lo", "up"}))
            error = "cannot bring lo up in " + name;
    }
    ~NetNamespace()
    {
        if (created)
            RunCommand({ip, "netns", "del", name});
    }
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;

    bool Ok() const { return created && error.empty(); }
    const std::string& Error() const { return error; }
    const std::string& Name() const { return name; }

    // The command line that runs argv inside this namespace.
    std::vector<std::string> Inside(const std::vector<std::string>& argv) const
    {
        std::vector<std::string> all = {ip, "netns", "exec", name};
        all.insert(all.end(), argv.begin(), argv.end());
        return all;
    }
    // Runs argv inside to its end; true on exit 0.
    bool Run(const std::vector<std::string>& argv, const std::string& output = "/dev/null") const
    {
        return RunCommand(Inside(argv), output);
    }
    // Runs an `ip` subcommand inside: Ip({"addr", "add", ...}).
    bool Ip(const std::vector<std::string>& args) const
    {
        std::vector<std::string> argv = {ip, "-n", name};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunCommand(argv);
    }

    const std::string ip;

private:
    const std::string name;
    bool created = false;
    std::string error;
};

// The server's namespace and the players' namespace, joined by a veth pair:
// server 198.51.100.1/24 on serverLink, players 198.51.100.2/24 on botsLink.
class VethTestbed {
public:
    static constexpr const char* kServerAddress = "198.51.100.1";
    static constexpr const char* kBotsAddress = "198.51.100.2";

    VethTestbed()
        : server("s"), bots("b"),
          serverLink(NetnsPrefix() + "sv"), botsLink(NetnsPrefix() + "bv")
    {
        if (!server.Ok() || !bots.Ok()) {
            error = !server.Ok() ? server.Error() : bots.Error();
            return;
        }
        if (!server.Ip({"link", "add", "name", serverLink, "type", "veth", "peer", "name",
                        botsLink, "netns", bots.Name()})) {
            error = "cannot make a veth pair (" + serverLink + ", " + botsLink + ")";
            return;
        }
        linked = true;
        if (!server.Ip({"addr", "add", std::string(kServerAddress) + "/24", "dev", serverLink}) ||
            !bots.Ip({"addr", "add", std::string(kBotsAddress) + "/24", "dev", botsLink}) ||
            !server.Ip({"link", "set", serverLink, "up"}) ||
            !bots.Ip({"link", "set", botsLink, "up"}))
            error = "cannot address or bring up the veth pair";
    }
    ~VethTestbed()
    {
        // Deleting one end takes the other with it at once; a namespace's own removal of its
        // links happens later, in the background.
        if (linked)
            server.Ip({"link", "del", serverLink});
    }
    VethTestbed(const VethTestbed&) = delete;
    VethTestbed& operator=(const VethTestbed&) = delete;

    bool Ok() const { return error.empty(); }
    const std::string& Error() const { return error; }

    NetNamespace server;
    NetNamespace bots;
    const std::string serverLink;
    const std::string botsLink;

private:
    bool linked = false;
    std::string error;
};

// Skips the current test with the reason when namespaces cannot be had.
#define ZPT_SKIP_UNLESS_NETNS_POSSIBLE()                   \
    do {                                                   \
        const std::string why_ = NetnsUnavailable();       \
        if (!why_.empty())                                 \
            GTEST_SKIP() << why_;                          \
    } while (0)

#define ZPT_SKIP_UNLESS_OK(bed)                                                 \
    do {                                                                        \
        if (!(bed).Ok())                                                        \
            GTEST_SKIP() << "no network namespaces here: " << (bed).Error();    \
    } while (0)

// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zpmoni {

// The argument vector exec takes: pointers into argv's strings, ended by a null pointer.
// Valid while argv lives unchanged.
inline std::vector<char*> SpawnArgs(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}

// Who a child runs as when the monitor gives up its privileges for it.
struct SpawnIdentity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;  // supplementary groups
    std::string name, home;
};

// One child of the monitor. Every child gets stdin on /dev/null, no descriptor of the monitor's
// above 2, default signal dispositions and an empty signal mask.
struct SpawnRequest {
    std::vector<std::string> argv;  // argv[0] is an absolute path; no PATH search
    std::string workdir;            // "" keeps the monitor's
    std::vector<std::string> env;   // the whole environment
    int stdoutFd = -1;              // -1: /dev/null; stderr always goes to /dev/null
    bool newSession = false;
    // Set: supplementary groups, gid, then uid, no new privileges, no capabilities.
    std::optional<SpawnIdentity> identity;
};

// Starts the child; its pid, or -1 with errno set (an exec failure is reported too).
pid_t SpawnChild(const SpawnRequest& request);

// The monitor's own environment, without what would tie a child to a tmux the monitor runs in.
std::vector<std::string> MonitorEnvironment();
// The environment for a child that runs as `who`: the monitor's, with the user's own HOME,
// USER and LOGNAME and the system's PATH.
std::vector<std::string> EnvironmentFor(const SpawnIdentity& who);

// The little a helper program (tmux) needs: PATH, the user's names and home, the locale, TZ.
std::vector<std::string> HelperEnvironment(const std::optional<SpawnIdentity>& who);

// True while the monitor runs as root or holds any capability: then no child is looked up in
// the inherited PATH.
bool Privileged();

// The user `name` with its groups; nothing when there is no such user.
std::optional<SpawnIdentity> LookUpUser(const std::string& name);

}  // namespace zpmoni

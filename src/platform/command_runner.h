// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spawn_args.h"

namespace zpmoni {

// The full path of an executable found in the absolute entries of $PATH, or "" when there is
// none; a privileged monitor looks only in the system's folders.
std::string FindInPath(std::string_view name);

// Runs argv[0] with its arguments, without a shell, stdin and stderr on /dev/null, and returns
// what it wrote to stdout (at most maxBytes) when it ended with status 0 within two seconds;
// nothing otherwise (a program that hangs is killed). Callable from any thread.
// With `identity`, it runs as that user. Its environment is HelperEnvironment's. `unanswered`
// tells a program that could not be run, hung or died of a signal from one that said no.
std::optional<std::string> RunCapture(const std::vector<std::string>& argv,
                                      size_t maxBytes = 1 << 20,
                                      const std::optional<SpawnIdentity>& identity = std::nullopt,
                                      bool* unanswered = nullptr);

// The user every tmux command on the console server's socket runs as (its own tmux server for
// that user); nothing: the monitor's own. Any thread.
void SetConsoleIdentity(std::optional<SpawnIdentity> who);
std::optional<SpawnIdentity> ConsoleIdentity();

// The argv of tmux on a socket name of its own ("" for the user's default socket) followed by
// args; empty when tmux is not installed.
std::vector<std::string> TmuxCommand(const std::string& socket, std::vector<std::string> args);

}  // namespace zpmoni

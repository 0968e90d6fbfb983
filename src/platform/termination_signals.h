// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

namespace zpmoni {

// Runs `action` on the running QCoreApplication's event loop at SIGINT, SIGTERM or SIGHUP
// (through a self-pipe, so the handler does nothing but write a byte), so that a signal ends
// the program by its ordinary shut-down. False when the pipe cannot be made.
bool OnTerminationSignals(std::function<void()> action);

// The same, ending the loop.
bool QuitOnTerminationSignals();

}  // namespace zpmoni

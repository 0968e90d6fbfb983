// SPDX-License-Identifier: MIT
#pragma once

// Ends the running QCoreApplication's loop on SIGINT or SIGTERM (through a self-pipe, so the
// handler does nothing but write a byte). False when the pipe cannot be made.
bool QuitOnTerminationSignals();

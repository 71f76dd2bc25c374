#pragma once

#include <string>

#include "process/naming_posix.h"

namespace platform::posix {

// Starts the VM with vfork and exec: its program searched on PATH as exec does, SIGKILL as its
// parent-death signal from its first instruction on, and `naming` told of it. From its start
// on, the stop signals that reach the launcher are handled for it (stop_signals_posix.h).
// When it cannot be started or named, nothing of it is left and the errno is returned.
Started startVm(const std::string& commandLine, Naming& naming);

} // namespace platform::posix

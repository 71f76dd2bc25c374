#pragma once

#include <string>

#include "process/naming_posix.h"

namespace platform::posix {

// Forks the monitor, made while the launcher's main thread is its only thread: it runs the
// monitor's loop without an exec, as a monitor started by hand would, and knows the launcher
// and the VM as `naming` has them. Its name is the launcher's with "-mon" added, and its
// command line `launcherName` and "-monitor", written over the launcher's arguments.
Started forkMonitor(const Naming& naming, const std::string& launcherName);

} // namespace platform::posix

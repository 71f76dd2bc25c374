#pragma once

#include <string>

#include "process/processes_win32.h"
#include "process/vm_start_win32.h"

namespace platform::win32 {

// What the monitor needs of this process, had before the VM starts, so that a launcher that
// could not be watched starts nothing: an inheritable handle to this process, and this
// executable's own file to start the monitor from. The error when either cannot be had.
ProcessResult openOwnProcess();

// Starts the monitor from its command line, detached from the console, from this executable's
// own file whatever the command line's first word names, inheriting the two handles `launcher`
// and `vm` under the same values and nothing else of the launcher's. Where processes join the
// launcher's job at their start, so does the monitor: a launcher ended during the monitor's
// start takes the half-started monitor with it.
ProcessResult startMonitor(const std::string& commandLine, ProcessHandle launcher, ProcessHandle vm,
                           const LauncherJob& job);

} // namespace platform::win32

#pragma once

#include <string>

#include "process/processes_win32.h"
#include "process/vm_start_win32.h"

namespace platform::win32 {

// An inheritable handle to this process, for the monitor; had before the VM starts (as is
// this executable's own file, which the monitor is started from), so that a launcher that
// could not be watched starts nothing. The error when it cannot be had.
ProcessResult openOwnProcess();

// Starts the monitor from its command line, detached from the console, from `executable`, this
// executable's own file, whatever the command line's first word names, inheriting the two
// handles `launcher`
// and `vm` under the same values and nothing else of the launcher's. Where processes join the
// launcher's job at their start, so does the monitor: a launcher ended during the monitor's
// start takes the half-started monitor with it.
ProcessResult startMonitor(const std::string& commandLine, const std::string& executable,
                           ProcessHandle launcher, ProcessHandle vm, const LauncherJob& job);

} // namespace platform::win32

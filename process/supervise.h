#pragma once

#include <string>

#include "javacmd/quoting.h"
#include "process/monitor_command_line.h"

// Starts the VM with the joined argument list under the supervision of a monitor (see
// platform::runVm) and returns the VM's exit code; on Linux a VM that died of a signal ends
// this process by the same signal. A failed start ends the process with exit code 1 after a
// message on standard output, and so does a failure to learn the VM's end.
int runSupervised(ArgumentList arguments, const std::string& launcherName);

// Monitor mode: waits for the launcher to end, then ends the VM; requests to stop meant for
// the whole tool do not end it. Handle texts that are not decimal numbers end it at once,
// without waiting or ending anything.
void runMonitor(const std::string& launcherHandleText, const std::string& vmHandleText);

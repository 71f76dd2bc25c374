#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "javacmd/quoting.h"
#include "process/platform.h"

// What the launcher's watcher thread needs: the monitor to wait for and the VM to end.
struct MonitorWatch {
    platform::ProcessHandle monitor;
    platform::ProcessHandle vm;
};

// Starts the VM with the joined argument list, then the monitor, which is watched while the
// launcher waits for the VM (Windows: the monitor is started and watched on a watcher
// thread, so the VM does not wait for it; Linux: forked on the main thread, which watches
// it), and returns the VM's exit code; on Linux a VM that died of a signal ends this process
// by the same signal. A failed start ends the process with exit code 1 after a message on
// standard output, and so does a failure to learn the VM's end; what the monitor needs of
// the launcher is had before the VM starts, so that a launcher that cannot be watched starts
// nothing.
int runSupervised(ArgumentList arguments, const std::string& launcherName);

// Waits for the monitor to end, then ends the VM.
void watchMonitor(const MonitorWatch& watch);

// Monitor mode: waits for the launcher to end, then ends the VM; requests to stop meant for
// the whole tool do not end it. Handle texts that are not decimal numbers end it at once,
// without waiting or ending anything.
void runMonitor(const std::string& launcherHandleText, const std::string& vmHandleText);

// "<launcher> -monitor <launcher handle> <vm handle>", the launcher's name quoted when it is
// empty or holds a space or a tab, so that the monitor always sees three arguments.
// (The monitor is started from the launcher's own file; the name is only its argv[0].)
std::string monitorCommandLine(const std::string& launcherName, platform::ProcessHandle launcher,
                               platform::ProcessHandle vm);

// The handle in a text written by monitorCommandLine: optional leading blanks, an optional
// sign and decimal digits, nothing else, within the range of a 32-bit int.
std::optional<platform::ProcessHandle> parseHandleText(std::string_view text);

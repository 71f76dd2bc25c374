#pragma once

#include <string>

#include "process/processes_win32.h"
#include "process/vm_start_win32.h"

namespace platform::win32 {

// What the launcher's watcher thread needs: the monitor to wait for and the VM to end.
struct MonitorWatch {
    ProcessHandle monitor;
    ProcessHandle vm;
};

// Waits for the monitor to end, then ends the VM.
void watchMonitor(const MonitorWatch& watch);

// What it takes to start the monitor.
struct MonitorStart {
    std::string commandLine;
    std::string executable; // this executable's own file
    ProcessHandle launcher;
    ProcessHandle vm;
    LauncherJob job;
};

// How the wait for the VM ended: 0 once the VM has ended, or the error of the monitor's
// start (which failed while the VM ran: the VM has been ended) or of the wait.
struct VmWait {
    bool monitorFailed = false;
    DWORD error = 0;
};

// Starts the monitor and watches it on a watcher thread, so that the VM does not wait for
// the monitor's start, and waits for the VM meanwhile; where no thread can be started, the
// main thread starts the monitor and watches it while it waits for the VM.
VmWait waitForVmWhileWatched(const MonitorStart& start);

} // namespace platform::win32

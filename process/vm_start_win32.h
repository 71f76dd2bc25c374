#pragma once

#include <string>

#include "process/processes_win32.h"

namespace platform::win32 {

// The job that holds the VM and ends everything in it when the launcher ends, however it
// ends (its handle is the launcher's alone, never closed: the launcher's end closes it);
// nullptr where there is none. `joinedAtStart`: processes enter it from their first
// instruction on, as the monitor then does too.
struct LauncherJob {
    HANDLE handle = nullptr;
    bool joinedAtStart = false;
};

struct StartedVm {
    ProcessResult vm;
    LauncherJob job;
};

// Starts the VM (see platform::runVm): on the launcher's console, or, for a launcher without
// one, as its caller would have, with no console and the launcher's standard handles; in a
// new launcher job where the system makes one; with an inheritable process handle, for the
// monitor. Console events are handled for it from its start on. `executable`, this
// executable's own file, leads the places a bare program name is searched in.
StartedVm startVm(const std::string& commandLine, const std::string& executable);

} // namespace platform::win32

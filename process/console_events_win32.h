#pragma once

// The console events that reach the launcher on Windows while the VM runs, which shares its
// console and gets each event too: Ctrl+C, Ctrl+Break, and the console's window closed, the
// user logging off or the system shutting down. They are handled as stopActionFor decides.
#include <windows.h>

namespace platform::win32 {

// Installs the launcher's handler, before the VM's start. An event that comes while the VM
// is being started is held until the start has ended: then it is decided for the VM, or,
// where the VM did not start, it has its default effect and ends the launcher.
void handleConsoleEvents();

// The VM's start has ended: events are handled for `vm` from now on, or, when it is nullptr
// (the VM did not start), left to their default effect.
void passConsoleEventsTo(HANDLE vm);

} // namespace platform::win32

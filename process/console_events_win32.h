#pragma once

// The console events that reach the launcher on Windows while the VM runs, which shares its
// console and gets each event too: Ctrl+C, Ctrl+Break, and the console's window closed, the
// user logging off or the system shutting down. They are handled as stopActionFor decides.
#include <windows.h>

namespace platform::win32 {

// Installs the launcher's handler, before the VM's start. Until the VM runs, an event has
// its default effect: it ends the launcher (and the job a VM being started).
void handleConsoleEvents();

// The VM runs: events are handled for it from now on.
void passConsoleEventsTo(HANDLE vm);

} // namespace platform::win32

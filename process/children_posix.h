#pragma once

#include <sys/types.h>

namespace platform::posix {

// Waits until the VM, a child of this process, has ended, without reaping it, and ends it
// should the monitor, another child, end first. As process 1 of a PID namespace (a
// container's first process, which adopts every orphan there) it reaps every other child
// meanwhile, never the VM or the monitor. 0, or the errno when the wait failed. A process id
// that names no child of this process counts as ended and is never signalled.
int waitForVm(pid_t vm, pid_t monitor);

// Ends a child at once.
void endChild(pid_t child);

// How a child ended: with an exit code, or killed by a signal; or the errno when it could not
// be reaped.
struct ChildEnd {
    int error = 0;
    int exitCode = 0;
    int signal = 0; // 0 when it exited
};

// Reaps a child, waiting until it has ended.
ChildEnd reapChild(pid_t child);

} // namespace platform::posix

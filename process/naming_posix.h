#pragma once

// How a run on Linux lets its monitor name the launcher and the VM: by pidfds, which can never
// come to name another process (kernel 5.4), or, where the kernel has none or a seccomp
// profile refuses one of their calls, by the launcher's pipe and the VM's process id. Chosen
// once per run. The launcher itself names the VM and the monitor by their ids: they are its
// children, and a child's id names it until its parent reaps it.
#include <sys/types.h>

#include <array>
#include <memory>

namespace platform::posix {

// Handles are never descriptors 0 to 2: the monitor has /dev/null there, and a standard
// stream given to a monitor by hand as a handle must not be waited on.
constexpr int kFirstHandleNumber = 3;

// A process started, or the errno of its start.
struct Started {
    pid_t pid = 0;
    int error = 0;
};

class Naming {
  public:
    Naming() = default;
    virtual ~Naming() = default;
    Naming(const Naming&) = delete;
    Naming& operator=(const Naming&) = delete;

    // In the launcher, before the VM starts: what the monitor will know the launcher by. 0,
    // or the errno when it cannot be had.
    virtual int nameLauncher() = 0;
    // In the launcher, right after the VM's start, while the VM is its unreaped child: what
    // the monitor will know the VM by. 0, or the errno when it cannot be had.
    virtual int nameVm(pid_t vm) = 0;

    // In the forked monitor: the descriptors it keeps (-1: none).
    virtual std::array<int, 2> monitorHandles() const = 0;
    // In the forked monitor: waits until the launcher has ended, however it ended, then ends
    // the VM (one that sees the VM end first just returns). The launcher ends the monitor
    // before it reaps the VM, so a monitor that gets to end it ends a VM the launcher never
    // reaped.
    virtual void endVmWithLauncher() const = 0;
};

// Pidfds where the kernel answers all their calls on this very process, process ids
// otherwise.
std::unique_ptr<Naming> chooseNaming();

std::unique_ptr<Naming> pidfdNaming();
std::unique_ptr<Naming> processIdNaming();

// The descriptor moved to a number from kFirstHandleNumber on, close-on-exec; -1 with errno
// set when that fails (the descriptor is then closed).
int placeHandle(int fd);

// Waits without time limit until the descriptor is readable (a pidfd: its process has ended;
// a pipe: its write end is closed), or names nothing. poll() skips a negative descriptor and
// would wait for ever: that returns at once.
void waitReadable(int fd);

// A pidfd for the process, placed as a handle; -1 with errno set when there is none.
int openPidfd(pid_t pid);
int sendSignalThroughPidfd(int pidfd, int signal);

} // namespace platform::posix

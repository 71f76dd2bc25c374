#pragma once

// How the Linux process layer reads a ProcessHandle (see platform.h), shared by its parts.
#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <climits>

#include "process/platform.h"

// The system call numbers are the same on every architecture the launcher builds for; older
// C library headers may not name them yet.
#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace platform::posix {

// Handles are never descriptors 0 to 2: the monitor has /dev/null there, and a standard
// stream given by hand as a handle must not be waited on.
constexpr int kFirstHandleNumber = 3;

// The descriptor a handle stands for (a pidfd, or the pipe that stands for the launcher), or
// -1 when it is none.
inline int descriptorOf(ProcessHandle process) {
    const auto value = process.value();
    return value >= kFirstHandleNumber && value <= INT_MAX ? static_cast<int>(value) : -1;
}

// The process id a handle stands for where processes are named by their ids, or 0.
inline pid_t processIdOf(ProcessHandle process) {
    const auto value = process.value();
    return value < 0 && value >= -INT_MAX ? static_cast<pid_t>(-value) : 0;
}

inline ProcessHandle handleForProcessId(pid_t pid) {
    return ProcessHandle(-static_cast<std::intptr_t>(pid));
}

inline int sendSignalThroughPidfd(int pidfd, int signal) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

// Sends a signal to a process named by a pidfd or by its id; safe in a signal handler. The
// caller makes sure that a process id still names the child it was given for.
inline void sendSignal(ProcessHandle process, int signal) {
    if (const pid_t pid = processIdOf(process)) {
        kill(pid, signal);
    } else if (const int fd = descriptorOf(process); fd >= 0) {
        sendSignalThroughPidfd(fd, signal);
    }
}

} // namespace platform::posix

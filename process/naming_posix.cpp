#include "process/naming_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

// The system call numbers are the same on every architecture the launcher builds for; older
// C library headers may not name them yet.
#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace platform::posix {

namespace {

// waitid's id type for "the child named by a pidfd" (P_PIDFD, kernel 5.4), given by its
// kernel value: C libraries older than glibc 2.36 do not name it.
constexpr idtype_t kPidfdIdType = static_cast<idtype_t>(3);

// Pidfds need pidfd_open (Linux 5.3), pidfd_send_signal (5.1) and waitid's P_PIDFD (5.4). A
// seccomp profile may refuse any of them (ENOSYS, EPERM). The launcher's own process answers
// all three: signal 0 checks without sending anything, and waitid on a pidfd of a process
// that is not a child gives ECHILD where P_PIDFD is known.
bool pidfdsWork() {
    const long pidfd = syscall(SYS_pidfd_open, getpid(), 0);
    if (pidfd < 0) {
        return false;
    }
    siginfo_t info{};
    const bool usable =
        sendSignalThroughPidfd(static_cast<int>(pidfd), 0) == 0 &&
        (waitid(kPidfdIdType, static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG) == 0 ||
         errno == ECHILD);
    close(static_cast<int>(pidfd));
    return usable;
}

} // namespace

std::unique_ptr<Naming> chooseNaming() {
    return pidfdsWork() ? pidfdNaming() : processIdNaming();
}

int placeHandle(int fd) {
    if (fd < 0) {
        return -1;
    }
    const int placed = fcntl(fd, F_DUPFD_CLOEXEC, kFirstHandleNumber);
    const int error = errno;
    close(fd);
    errno = error;
    return placed;
}

void waitReadable(int fd) {
    if (fd < 0) {
        return;
    }
    pollfd entry{};
    entry.fd = fd;
    entry.events = POLLIN;
    while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
}

int sendSignalThroughPidfd(int pidfd, int signal) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

int openPidfd(pid_t pid) {
    return placeHandle(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
}

} // namespace platform::posix

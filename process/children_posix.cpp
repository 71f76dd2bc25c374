#include "process/children_posix.h"

#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace platform::posix {

namespace {

// Whether the child has ended (or names no child of this process), without reaping it.
bool hasEnded(pid_t child) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
           info.si_pid != 0;
}

// Reaps the ended children that are neither the VM nor the monitor. waitid without
// WNOWAIT would take the VM's status too; with it, the first ended child is only looked at.
void reapOrphans(pid_t vm, pid_t monitor) {
    for (;;) {
        siginfo_t info{};
        if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0 ||
            info.si_pid == vm || info.si_pid == monitor) {
            return;
        }
        waitid(P_PID, static_cast<id_t>(info.si_pid), &info, WEXITED);
    }
}

} // namespace

int waitForVm(pid_t vm, pid_t monitor) {
    const bool adoptsOrphans = getpid() == 1;
    // Looked at whenever a child has ended. SIGCHLD is blocked before the first look, so
    // that none is missed; blocked, it waits although its action is the default, to ignore
    // it.
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &childSignal, &previous);
    int error = 0;
    bool monitorEnded = false;
    for (;;) {
        if (adoptsOrphans) {
            reapOrphans(vm, monitor);
        }
        if (hasEnded(vm)) {
            break;
        }
        if (!monitorEnded && hasEnded(monitor)) {
            endChild(vm);
            monitorEnded = true;
        } else if (sigwaitinfo(&childSignal, nullptr) < 0 && errno != EINTR) {
            error = errno;
            break;
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return error;
}

void endChild(pid_t child) {
    kill(child, SIGKILL);
}

ChildEnd reapChild(pid_t child) {
    siginfo_t info{};
    int result = 0;
    do {
        result = waitid(P_PID, static_cast<id_t>(child), &info, WEXITED);
    } while (result < 0 && errno == EINTR);
    ChildEnd end;
    if (result < 0) {
        end.error = errno;
    } else if (info.si_code == CLD_EXITED) {
        end.exitCode = info.si_status;
    } else {
        end.signal = info.si_status;
    }
    return end;
}

} // namespace platform::posix

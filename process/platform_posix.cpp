// The process layer on Linux: programs start with posix_spawn, and processes are named by
// pidfds, which - unlike process ids - cannot come to name another process once the first
// has ended and been reaped. A pidfd is a file descriptor, so a child inherits it under the
// same number when close-on-exec is off; the monitor relies on that.
#include "process/platform.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "process/split_command_line.h"

// The system call numbers are the same on every architecture the launcher builds for; older
// C library headers may not name them yet.
#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace platform {

namespace {

// waitid's id type for "the child named by a pidfd" (P_PIDFD, kernel 5.4), given by its
// kernel value: C libraries older than glibc 2.36 do not name it.
constexpr idtype_t kPidfdIdType = static_cast<idtype_t>(3);

// The error code of a start that needs pidfds where the kernel has none (pidfd_open failed
// with ENOSYS). It lies above every errno value, so errorText can tell it apart.
constexpr unsigned long kNoPidfdSupport = 0x10000;

// Descriptors 0 to 2 are replaced by /dev/null in the monitor, so a pidfd there would not
// reach it; they are only free when the launcher was started with a standard stream closed.
constexpr int kFirstPidfdNumber = 3;

StartResult startedAs(int pidfd) {
    StartResult result;
    result.started = true;
    result.process = ProcessHandle(pidfd);
    return result;
}

StartResult failedWith(unsigned long error) {
    StartResult result;
    result.error = error;
    return result;
}

// The words as the NULL-terminated array that exec takes; valid while `words` lives.
std::vector<char*> argvOf(std::vector<std::string>& words) {
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// The pidfd as a descriptor numbered 3 or higher, inheritable or close-on-exec; -1 with errno
// set when that fails (the pidfd is then closed).
int placePidfd(int pidfd, bool inheritable) {
    int placed = pidfd;
    if (pidfd < kFirstPidfdNumber) {
        placed = fcntl(pidfd, inheritable ? F_DUPFD : F_DUPFD_CLOEXEC, kFirstPidfdNumber);
        const int error = errno;
        close(pidfd);
        errno = error;
        return placed;
    }
    if (inheritable && fcntl(placed, F_SETFD, 0) != 0) {
        const int error = errno;
        close(placed);
        errno = error;
        return -1;
    }
    return placed;
}

// A pidfd for the process, see placePidfd. pidfd_open always sets close-on-exec.
int openPidfd(pid_t pid, bool inheritable) {
    const long pidfd = syscall(SYS_pidfd_open, pid, 0);
    if (pidfd < 0) {
        return -1;
    }
    return placePidfd(static_cast<int>(pidfd), inheritable);
}

// Ends a child that has just been started, when it cannot be supervised, and reaps it.
void discardChild(pid_t pid) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// The start result for a spawned child: its pidfd, or the child ended and the error.
StartResult superviseChild(pid_t pid, bool inheritable) {
    const int pidfd = openPidfd(pid, inheritable);
    if (pidfd < 0) {
        const int error = errno;
        discardChild(pid);
        return failedWith(error == ENOSYS ? kNoPidfdSupport : static_cast<unsigned long>(error));
    }
    return startedAs(pidfd);
}

// The descriptor number a handle stands for, or -1 when it cannot be one.
int descriptorOf(ProcessHandle process) {
    const std::intptr_t value = process.value();
    return value >= 0 && value <= INT_MAX ? static_cast<int>(value) : -1;
}

int sendSignal(int pidfd, int signal) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

// True when the descriptor is a pidfd: signal 0 checks the target without sending anything,
// and only a descriptor that is no pidfd (or none at all) gives EBADF.
bool isPidfd(int fd) {
    return sendSignal(fd, 0) == 0 || errno != EBADF;
}

// Termination requests that reach the launcher go on to the VM, so that the tool can shut
// down cleanly, and the launcher keeps waiting for it: SIGTERM (kill, timeout, a CI runner,
// docker stop, systemd) and SIGHUP (a hang-up of the terminal). The handler only reads an
// atomic and makes one system call, both safe in a signal handler.
constexpr std::array<int, 2> kForwardedSignals = {SIGTERM, SIGHUP};

// The VM's pidfd once it runs; -1 before.
std::atomic<int> forwardingTarget{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

extern "C" void forwardToVm(int signal) {
    const int savedErrno = errno;
    const int pidfd = forwardingTarget.load();
    if (pidfd >= 0) {
        sendSignal(pidfd, signal);
    }
    errno = savedErrno;
}

// Sets up the forwarding around the VM's start. The forwarded signals stay blocked from
// before the VM's process exists until its pidfd is known: one that arrives meanwhile waits
// and is passed on then. A signal the launcher was started with ignored (nohup) stays
// ignored, in the launcher and in the VM.
class TerminationForwarding {
  public:
    // In the launcher, before the VM's start; no other thread runs yet.
    TerminationForwarding() {
        sigset_t blocked;
        sigemptyset(&blocked);
        for (const int signal : kForwardedSignals) {
            sigaddset(&blocked, signal);
        }
        pthread_sigmask(SIG_BLOCK, &blocked, &previousMask_);
        struct sigaction action {};
        action.sa_handler = forwardToVm;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kForwardedSignals.size(); ++i) {
            struct sigaction previous {};
            sigaction(kForwardedSignals[i], nullptr, &previous);
            installed_[i] = previous.sa_handler != SIG_IGN &&
                            sigaction(kForwardedSignals[i], &action, nullptr) == 0;
        }
    }

    // In the child between vfork and exec: the VM starts with the launcher's own signal
    // mask and the signals at their defaults, and a signal for it until the exec ends it.
    void resetInChild() const { restore(); }

    // The VM runs: forwarding starts, and a signal held back meanwhile goes to it now.
    void start(int vmPidfd) {
        forwardingTarget.store(vmPidfd);
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }

    // The VM did not start: everything as before, so that a signal held back meanwhile
    // ends the launcher as it would have.
    void abandon() const { restore(); }

  private:
    void restore() const {
        for (std::size_t i = 0; i < kForwardedSignals.size(); ++i) {
            if (installed_[i]) {
                signal(kForwardedSignals[i], SIG_DFL);
            }
        }
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }

    sigset_t previousMask_{};
    std::array<bool, kForwardedSignals.size()> installed_{};
};

struct ThreadStart {
    void (*function)(void*);
    void* argument;
};

void* runThread(void* start) {
    const ThreadStart call = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    call.function(call.argument);
    return nullptr;
}

// The files that a search like execvp's tries for a program: the name itself when it holds
// a '/', otherwise the name in each PATH entry in order (an empty entry is the current
// directory). Built before the VM's process exists, so that the child allocates nothing.
std::vector<std::string> programCandidates(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return {name};
    }
    std::vector<std::string> candidates;
    if (name.empty()) {
        return candidates;
    }
    const char* path = std::getenv("PATH");
    const std::string entries = path != nullptr ? path : "/bin:/usr/bin";
    std::size_t start = 0;
    while (start <= entries.size()) {
        std::size_t end = entries.find(':', start);
        if (end == std::string::npos) {
            end = entries.size();
        }
        std::string candidate = end > start ? entries.substr(start, end - start) : ".";
        candidate += '/';
        candidate += name;
        candidates.push_back(std::move(candidate));
        start = end + 1;
    }
    return candidates;
}

// Runs in the child between vfork and exec: tries each candidate in turn and returns the
// error to report when none could be run (EACCES when one was found but not executable).
int execFirst(char* const* paths, char* const* argv) {
    bool denied = false;
    for (; *paths != nullptr; ++paths) {
        execve(*paths, argv, environ);
        if (errno == EACCES) {
            denied = true;
        } else if (errno != ENOENT && errno != ENOTDIR) {
            return errno;
        }
    }
    return denied ? EACCES : ENOENT;
}

// Closes the spawn attributes and file actions however startMonitor leaves.
struct MonitorSpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    MonitorSpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~MonitorSpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    MonitorSpawnSetup(const MonitorSpawnSetup&) = delete;
    MonitorSpawnSetup& operator=(const MonitorSpawnSetup&) = delete;
};

} // namespace

StartResult startVm(const std::string& commandLine) {
    // A SIGCHLD ignored by whoever started the launcher would have the VM reaped by the
    // kernel, and its exit status lost, before exitCodeOf asks for it.
    signal(SIGCHLD, SIG_DFL);
    std::vector<std::string> words = splitCommandLine(commandLine);
    std::vector<char*> argv = argvOf(words);
    std::vector<std::string> candidates = programCandidates(words.front());
    std::vector<char*> paths = argvOf(candidates);
    const pid_t launcher = getpid();
    TerminationForwarding forwarding;
    // Written by the child before it gives up; the parent is suspended until then.
    volatile int execError = 0;
    // vfork: the child only resets its signals, sets its parent-death signal and calls
    // execve, so it runs no launcher code, and its failure reaches the parent through
    // execError. The VM starts before any pidfd is open and so inherits none.
    const pid_t pid = vfork();
    if (pid == 0) {
        forwarding.resetInChild();
        // Until the monitor holds the VM, nothing else would end it if the launcher were
        // killed; the kernel does, from the first instruction on.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != launcher) {
            _exit(127);
        }
        execError = execFirst(paths.data(), argv.data());
        _exit(127);
    }
    if (pid < 0) {
        const int error = errno;
        forwarding.abandon();
        return failedWith(static_cast<unsigned long>(error));
    }
    if (execError != 0) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        forwarding.abandon();
        return failedWith(static_cast<unsigned long>(execError));
    }
    const StartResult result = superviseChild(pid, true);
    if (result.started) {
        forwarding.start(static_cast<int>(result.process.value()));
    } else {
        forwarding.abandon();
    }
    return result;
}

StartResult startMonitor(const std::string& commandLine) {
    std::vector<std::string> words = splitCommandLine(commandLine);
    std::vector<char*> argv = argvOf(words);
    MonitorSpawnSetup setup;
    // Its own session and no terminal: an interrupt or hangup on the launcher's terminal
    // never reaches the monitor.
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    // The program is this executable itself, whatever argv[0] says: a bare name would be
    // looked up on PATH and a relative one in the current directory, either of which can
    // name another file than the one running. argv[0] stays the name the launcher got.
    const int error = posix_spawn(&pid, "/proc/self/exe", &setup.actions, &setup.attributes,
                                  argv.data(), environ);
    if (error != 0) {
        return failedWith(static_cast<unsigned long>(error));
    }
    return superviseChild(pid, false);
}

ProcessHandle openOwnProcess() {
    const int pidfd = openPidfd(getpid(), true);
    return pidfd < 0 ? ProcessHandle() : ProcessHandle(pidfd);
}

void waitForExit(ProcessHandle process) {
    // poll() skips negative descriptors and would wait forever; a descriptor that is no
    // pidfd (a standard stream, say) could keep it waiting for input.
    const int fd = descriptorOf(process);
    if (fd < 0 || !isPidfd(fd)) {
        return;
    }
    pollfd entry{};
    entry.fd = fd;
    entry.events = POLLIN;
    while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
}

int exitCodeOf(ProcessHandle process) {
    // 1 when the status cannot be had, as a failure the launcher cannot describe better.
    const int fd = descriptorOf(process);
    if (fd < 0) {
        return 1;
    }
    siginfo_t info{};
    int result = -1;
    do {
        result = waitid(kPidfdIdType, static_cast<id_t>(fd), &info, WEXITED);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        return 1;
    }
    return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

void terminate(ProcessHandle process) {
    // Harmless for an ended process: a reaped one gives ESRCH, and a pidfd never names
    // another process later.
    const int fd = descriptorOf(process);
    if (fd >= 0) {
        sendSignal(fd, SIGKILL);
    }
}

bool mustAwaitMonitorStart() {
    return false;
}

bool startThread(void (*function)(void*), void* argument) {
    // The watcher allocates a little; sharing the main arena spares it the creation of a
    // 64 MiB arena of its own on the way to starting the monitor.
    mallopt(M_ARENA_MAX, 1);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    auto* start = new ThreadStart{function, argument};
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, runThread, start) == 0;
    if (!started) {
        delete start;
    }
    pthread_attr_destroy(&attributes);
    return started;
}

std::string errorText(unsigned long code, const std::string& /*insert*/) {
    if (code == kNoPidfdSupport) {
        return "this system offers no process file descriptors (pidfd_open, Linux 5.3 and "
               "later), which are needed to supervise the VM";
    }
    if (code > static_cast<unsigned long>(INT_MAX)) {
        return "error " + std::to_string(code);
    }
    return std::strerror(static_cast<int>(code));
}

} // namespace platform

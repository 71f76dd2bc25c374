// The process layer on Linux: programs start with posix_spawn and vfork, and processes are
// named by pidfds, which - unlike process ids - cannot come to name another process once the
// first has ended and been reaped. Where the kernel has no pidfds (before 5.4, or a seccomp
// profile that refuses them), processes are named by their ids, with the same guarantees:
// - the VM and the monitor are the launcher's children, and a child's id names it until its
//   parent reaps it. The launcher waits for them without reaping (WNOWAIT), signals an id
//   only after checking under a lock that it is still an unreaped child of its own, and
//   reaps the VM under that lock, after it has stopped passing signals on to it;
// - the VM has SIGKILL as its parent-death signal, so the kernel ends it with the launcher;
// - the monitor learns of the launcher's end from a pipe whose write end only the launcher
//   holds, and signals no process: the VM is not its child, so its id could name another
//   process by the time the monitor would act.
// Handles travel to the monitor as descriptor numbers, which it inherits under the same
// numbers; every other descriptor of the launcher's own is close-on-exec.
#include "process/platform.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "process/descriptors_posix.h"
#include "process/handle_posix.h"
#include "process/split_command_line.h"
#include "process/stop_signals_posix.h"

namespace platform {

namespace {

using posix::descriptorOf;
using posix::handleForProcessId;
using posix::processIdOf;

// waitid's id type for "the child named by a pidfd" (P_PIDFD, kernel 5.4), given by its
// kernel value: C libraries older than glibc 2.36 do not name it.
constexpr idtype_t kPidfdIdType = static_cast<idtype_t>(3);

// Error codes of the launcher's own, above every errno value, so errorText can tell them
// apart.
constexpr unsigned long kOwnFileUnknown = 0x10001;

ProcessResult succeeded(ProcessHandle process) {
    ProcessResult result;
    result.ok = true;
    result.process = process;
    return result;
}

ProcessResult failedWith(unsigned long error) {
    ProcessResult result;
    result.error = error;
    return result;
}

// ---- How processes are named, decided once per run ----

enum class Naming { Pidfd, ProcessId };

// Pidfds need pidfd_open (Linux 5.3) and waitid's P_PIDFD (5.4). A seccomp profile may
// refuse either (ENOSYS, EPERM). The launcher's own process answers both questions: waitid
// on a pidfd of a process that is not a child gives ECHILD where P_PIDFD is known.
Naming probeNaming() {
    const long pidfd = syscall(SYS_pidfd_open, getpid(), 0);
    if (pidfd < 0) {
        return Naming::ProcessId;
    }
    siginfo_t info{};
    const bool waitable =
        waitid(kPidfdIdType, static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG) == 0 ||
        errno == ECHILD;
    close(static_cast<int>(pidfd));
    return waitable ? Naming::Pidfd : Naming::ProcessId;
}

Naming naming() {
    static const Naming decided = probeNaming();
    return decided;
}

// ---- Descriptors ----

// The descriptor as one numbered kFirstHandleNumber or higher, close-on-exec; -1 with errno
// set when that fails (the descriptor is then closed).
int placeHandle(int fd) {
    if (fd < 0) {
        return -1;
    }
    const int placed = fcntl(fd, F_DUPFD_CLOEXEC, posix::kFirstHandleNumber);
    const int error = errno;
    close(fd);
    errno = error;
    return placed;
}

// A pidfd for the process; pidfd_open always sets close-on-exec.
int openPidfd(pid_t pid) {
    return placeHandle(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
}

bool isPipe(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode);
}

// True when the descriptor is a pidfd: signal 0 checks the target without sending anything,
// and a descriptor that is no pidfd (or none at all, or where there are no pidfds) gives
// another error.
bool isPidfd(int fd) {
    return posix::sendSignalThroughPidfd(fd, 0) == 0 || errno == ESRCH || errno == EPERM;
}

// ---- Children named by their ids ----

// Held while a child named by its id is signalled or reaped, so that no id is signalled
// once it may have been reaped.
std::mutex reaping;

// True when pid is a child of this process that has not been reaped (it may have ended).
bool isUnreapedChild(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

// ---- Starting ----

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

// Ends a child that has just been started, when it cannot be supervised, and reaps it.
void discardChild(pid_t pid) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// The handle for a child just started: its pidfd, or its id where there are no pidfds. When
// no pidfd can be had, the child is ended and the error returned.
ProcessResult superviseChild(pid_t pid) {
    if (naming() == Naming::ProcessId) {
        return succeeded(handleForProcessId(pid));
    }
    const int pidfd = openPidfd(pid);
    if (pidfd < 0) {
        const int error = errno;
        discardChild(pid);
        return failedWith(static_cast<unsigned long>(error));
    }
    return succeeded(ProcessHandle(pidfd));
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

// The file the monitor is started from: this executable itself, whatever argv[0] says (a
// bare name would be looked up on PATH and a relative one in the current directory, either
// of which can name another file than the one running). /proc/self/exe names it; where /proc
// is not mounted, the path this program was started from does (relative to the current
// directory, which the launcher never changes). Empty when neither can be run.
const std::string& monitorProgram() {
    static const std::string program = [] {
        if (access("/proc/self/exe", X_OK) == 0) {
            return std::string("/proc/self/exe");
        }
        // getauxval gives the path's address as a number.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        const auto* startedFrom = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
        struct stat info {};
        if (startedFrom != nullptr && stat(startedFrom, &info) == 0 && S_ISREG(info.st_mode) &&
            access(startedFrom, X_OK) == 0) {
            return std::string(startedFrom);
        }
        return std::string();
    }();
    return program;
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

} // namespace

ProcessResult openOwnProcess() {
    if (monitorProgram().empty()) {
        return failedWith(kOwnFileUnknown);
    }
    if (naming() == Naming::Pidfd) {
        const int pidfd = openPidfd(getpid());
        return pidfd < 0 ? failedWith(static_cast<unsigned long>(errno))
                         : succeeded(ProcessHandle(pidfd));
    }
    // The monitor waits for the end of this pipe: its write end closes when the launcher
    // ends, however it ends, as nothing else holds it (close-on-exec keeps it from the VM and
    // the monitor).
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return failedWith(static_cast<unsigned long>(errno));
    }
    const int readEnd = placeHandle(ends[0]);
    return readEnd < 0 ? failedWith(static_cast<unsigned long>(errno))
                       : succeeded(ProcessHandle(readEnd));
}

ProcessResult startVm(const std::string& commandLine) {
    // A SIGCHLD ignored by whoever started the launcher would have the VM reaped by the
    // kernel, and its exit status lost, before exitCodeOf asks for it.
    signal(SIGCHLD, SIG_DFL);
    std::vector<std::string> words = splitCommandLine(commandLine);
    std::vector<char*> argv = argvOf(words);
    std::vector<std::string> candidates = programCandidates(words.front());
    std::vector<char*> paths = argvOf(candidates);
    const pid_t launcher = getpid();
    posix::StopSignals stopSignals;
    // Written by the child before it gives up; the parent is suspended until then.
    volatile int execError = 0;
    // vfork: the child only resets its signals, sets its parent-death signal and calls
    // execve, so it runs no launcher code, and its failure reaches the parent through
    // execError.
    const pid_t pid = vfork();
    if (pid == 0) {
        stopSignals.resetInChild();
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
        stopSignals.abandon();
        return failedWith(static_cast<unsigned long>(error));
    }
    if (execError != 0) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        stopSignals.abandon();
        return failedWith(static_cast<unsigned long>(execError));
    }
    const ProcessResult result = superviseChild(pid);
    if (result.ok) {
        stopSignals.start(result.process);
    } else {
        stopSignals.abandon();
    }
    return result;
}

ProcessResult startMonitor(const std::string& commandLine, ProcessHandle launcher,
                           ProcessHandle vm) {
    std::vector<std::string> words = splitCommandLine(commandLine);
    std::vector<char*> argv = argvOf(words);
    MonitorSpawnSetup setup;
    // Its own session and no terminal: an interrupt or hangup on the launcher's terminal
    // never reaches the monitor. It starts with the stop signals blocked and ignores them
    // before it unblocks them, so that a stop sent to every process of the run never ends it.
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    const sigset_t blocked = posix::stopSignalSet();
    posix_spawnattr_setsigmask(&setup.attributes, &blocked);
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
    // A descriptor duplicated onto itself loses close-on-exec: the two handles, and nothing
    // else of the launcher's, reach the monitor.
    for (const ProcessHandle handle : {launcher, vm}) {
        if (const int fd = descriptorOf(handle); fd >= 0) {
            posix_spawn_file_actions_adddup2(&setup.actions, fd, fd);
        }
    }
    pid_t pid = 0;
    // argv[0] stays the name the launcher got.
    const int error = posix_spawn(&pid, monitorProgram().c_str(), &setup.actions, &setup.attributes,
                                  argv.data(), environ);
    if (error != 0) {
        return failedWith(static_cast<unsigned long>(error));
    }
    return superviseChild(pid);
}

void enterMonitorMode(ProcessHandle launcher, ProcessHandle vm) {
    posix::ignoreStopSignals();
    posix::closeDescriptorsBut(descriptorOf(launcher), descriptorOf(vm));
}

void waitForExit(ProcessHandle process) {
    if (const pid_t pid = processIdOf(process)) {
        // Not reaped, so that the id keeps naming the child; fails at once for a process
        // that is no child of this one.
        siginfo_t info{};
        while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 &&
               errno == EINTR) {
        }
        return;
    }
    // poll() skips negative descriptors and would wait forever; a descriptor that is neither
    // a pidfd nor the launcher's pipe could keep it waiting for input. A pidfd becomes
    // readable when its process ends, the pipe when its write end closes.
    const int fd = descriptorOf(process);
    if (fd < 0 || (!isPipe(fd) && !isPidfd(fd))) {
        return;
    }
    pollfd entry{};
    entry.fd = fd;
    entry.events = POLLIN;
    while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
}

bool hasEnded(ProcessHandle process) {
    if (const pid_t pid = processIdOf(process)) {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
               info.si_pid != 0;
    }
    const int fd = descriptorOf(process);
    if (fd < 0) {
        return true;
    }
    pollfd entry{};
    entry.fd = fd;
    entry.events = POLLIN;
    return poll(&entry, 1, 0) != 0;
}

int exitCodeOf(ProcessHandle process) {
    // 1 when the status cannot be had, as a failure the launcher cannot describe better.
    posix::stopPassingSignalsOn();
    siginfo_t info{};
    int result = -1;
    if (const pid_t pid = processIdOf(process)) {
        const std::lock_guard<std::mutex> lock(reaping);
        do {
            result = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED);
        } while (result < 0 && errno == EINTR);
    } else if (const int fd = descriptorOf(process); fd >= 0) {
        do {
            result = waitid(kPidfdIdType, static_cast<id_t>(fd), &info, WEXITED);
        } while (result < 0 && errno == EINTR);
    }
    if (result < 0) {
        return 1;
    }
    return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

void terminate(ProcessHandle process) {
    if (const pid_t pid = processIdOf(process)) {
        const std::lock_guard<std::mutex> lock(reaping);
        if (isUnreapedChild(pid)) {
            kill(pid, SIGKILL);
        }
        return;
    }
    // Harmless for an ended process: a reaped one gives ESRCH, and a pidfd never names
    // another process later.
    if (const int fd = descriptorOf(process); fd >= 0) {
        posix::sendSignalThroughPidfd(fd, SIGKILL);
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
    // The new thread inherits a mask that blocks every signal, so that signals are handled
    // on the main thread only (see stopPassingSignalsOn).
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, runThread, start) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!started) {
        delete start;
    }
    pthread_attr_destroy(&attributes);
    return started;
}

std::string errorText(unsigned long code, const std::string& /*insert*/) {
    if (code == kOwnFileUnknown) {
        return "this program's own file cannot be found to start the monitor from (/proc is "
               "not mounted, and the path the program was started from names no file that "
               "can be run)";
    }
    if (code > static_cast<unsigned long>(INT_MAX)) {
        return "error " + std::to_string(code);
    }
    return std::strerror(static_cast<int>(code));
}

} // namespace platform

// The process layer on Linux: the VM starts with vfork and exec, the monitor is a fork of the
// launcher, and processes are named by pidfds, which - unlike process ids - cannot come to
// name another process once the first has ended and been reaped. Where the kernel has no
// pidfds (before 5.4, or a seccomp profile that refuses one of the calls), processes are
// named by their ids, with the same guarantees:
// - the VM and the monitor are the launcher's children, and a child's id names it until its
//   parent reaps it. The launcher waits for them without reaping (WNOWAIT), signals an id
//   only after checking under a lock that it is still an unreaped child of its own, and
//   reaps the VM under that lock, after it has stopped passing signals on to it;
// - the VM has SIGKILL as its parent-death signal, so the kernel ends it with the launcher;
// - the monitor learns of the launcher's end from a pipe whose write end only the launcher
//   holds. The VM is not its child, so that its id could name another process by the time
//   the monitor acts: it ends the VM only where the launcher ended before it had the VM's end
//   in hand, and only while the id names a process started when the VM was (for a VM whose
//   exec cleared its parent-death signal: a setuid, setgid or file-capability java).
// Every descriptor of the launcher's own is close-on-exec; the monitor closes all but its two
// handles.
#include "process/platform.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
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

// Pidfds need pidfd_open (Linux 5.3), pidfd_send_signal (5.1) and waitid's P_PIDFD (5.4). A
// seccomp profile may refuse any of them (ENOSYS, EPERM). The launcher's own process answers
// all three: signal 0 checks without sending anything, and waitid on a pidfd of a process
// that is not a child gives ECHILD where P_PIDFD is known.
Naming probeNaming() {
    const long pidfd = syscall(SYS_pidfd_open, getpid(), 0);
    if (pidfd < 0) {
        return Naming::ProcessId;
    }
    siginfo_t info{};
    const bool usable =
        posix::sendSignalThroughPidfd(static_cast<int>(pidfd), 0) == 0 &&
        (waitid(kPidfdIdType, static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG) == 0 ||
         errno == ECHILD);
    close(static_cast<int>(pidfd));
    return usable ? Naming::Pidfd : Naming::ProcessId;
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

// ---- The VM ----

// The VM's start time (field 22 of /proc/<pid>/stat, in clock ticks since boot) where
// processes are named by their ids, read while the VM is the launcher's unreaped child; 0
// where it cannot be read (no /proc). The forked monitor keeps a copy.
unsigned long long vmStartTime = 0;

// The write end of the pipe that stands for the launcher where processes are named by their
// ids; -1 elsewhere.
int launcherPipeWriteEnd = -1;

unsigned long long startTimeOf(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    std::array<char, 1024> text{};
    const ssize_t length = read(fd, text.data(), text.size() - 1);
    close(fd);
    if (length <= 0) {
        return 0;
    }
    // The command name in parentheses may hold anything; the fields follow the last ')',
    // the state (field 3) first.
    const char* field = std::strrchr(text.data(), ')');
    for (int number = 2; field != nullptr && number < 22; ++number) {
        field = std::strchr(field + 1, ' ');
    }
    return field != nullptr ? std::strtoull(field + 1, nullptr, 10) : 0;
}

// ---- The monitor ----

// This process's name with "-mon" added, within the 15 characters a name holds.
void nameMonitor() {
    std::array<char, 17> name{};
    prctl(PR_GET_NAME, name.data());
    constexpr std::size_t kKept = 15 - 4;
    std::string monitorName(name.data(), strnlen(name.data(), kKept));
    monitorName += "-mon";
    prctl(PR_SET_NAME, monitorName.c_str());
}

// /dev/null on the standard streams; closed where there is no /dev/null.
void standardStreamsOnDevNull() {
    const int null = open("/dev/null", O_RDWR);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (null < 0) {
            close(fd);
        } else if (null != fd) {
            dup2(null, fd);
        }
    }
    if (null > STDERR_FILENO) {
        close(null);
    }
}

// Ends the VM once the launcher has ended. A VM named by its id is not the monitor's child:
// it is signalled only where the launcher ended before it had the VM's end in hand (then it
// writes a byte into the pipe), and only while its id names a process started when the VM
// was.
void endVmFromMonitor(ProcessHandle launcher, ProcessHandle vm) {
    if (const pid_t pid = processIdOf(vm)) {
        char byte = 0;
        if (read(descriptorOf(launcher), &byte, 1) != 1 && vmStartTime != 0 &&
            startTimeOf(pid) == vmStartTime) {
            kill(pid, SIGKILL);
        }
        return;
    }
    terminate(vm);
}

// The forked monitor, as a monitor started by hand has itself: a session of its own with no
// terminal (an interrupt or hang-up on the launcher's never reaches it), named apart from
// the launcher, the stop signals ignored (a stop sent to every process of the run never ends
// it) and no other signal blocked, /dev/null on the standard streams and no descriptor but
// its two handles. It came with the stop signals blocked, so that the launcher's handler,
// which would pass them on to the VM, never runs here.
[[noreturn]] void runForkedMonitor(ProcessHandle launcher, ProcessHandle vm) {
    setsid();
    nameMonitor();
    enterMonitorMode(launcher, vm);
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    standardStreamsOnDevNull();
    waitForExit(launcher);
    endVmFromMonitor(launcher, vm);
    _exit(0);
}

} // namespace

ProcessResult openOwnProcess() {
    if (naming() == Naming::Pidfd) {
        const int pidfd = openPidfd(getpid());
        return pidfd < 0 ? failedWith(static_cast<unsigned long>(errno))
                         : succeeded(ProcessHandle(pidfd));
    }
    // The monitor waits for the end of this pipe: its write end closes when the launcher
    // ends, however it ends, as nothing else holds it (close-on-exec keeps it from the VM,
    // and the monitor closes it).
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return failedWith(static_cast<unsigned long>(errno));
    }
    launcherPipeWriteEnd = ends[1];
    const int readEnd = placeHandle(ends[0]);
    return readEnd < 0 ? failedWith(static_cast<unsigned long>(errno))
                       : succeeded(ProcessHandle(readEnd));
}

ProcessResult startVm(const std::string& commandLine) {
    // A SIGCHLD ignored by whoever started the launcher would have the VM reaped by the
    // kernel, and its exit status lost, before endOf asks for it. The VM gets it ignored
    // again, as it would have after an exec.
    struct sigaction childSignal {};
    childSignal.sa_handler = SIG_DFL;
    struct sigaction callers {};
    sigaction(SIGCHLD, &childSignal, &callers);
    const bool childSignalIgnored = callers.sa_handler == SIG_IGN;
    std::vector<std::string> words = splitCommandLine(commandLine);
    std::vector<char*> argv = argvOf(words);
    std::vector<std::string> candidates = programCandidates(words.front());
    std::vector<char*> paths = argvOf(candidates);
    const pid_t launcher = getpid();
    posix::StopSignals stopSignals;
    // Written by the child before it gives up; the parent is suspended until then.
    volatile int execError = 0;
    stopSignals.takePending();
    // vfork: the child only resets its signals, sets its parent-death signal and calls
    // execve, so it runs no launcher code, and its failure reaches the parent through
    // execError.
    const pid_t pid = vfork();
    if (pid == 0) {
        stopSignals.resetInChild();
        if (childSignalIgnored) {
            signal(SIGCHLD, SIG_IGN);
        }
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
    if (!result.ok) {
        stopSignals.abandon();
        return result;
    }
    if (naming() == Naming::ProcessId) {
        vmStartTime = startTimeOf(pid);
    }
    stopSignals.start(result.process);
    return result;
}

bool forksMonitor() {
    return true;
}

ProcessResult startMonitor(const std::string& /*commandLine*/, ProcessHandle launcher,
                           ProcessHandle vm) {
    // Blocked until the new process ignores them; then again as they were here.
    const sigset_t stopSignals = posix::stopSignalSet();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    const pid_t pid = fork();
    if (pid == 0) {
        runForkedMonitor(launcher, vm);
    }
    const int error = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) {
        return failedWith(static_cast<unsigned long>(error));
    }
    return superviseChild(pid);
}

void enterMonitorMode(ProcessHandle launcher, ProcessHandle vm) {
    posix::ignoreStopSignals();
    posix::closeDescriptorsBut(descriptorOf(launcher), descriptorOf(vm));
}

unsigned long waitForExit(ProcessHandle process) {
    if (const pid_t pid = processIdOf(process)) {
        // Not reaped, so that the id keeps naming the child; fails at once for a process
        // that is no child of this one.
        siginfo_t info{};
        int result = 0;
        do {
            result = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
        } while (result < 0 && errno == EINTR);
        return result < 0 ? static_cast<unsigned long>(errno) : 0;
    }
    // poll() skips negative descriptors and would wait forever; a descriptor that is neither
    // a pidfd nor the launcher's pipe could keep it waiting for input. A pidfd becomes
    // readable when its process ends, the pipe when its write end closes.
    const int fd = descriptorOf(process);
    if (fd < 0 || (!isPipe(fd) && !isPidfd(fd))) {
        return 0;
    }
    pollfd entry{};
    entry.fd = fd;
    entry.events = POLLIN;
    int result = 0;
    do {
        result = poll(&entry, 1, -1);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? static_cast<unsigned long>(errno) : 0;
}

unsigned long waitForVm(ProcessHandle vm, ProcessHandle monitor) {
    if (processIdOf(vm) != 0) {
        // Children named by their ids: looked at whenever a child has ended. SIGCHLD is
        // blocked before the first look, so that none is missed; blocked, it waits although
        // its action is the default, to ignore it.
        sigset_t childSignal;
        sigemptyset(&childSignal);
        sigaddset(&childSignal, SIGCHLD);
        sigset_t previous;
        pthread_sigmask(SIG_BLOCK, &childSignal, &previous);
        unsigned long error = 0;
        bool monitorEnded = false;
        while (!hasEnded(vm)) {
            if (!monitorEnded && hasEnded(monitor)) {
                terminate(vm);
                monitorEnded = true;
            } else if (sigwaitinfo(&childSignal, nullptr) < 0 && errno != EINTR) {
                error = static_cast<unsigned long>(errno);
                break;
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return error;
    }
    // A monitor that has ended is not polled again (a negative descriptor is skipped).
    std::array<pollfd, 2> entries{};
    entries[0].fd = descriptorOf(vm);
    entries[1].fd = descriptorOf(monitor);
    for (pollfd& entry : entries) {
        entry.events = POLLIN;
    }
    for (;;) {
        if (poll(entries.data(), entries.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return static_cast<unsigned long>(errno);
        }
        if (entries[0].revents != 0) {
            return 0;
        }
        if (entries[1].revents != 0) {
            terminate(vm);
            entries[1].fd = -1;
        }
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

ProcessEnd endOf(ProcessHandle process) {
    posix::stopPassingSignalsOn();
    siginfo_t info{};
    int result = -1;
    errno = EBADF;
    if (const pid_t pid = processIdOf(process)) {
        // Once reaped, the VM's id may name another process: the monitor is told to leave it.
        if (launcherPipeWriteEnd >= 0) {
            // Should it fail, the monitor still checks the VM's start time.
            [[maybe_unused]] const ssize_t written = write(launcherPipeWriteEnd, "", 1);
        }
        const std::lock_guard<std::mutex> lock(reaping);
        do {
            result = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED);
        } while (result < 0 && errno == EINTR);
    } else if (const int fd = descriptorOf(process); fd >= 0) {
        do {
            result = waitid(kPidfdIdType, static_cast<id_t>(fd), &info, WEXITED);
        } while (result < 0 && errno == EINTR);
    }
    ProcessEnd end;
    if (result < 0) {
        end.error = static_cast<unsigned long>(errno);
        return end;
    }
    end.ok = true;
    if (info.si_code == CLD_EXITED) {
        end.exitCode = info.si_status;
    } else {
        end.signal = info.si_status;
    }
    return end;
}

void endBySignal(int signal) {
    // No core of the launcher beside the VM's: RLIMIT_CORE 0 for a core written to a file,
    // and not dumpable, which keeps a core handler that the kernel starts through a pipe
    // (systemd-coredump, apport) from being started at all.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    prctl(PR_SET_DUMPABLE, 0);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
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

bool startThread(void (* /*function*/)(void*), void* /*argument*/) {
    // Never asked for: the monitor is forked, and the main thread watches it (forksMonitor).
    return false;
}

std::string errorText(unsigned long code, const std::string& /*insert*/) {
    if (code > static_cast<unsigned long>(INT_MAX)) {
        return "error " + std::to_string(code);
    }
    return std::strerror(static_cast<int>(code));
}

} // namespace platform

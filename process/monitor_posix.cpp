// The monitor on Linux: forked by the launcher, or started by hand with "-monitor" and two
// pidfds it inherited. Either way the stop signals are ignored (a stop sent to every process
// of the run never ends it) and it keeps no descriptor but its two handles. A forked one also
// leaves the launcher's session for one of its own with no terminal (an interrupt or hang-up
// on the launcher's never reaches it) and gets /dev/null on its standard streams and no
// signal blocked, as a process started by hand would have them.
#include "process/monitor_posix.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "process/descriptors_posix.h"
#include "process/platform.h"
#include "process/stop_signals_posix.h"

namespace platform::posix {

namespace {

// This process's name with "-mon" added, within the 15 characters a name holds.
void nameMonitor() {
    std::array<char, 17> name{};
    prctl(PR_GET_NAME, name.data());
    constexpr std::size_t kKept = 15 - 4;
    std::string monitorName(name.data(), strnlen(name.data(), kKept));
    monitorName += "-mon";
    prctl(PR_SET_NAME, monitorName.c_str());
}

// Where the kernel finds this process's command line (/proc/<pid>/cmdline): its argv strings,
// one after another, from argv[0] up to the first string of its environment, or, where the
// environment is empty, up to the executable's name that the kernel puts after them. Empty
// where that cannot be told.
struct ArgumentArea {
    char* begin = nullptr;
    char* end = nullptr;
};

ArgumentArea argumentArea() {
    char* begin = program_invocation_name;
    char* end = environ != nullptr && environ[0] != nullptr
                    ? environ[0]
                    // NOLINTNEXTLINE(performance-no-int-to-ptr): an address the kernel gives
                    : reinterpret_cast<char*>(getauxval(AT_EXECFN));
    if (begin == nullptr || end == nullptr || end <= begin || end[-1] != '\0') {
        return {};
    }
    return {begin, end};
}

// Writes the words into the area, each with its NUL, as far as each fits whole, and zeros
// the rest. An area too small for "-monitor" after the launcher's name (its own argv[0]:
// started with a single short argument, or none) keeps the name alone: the launcher's
// arguments never show.
void writeArguments(const ArgumentArea& area, const std::vector<std::string>& words) {
    if (area.begin == nullptr) {
        return;
    }
    char* next = area.begin;
    for (const std::string& word : words) {
        if (word.size() + 1 > static_cast<std::size_t>(area.end - next)) {
            break;
        }
        std::memcpy(next, word.c_str(), word.size() + 1);
        next += word.size() + 1;
    }
    std::memset(next, 0, static_cast<std::size_t>(area.end - next));
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

// The forked monitor came with the stop signals blocked, so that the launcher's handler,
// which would pass them on to the VM, never runs here.
[[noreturn]] void runForkedMonitor(const Naming& naming, const std::string& launcherName) {
    setsid();
    nameMonitor();
    writeArguments(argumentArea(), {launcherName, "-monitor"});
    ignoreStopSignals();
    const std::array<int, 2> handles = naming.monitorHandles();
    closeDescriptorsBut(handles[0], handles[1]);
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    standardStreamsOnDevNull();
    naming.endVmWithLauncher();
    _exit(0);
}

// The descriptor a handle given by hand stands for, or -1 when it is none.
int descriptorOf(ProcessHandle handle) {
    const auto value = handle.value();
    return value >= kFirstHandleNumber && value <= INT_MAX ? static_cast<int>(value) : -1;
}

} // namespace

Started forkMonitor(const Naming& naming, const std::string& launcherName) {
    // Blocked until the new process ignores them; then again as they were here.
    const sigset_t stopSignals = stopSignalSet();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    Started monitor;
    monitor.pid = fork();
    if (monitor.pid == 0) {
        runForkedMonitor(naming, launcherName);
    }
    if (monitor.pid < 0) {
        monitor.error = errno;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return monitor;
}

} // namespace platform::posix

namespace platform {

void endVmWithLauncher(ProcessHandle launcher, ProcessHandle vm) {
    const int launcherPidfd = posix::descriptorOf(launcher);
    const int vmPidfd = posix::descriptorOf(vm);
    posix::ignoreStopSignals();
    posix::closeDescriptorsBut(launcherPidfd, vmPidfd);
    if (launcherPidfd < 0) {
        return;
    }
    posix::waitReadable(launcherPidfd);
    posix::sendSignalThroughPidfd(vmPidfd, SIGKILL);
}

} // namespace platform

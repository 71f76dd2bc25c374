#include "process/vm_start_posix.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "process/split_command_line.h"
#include "process/stop_signals_posix.h"

namespace platform::posix {

namespace {

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

void reap(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

Started startVm(const std::string& commandLine, Naming& naming) {
    // A SIGCHLD ignored by whoever started the launcher would have the VM reaped by the
    // kernel, and its exit status lost, before the launcher asks for it. The VM gets it
    // ignored again, as it would have after an exec.
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
    StopSignalsHeld held;
    // Written by the child before it gives up; the parent is suspended until then.
    volatile int execError = 0;
    StopSignalsTaken taken = std::move(held).takePending();
    // vfork: the child only resets its signals, sets its parent-death signal and calls
    // execve, so it runs no launcher code, and its failure reaches the parent through
    // execError.
    const pid_t pid = vfork();
    if (pid == 0) {
        taken.resetInChild();
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
    Started vm;
    if (pid < 0) {
        vm.error = errno;
    } else if (execError != 0) {
        reap(pid);
        vm.error = execError;
    } else if (const int error = naming.nameVm(pid); error != 0) {
        kill(pid, SIGKILL);
        reap(pid);
        vm.error = error;
    }
    if (vm.error != 0) {
        std::move(taken).abandon();
        return vm;
    }
    vm.pid = pid;
    std::move(taken).start(pid);
    return vm;
}

} // namespace platform::posix

#include "process/supervise.h"

#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <utility>

namespace {

// Failures of the launcher's own steps are reported on standard output, unlike
// configuration errors, and end with one line end, which standard output in text mode
// writes as CR LF on Windows.
[[noreturn]] void fail(const std::string& what, unsigned long code, const std::string& insert) {
    const std::string message = "\n" + what + " : " + platform::errorText(code, insert) + "\n";
    std::fwrite(message.data(), 1, message.size(), stdout);
    std::fflush(stdout);
    std::exit(1);
}

[[noreturn]] void failStart(const std::string& what, unsigned long code,
                            const std::string& insert) {
    fail("Cannot execute " + what, code, insert);
}

// The VM's end could not be had: it is ended, as its exit code could never be reported.
[[noreturn]] void failExitCode(platform::ProcessHandle vm, unsigned long code,
                               const std::string& insert) {
    platform::terminate(vm);
    fail("Cannot get exit code of java virtual machine", code, insert);
}

// What it takes to start the monitor and watch it, and, where a watcher thread does that
// (Windows), how the two threads agree on who ends the process: the main thread when the VM
// has ended, or the watcher when the monitor cannot be started.
class Supervision {
  public:
    Supervision(std::string launcherName, platform::ProcessHandle launcher,
                platform::ProcessHandle vm)
        : monitorCommandLine_(monitorCommandLine(launcherName, launcher, vm)),
          launcherName_(std::move(launcherName)), launcher_(launcher), vm_(vm) {}

    platform::ProcessResult startMonitor() const {
        return platform::startMonitor(monitorCommandLine_, launcher_, vm_);
    }
    platform::ProcessHandle vm() const { return vm_; }

    // The monitor's start has ended, well or not (on the watcher thread, or on the main
    // thread where there is none). A failed start ends the VM and the process, unless the VM
    // has ended already: then its exit code stands, and the main thread ends the process
    // with it.
    void monitorStartSettled(const platform::ProcessResult& monitor) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!monitor.ok && !ending_ && !platform::hasEnded(vm_)) {
            platform::terminate(vm_);
            failStart("process monitor", monitor.error, launcherName_); // keeps the lock
        }
        settled_ = true;
        lock.unlock();
        settledSignal_.notify_all();
    }

    // Main thread, once the VM has ended: after this the watcher reports nothing more. Waits
    // for the monitor's start to end, as a launcher that ended meanwhile could leave the
    // monitor half started (seen under Wine).
    void endWithVm() {
        std::unique_lock<std::mutex> lock(mutex_);
        settledSignal_.wait(lock, [this] { return settled_; });
        ending_ = true;
    }

  private:
    std::string monitorCommandLine_;
    std::string launcherName_;
    platform::ProcessHandle launcher_;
    platform::ProcessHandle vm_;
    std::mutex mutex_;
    std::condition_variable settledSignal_;
    bool settled_ = false;
    bool ending_ = false;
};

void superviseOnThread(void* state) {
    auto& supervision = *static_cast<Supervision*>(state);
    const platform::ProcessResult monitor = supervision.startMonitor();
    supervision.monitorStartSettled(monitor);
    if (monitor.ok) {
        watchMonitor(MonitorWatch{monitor.process, supervision.vm()});
    }
}

// Handles travel as 32-bit numbers. Windows keeps handle values within 32 bits, sign-extended,
// so that 32- and 64-bit processes can share them; a pidfd always fits.
std::string handleText(platform::ProcessHandle handle) {
    return std::to_string(static_cast<std::int32_t>(handle.value()));
}

} // namespace

std::string monitorCommandLine(const std::string& launcherName, platform::ProcessHandle launcher,
                               platform::ProcessHandle vm) {
    return quoteProgramNameIfNeeded(launcherName) + " -monitor " + handleText(launcher) + ' ' +
           handleText(vm);
}

std::optional<platform::ProcessHandle> parseHandleText(std::string_view text) {
    std::size_t position = 0;
    while (position < text.size() &&
           std::isspace(static_cast<unsigned char>(text[position])) != 0) {
        ++position;
    }
    bool negative = false;
    if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
        negative = text[position] == '-';
        ++position;
    }
    if (position == text.size()) {
        return std::nullopt;
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kLimit) {
            return std::nullopt;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return platform::ProcessHandle(static_cast<std::intptr_t>(value));
}

int runSupervised(ArgumentList arguments, const std::string& launcherName) {
    const std::string commandLine = joinCommandLine(arguments);
    // Had before the VM starts: without it no monitor could watch the launcher.
    const platform::ProcessResult launcher = platform::openOwnProcess();
    if (!launcher.ok) {
        failStart("process monitor", launcher.error, launcherName);
    }
    const platform::ProcessResult vm = platform::startVm(commandLine);
    if (!vm.ok) {
        failStart("java virtual machine", vm.error, arguments.front());
    }
    // Never freed, and kept reachable, as the watcher thread may use it until the process
    // ends.
    static Supervision* supervision = nullptr;
    supervision = new Supervision(launcherName, launcher.process, vm.process);
    unsigned long waitError = 0;
    // Windows starts the monitor on the watcher thread, so that the VM runs while it starts.
    if (!platform::forksMonitor() && platform::startThread(superviseOnThread, supervision)) {
        waitError = platform::waitForExit(vm.process);
        supervision->endWithVm();
    } else {
        // Linux forks the monitor here, while the main thread is the only thread; it and a
        // launcher without a watcher thread watch the monitor while they wait for the VM.
        const platform::ProcessResult monitor = supervision->startMonitor();
        supervision->monitorStartSettled(monitor);
        waitError = monitor.ok ? platform::waitForVm(vm.process, monitor.process)
                               : platform::waitForExit(vm.process);
    }
    if (waitError != 0) {
        failExitCode(vm.process, waitError, arguments.front());
    }
    const platform::ProcessEnd end = platform::endOf(vm.process);
    if (!end.ok) {
        failExitCode(vm.process, end.error, arguments.front());
    }
    if (end.signal != 0) {
        // The caller sees the launcher end as the VM did; where it cannot, as a shell reports
        // a process ended by a signal.
        platform::endBySignal(end.signal);
        return 128 + end.signal;
    }
    return end.exitCode;
}

void watchMonitor(const MonitorWatch& watch) {
    platform::waitForExit(watch.monitor);
    platform::terminate(watch.vm);
}

void runMonitor(const std::string& launcherHandleText, const std::string& vmHandleText) {
    const std::optional<platform::ProcessHandle> launcher = parseHandleText(launcherHandleText);
    const std::optional<platform::ProcessHandle> vm = parseHandleText(vmHandleText);
    if (!launcher || !vm) {
        return;
    }
    platform::enterMonitorMode(*launcher, *vm);
    platform::waitForExit(*launcher);
    platform::terminate(*vm);
}

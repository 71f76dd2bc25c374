#include "process/watcher_win32.h"

#include <array>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "process/monitor_start_win32.h"

namespace platform::win32 {

namespace {

// How the two threads agree on the monitor's start: the watcher reports a failed start only
// while the VM runs and the main thread has not taken the VM's end; the main thread takes the
// VM's end only once the start has ended, well or not, as a launcher that ended meanwhile
// could leave the monitor half started (seen under Wine).
class Watcher {
  public:
    explicit Watcher(MonitorStart start) : start_(std::move(start)) {}

    // On the watcher thread, or on the main thread where there is none.
    ProcessResult startMonitor() {
        const ProcessResult monitor = win32::startMonitor(start_.commandLine, start_.executable,
                                                          start_.launcher, start_.vm, start_.job);
        std::unique_lock<std::mutex> lock(mutex_);
        if (!monitor.ok && !ending_ && !hasEnded(start_.vm)) {
            terminate(start_.vm);
            failure_ = monitor.error;
        }
        settled_ = true;
        lock.unlock();
        settledSignal_.notify_all();
        return monitor;
    }

    // Main thread, once the VM has ended: after this the watcher reports nothing more. The
    // error of a monitor's start that failed while the VM ran, or 0.
    DWORD endWithVm() {
        std::unique_lock<std::mutex> lock(mutex_);
        settledSignal_.wait(lock, [this] { return settled_; });
        ending_ = true;
        return failure_;
    }

    ProcessHandle vm() const { return start_.vm; }

  private:
    MonitorStart start_;
    std::mutex mutex_;
    std::condition_variable settledSignal_;
    bool settled_ = false;
    bool ending_ = false;
    DWORD failure_ = 0;
};

DWORD WINAPI superviseOnThread(LPVOID parameter) {
    auto& watcher = *static_cast<Watcher*>(parameter);
    const ProcessResult monitor = watcher.startMonitor();
    if (monitor.ok) {
        watchMonitor(MonitorWatch{monitor.process, watcher.vm()});
    }
    return 0;
}

// The main thread's wait where no watcher thread runs: should the monitor end first, the VM
// is ended (as watchMonitor does) and waited for on.
DWORD waitForVm(ProcessHandle vm, ProcessHandle monitor) {
    const std::array<HANDLE, 2> processes = {toHandle(vm), toHandle(monitor)};
    const DWORD ended = WaitForMultipleObjects(static_cast<DWORD>(processes.size()),
                                               processes.data(), FALSE, INFINITE);
    if (ended == WAIT_FAILED) {
        return GetLastError();
    }
    if (ended == WAIT_OBJECT_0 + 1) {
        terminate(vm);
    }
    return waitForExit(vm);
}

} // namespace

void watchMonitor(const MonitorWatch& watch) {
    waitForExit(watch.monitor);
    terminate(watch.vm);
}

VmWait waitForVmWhileWatched(const MonitorStart& start) {
    // Never freed, as the watcher thread may use it until the process ends.
    auto* watcher = new Watcher(start);
    VmWait wait;
    HANDLE thread = CreateThread(nullptr, 0, superviseOnThread, watcher, 0, nullptr);
    if (thread != nullptr) {
        CloseHandle(thread);
        wait.error = waitForExit(start.vm);
        if (const DWORD failure = watcher->endWithVm(); failure != 0) {
            wait = VmWait{true, failure};
        }
        return wait;
    }
    const ProcessResult monitor = watcher->startMonitor();
    wait.error = monitor.ok ? waitForVm(start.vm, monitor.process) : waitForExit(start.vm);
    if (const DWORD failure = watcher->endWithVm(); failure != 0) {
        wait = VmWait{true, failure};
    }
    return wait;
}

} // namespace platform::win32

// The launcher's run on Linux, all on its main thread: the VM starts with vfork and exec, the
// monitor is a fork of the launcher, and the launcher waits for the VM while it watches the
// monitor; once the VM's end is in hand it ends the monitor, reaps the VM and then the
// monitor. So only a launcher that is killed leaves its monitor behind, which then ends the
// VM.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <climits>
#include <cstring>

#include "process/children_posix.h"
#include "process/monitor_posix.h"
#include "process/naming_posix.h"
#include "process/platform.h"
#include "process/stop_signals_posix.h"
#include "process/vm_start_posix.h"

namespace platform {

namespace {

VmRun failed(VmRun::Failed step, int error) {
    VmRun run;
    run.failed = step;
    run.error = static_cast<unsigned long>(error);
    return run;
}

// The monitor is ended before the VM is reaped: a monitor still running could otherwise act
// on the VM's id once it names another process. A monitor that knows the VM by its pidfd has
// ended by itself by then, or is about to: reaped last, it has the most time for it.
VmRun finish(pid_t vm, pid_t monitor, int waitError) {
    posix::endChild(monitor);
    posix::stopPassingSignalsOn();
    posix::ChildEnd end;
    if (waitError != 0) {
        posix::endChild(vm);
        end.error = waitError;
    } else {
        end = posix::reapChild(vm);
    }
    posix::reapChild(monitor);
    if (end.error != 0) {
        return failed(VmRun::Failed::VmEnd, end.error);
    }
    VmRun run;
    run.exitCode = end.exitCode;
    run.signal = end.signal;
    return run;
}

} // namespace

VmRun runVm(const std::string& commandLine, const std::string& launcherName) {
    const std::unique_ptr<posix::Naming> naming = posix::chooseNaming();
    if (const int error = naming->nameLauncher(); error != 0) {
        return failed(VmRun::Failed::MonitorStart, error);
    }
    const posix::Started vm = posix::startVm(commandLine, *naming);
    if (vm.error != 0) {
        return failed(VmRun::Failed::VmStart, vm.error);
    }
    const posix::Started monitor = posix::forkMonitor(*naming, launcherName);
    if (monitor.error != 0) {
        posix::stopPassingSignalsOn();
        posix::endChild(vm.pid);
        posix::reapChild(vm.pid);
        return failed(VmRun::Failed::MonitorStart, monitor.error);
    }
    return finish(vm.pid, monitor.pid, posix::waitForVm(vm.pid, monitor.pid));
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

std::string errorText(unsigned long code, const std::string& /*insert*/) {
    if (code > static_cast<unsigned long>(INT_MAX)) {
        return "error " + std::to_string(code);
    }
    return std::strerror(static_cast<int>(code));
}

} // namespace platform

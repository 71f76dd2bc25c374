#include "process/supervise.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "process/platform.h"

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

} // namespace

int runSupervised(ArgumentList arguments, const std::string& launcherName) {
    const platform::VmRun run = platform::runVm(joinCommandLine(arguments), launcherName);
    switch (run.failed) {
    case platform::VmRun::Failed::MonitorStart:
        fail("Cannot execute process monitor", run.error, launcherName);
    case platform::VmRun::Failed::VmStart:
        fail("Cannot execute java virtual machine", run.error, arguments.front());
    case platform::VmRun::Failed::VmEnd:
        // The VM has been ended, as its exit code could never be reported.
        fail("Cannot get exit code of java virtual machine", run.error, arguments.front());
    case platform::VmRun::Failed::Nothing:
        break;
    }
    if (run.signal != 0) {
        // The caller sees the launcher end as the VM did; where it cannot, as a shell reports
        // a process ended by a signal.
        platform::endBySignal(run.signal);
        return 128 + run.signal;
    }
    return run.exitCode;
}

void runMonitor(const std::string& launcherHandleText, const std::string& vmHandleText) {
    const std::optional<platform::ProcessHandle> launcher = parseHandleText(launcherHandleText);
    const std::optional<platform::ProcessHandle> vm = parseHandleText(vmHandleText);
    if (launcher && vm) {
        platform::endVmWithLauncher(*launcher, *vm);
    }
}

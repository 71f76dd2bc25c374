// The launcher's run on Windows: the VM starts in a job on the launcher's console, and the
// monitor, a copy of the launcher started detached from the console with two inherited
// handles, is started and watched on a watcher thread while the main thread waits for the VM.
#include <windows.h>

#include <array>
#include <utility>

#include "process/monitor_command_line.h"
#include "process/monitor_start_win32.h"
#include "process/platform.h"
#include "process/processes_win32.h"
#include "process/vm_start_win32.h"
#include "process/watcher_win32.h"

namespace platform {

namespace {

VmRun failed(VmRun::Failed step, DWORD error) {
    VmRun run;
    run.failed = step;
    run.error = error;
    return run;
}

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

} // namespace

VmRun runVm(const std::string& commandLine, const std::string& launcherName) {
    // The monitor is started from this file; without it there could be no monitor.
    const std::string executable = win32::ownExecutable();
    if (executable.empty()) {
        return failed(VmRun::Failed::MonitorStart, GetLastError());
    }
    const win32::ProcessResult launcher = win32::openOwnProcess();
    if (!launcher.ok) {
        return failed(VmRun::Failed::MonitorStart, launcher.error);
    }
    const win32::StartedVm started = win32::startVm(commandLine, executable);
    if (!started.vm.ok) {
        return failed(VmRun::Failed::VmStart, started.vm.error);
    }
    const ProcessHandle vm = started.vm.process;
    const win32::VmWait wait = win32::waitForVmWhileWatched(
        win32::MonitorStart{monitorCommandLine(launcherName, launcher.process, vm), executable,
                            launcher.process, vm, started.job});
    if (wait.monitorFailed) {
        return failed(VmRun::Failed::MonitorStart, wait.error);
    }
    DWORD code = 0;
    if (wait.error != 0 || GetExitCodeProcess(win32::toHandle(vm), &code) == FALSE) {
        const DWORD error = wait.error != 0 ? wait.error : GetLastError();
        win32::terminate(vm);
        return failed(VmRun::Failed::VmEnd, error);
    }
    VmRun run;
    run.exitCode = static_cast<int>(code);
    return run;
}

void endVmWithLauncher(ProcessHandle launcher, ProcessHandle vm) {
    // Detached, the monitor has no console whose events could reach it, and it inherited
    // nothing but the two handles.
    win32::waitForExit(launcher);
    win32::terminate(vm);
}

void endBySignal(int /*signal*/) {
    // Windows processes end with exit codes only: runVm never reports a signal.
}

std::string errorText(unsigned long code, const std::string& insert) {
    // A message may name any of the inserts %1 to %99; each of them is the one text, so
    // that none is read from beyond the array.
    std::array<DWORD_PTR, 99> arguments{};
    arguments.fill(reinterpret_cast<DWORD_PTR>(insert.c_str()));
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0,
        reinterpret_cast<va_list*>(arguments.data()));
    if (length == 0) {
        return std::to_string(code);
    }
    std::string text(buffer, length);
    LocalFree(buffer);
    return withoutLineEnd(std::move(text));
}

} // namespace platform

#include "process/monitor_start_win32.h"

#include <vector>

namespace platform::win32 {

ProcessResult openOwnProcess() {
    // A duplicate of the pseudo handle has every right on the process and cannot be refused
    // for lack of rights, as opening the process by its id can be under a restricted token.
    HANDLE own = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &own, 0,
                        TRUE, DUPLICATE_SAME_ACCESS) == FALSE) {
        return failedWith(GetLastError());
    }
    ProcessResult result;
    result.ok = true;
    result.process = fromHandle(own);
    return result;
}

ProcessResult startMonitor(const std::string& commandLine, const std::string& executable,
                           ProcessHandle launcher, ProcessHandle vm, const LauncherJob& job) {
    if (!fitsCommandLineLimit(commandLine)) {
        return failedWith(ERROR_FILENAME_EXCED_RANGE);
    }
    StartOptions options;
    // This very file, not whatever the launcher's name would find: a bare name would be
    // searched for in the current directory too.
    options.application = executable.c_str();
    options.inheritHandles = TRUE;
    options.creationFlags = DETACHED_PROCESS;
    // Only the two handles are inherited: any other inheritable handle of the launcher's
    // (a caller's redirected output, say) would be held open by the monitor until it ends.
    const std::vector<HANDLE> inherited = {toHandle(launcher), toHandle(vm)};
    if (job.joinedAtStart) {
        // Under Wine a monitor left half started would hang for ever. Otherwise the job
        // only ends the monitor once the launcher has ended anyway.
        const ProcessResult result =
            startWithAttributes(commandLine, options, job.handle, inherited);
        if (result.ok) {
            return result;
        }
    }
    // Before Vista no list can name the handles: the monitor inherits every inheritable one.
    return startInheriting(commandLine, options, inherited);
}

} // namespace platform::win32

#include "process/vm_start_win32.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <vector>

#include "common/lead_bytes.h"
#include "process/console_events_win32.h"
#include "process/search_path.h"
#include "process/split_command_line.h"

namespace platform::win32 {

namespace {

std::string environmentVariable(const char* name) {
    return systemString(
        [name](char* buffer, DWORD size) { return GetEnvironmentVariableA(name, buffer, size); });
}

// The places CreateProcessA searches for a program named without a directory, in its
// order, but for the current directory, which it searches second: the directory of this
// executable, the 32-bit and the 16-bit system directory, the Windows directory and PATH.
// Entries that could lead back to the current directory are left out (see
// rootedPathEntries); so are those the system cannot give.
std::string searchPathWithoutCurrentDirectory(const std::string& executable) {
    const std::string system =
        systemString([](char* buffer, DWORD size) { return GetSystemDirectoryA(buffer, size); });
    const std::string windows =
        systemString([](char* buffer, DWORD size) { return GetWindowsDirectoryA(buffer, size); });
    return rootedPathEntries(searchEntryOfFile(executable, ansiLeadBytes()) + ';' + system + ';' +
                             windows + "\\System;" + windows + ';' + environmentVariable("PATH"));
}

// The file to start for a command line. A program named without any directory or drive is
// looked up here, so that a file of that name in the current directory is never run; any
// other name is left to CreateProcessA (an empty path).
struct Application {
    std::string path;
    DWORD error = 0; // the bare name was found nowhere
};

Application applicationFor(const std::string& commandLine, const std::string& executable) {
    Application application;
    const std::string name = programNameOf(commandLine);
    if (name.empty() || ansiLeadBytes().findLastOf(name, "\\/:") != std::string::npos) {
        return application;
    }
    const std::string searchPath = searchPathWithoutCurrentDirectory(executable);
    DWORD error = ERROR_FILE_NOT_FOUND;
    if (searchPath.empty()) {
        // An empty path would have the search look in the current directory after all.
        application.error = error;
        return application;
    }
    application.path = systemString([&](char* buffer, DWORD size) {
        const DWORD length =
            SearchPathA(searchPath.c_str(), name.c_str(), ".exe", size, buffer, nullptr);
        if (length == 0 && GetLastError() != ERROR_SUCCESS) {
            error = GetLastError();
        }
        return length;
    });
    if (application.path.empty()) {
        application.error = error;
    }
    return application;
}

// A job that ends the processes in it when its last handle is closed, that is when the
// launcher ends, however it ends. Processes they start stay outside it. Its handle is not
// inheritable, so that the monitor cannot keep it open. nullptr where there is none.
HANDLE createKillOnCloseJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) {
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    if (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ==
        FALSE) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// Starts the VM, inheriting `inherited`, in a new launcher job. Where the system makes no job
// or puts nothing into it (a launcher inside a job that takes no nested one, on an older
// system), the VM starts as it would without.
StartedVm startVmInJob(const std::string& commandLine, const StartOptions& options,
                       const std::vector<HANDLE>& inherited) {
    StartedVm started;
    HANDLE job = createKillOnCloseJob();
    if (job == nullptr) {
        started.vm = startInheriting(commandLine, options, inherited);
        return started;
    }
    started.vm = startWithAttributes(commandLine, options, job, inherited);
    if (started.vm.ok) {
        started.job = LauncherJob{job, true};
        return started;
    }
    if (started.vm.error == 0) {
        // No attribute (before Windows 10): the VM joins the job before its first
        // instruction runs; a launcher ended in between leaves it suspended outside.
        StartOptions suspended = options;
        suspended.creationFlags |= CREATE_SUSPENDED;
        HANDLE thread = nullptr;
        started.vm = startInheriting(commandLine, suspended, inherited, &thread);
        if (started.vm.ok) {
            const bool joined =
                AssignProcessToJobObject(job, toHandle(started.vm.process)) != FALSE;
            ResumeThread(thread);
            CloseHandle(thread);
            if (joined) {
                started.job = LauncherJob{job, false};
                return started;
            }
        }
        CloseHandle(job);
        return started;
    }
    // Refused with the job, perhaps for the job's sake: once more without it.
    CloseHandle(job);
    started.vm = startInheriting(commandLine, options, inherited);
    return started;
}

// Whether the launcher is on a console, with or without a window: not when it was started
// detached, or by a program that has none (under Wine: with no terminal behind it).
bool onConsole() {
    DWORD process = 0;
    return GetConsoleProcessList(&process, 1) != 0;
}

// The launcher's standard handles as inheritable duplicates, each nullptr where the launcher
// has none; closed when this goes, by when the VM holds its own. A handle the system refuses
// to duplicate leaves the error of the first such refusal.
class InheritableStandardHandles {
  public:
    InheritableStandardHandles() {
        const std::array<DWORD, 3> streams = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE,
                                              STD_ERROR_HANDLE};
        for (std::size_t i = 0; i < streams.size(); ++i) {
            const HANDLE own = GetStdHandle(streams[i]);
            if (own == nullptr || own == INVALID_HANDLE_VALUE) {
                continue;
            }
            if (DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &handles_[i], 0,
                                TRUE, DUPLICATE_SAME_ACCESS) == FALSE) {
                handles_[i] = nullptr;
                if (error_ == 0) {
                    const DWORD error = GetLastError();
                    error_ = error != 0 ? error : ERROR_INVALID_HANDLE;
                }
            }
        }
    }
    ~InheritableStandardHandles() {
        for (const HANDLE handle : handles_) {
            if (handle != nullptr) {
                CloseHandle(handle);
            }
        }
    }
    InheritableStandardHandles(const InheritableStandardHandles&) = delete;
    InheritableStandardHandles& operator=(const InheritableStandardHandles&) = delete;

    DWORD error() const { return error_; }
    const std::array<HANDLE, 3>& all() const { return handles_; }
    std::vector<HANDLE> present() const {
        std::vector<HANDLE> present;
        std::copy_if(handles_.begin(), handles_.end(), std::back_inserter(present),
                     [](HANDLE handle) { return handle != nullptr; });
        return present;
    }

  private:
    std::array<HANDLE, 3> handles_{};
    DWORD error_ = 0;
};

} // namespace

StartedVm startVm(const std::string& commandLine, const std::string& executable) {
    StartedVm started;
    if (!fitsCommandLineLimit(commandLine)) {
        started.vm = failedWith(ERROR_FILENAME_EXCED_RANGE);
        return started;
    }
    const Application application = applicationFor(commandLine, executable);
    if (application.error != 0) {
        started.vm = failedWith(application.error);
        return started;
    }
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    StartOptions options;
    options.application = application.path.empty() ? nullptr : application.path.c_str();
    options.processAttributes = &attributes;
    // A launcher without a console starts the VM as its caller would have: with no console
    // either and the launcher's standard handles. Otherwise the VM would get a console of its
    // own, with a window, and its output would never reach the caller. (No console rather
    // than one without a window, which would cost a console host process each run.)
    std::optional<InheritableStandardHandles> standard;
    std::vector<HANDLE> inherited;
    if (!onConsole()) {
        standard.emplace();
        if (standard->error() != 0) {
            // The VM would get no handle where the caller gave the launcher one.
            started.vm = failedWith(standard->error());
            return started;
        }
        inherited = standard->present();
        options.standardHandles = &standard->all();
        options.inheritHandles = inherited.empty() ? FALSE : TRUE;
        options.creationFlags |= DETACHED_PROCESS;
    }
    handleConsoleEvents();
    started = startVmInJob(commandLine, options, inherited);
    passConsoleEventsTo(started.vm.ok ? toHandle(started.vm.process) : nullptr);
    if (started.vm.ok) {
        // Wine ignores bInheritHandle above and returns a handle the monitor could not
        // inherit; on Windows the handle is inheritable already and this changes nothing.
        SetHandleInformation(toHandle(started.vm.process), HANDLE_FLAG_INHERIT,
                             HANDLE_FLAG_INHERIT);
    }
    return started;
}

} // namespace platform::win32

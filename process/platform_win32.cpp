// The process layer on Win32: CreateProcessA, process handles, a job object for the VM and
// FormatMessageA.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "common/lead_bytes.h"
#include "process/console_events_win32.h"
#include "process/platform.h"
#include "process/search_path.h"
#include "process/split_command_line.h"

namespace platform {

namespace {

// The structures as the 32-bit executable has always passed them to the system.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68, "STARTUPINFOA must be 68 bytes");
static_assert(sizeof(void*) != 4 || sizeof(SECURITY_ATTRIBUTES) == 12,
              "SECURITY_ATTRIBUTES must be 12 bytes");

HANDLE toHandle(ProcessHandle process) {
    return reinterpret_cast<HANDLE>(process.value()); // NOLINT(performance-no-int-to-ptr)
}

ProcessHandle fromHandle(HANDLE handle) {
    return ProcessHandle(reinterpret_cast<std::intptr_t>(handle));
}

// Whether a handle names a process other than this one. -1 is the pseudo handle that names
// this process itself (a monitor waiting for it would wait for ever), and a handle of
// another kind names no process at all.
bool namesAnotherProcess(ProcessHandle process) {
    const DWORD pid = GetProcessId(toHandle(process));
    return pid != 0 && pid != GetCurrentProcessId();
}

ProcessResult failedWith(DWORD error) {
    ProcessResult result;
    result.error = error;
    return result;
}

// The longest command line CreateProcessA takes: 32,767 characters with the terminating NUL.
constexpr std::size_t kMaxCommandLine = 32767;
// The longest path the system's functions return.
constexpr std::size_t kMaxPath = 32767;

// CreateProcessA may write into the command line, so it gets a copy of its own.
std::vector<char> mutableCommandLine(const std::string& commandLine) {
    return std::vector<char>(commandLine.c_str(), commandLine.c_str() + commandLine.size() + 1);
}

// How a process is started, besides its command line.
struct StartOptions {
    const char* application = nullptr; // the file to run; nullptr: the command line names it
    SECURITY_ATTRIBUTES* processAttributes = nullptr;
    BOOL inheritHandles = FALSE;
    DWORD creationFlags = 0;
    LPPROC_THREAD_ATTRIBUTE_LIST attributes = nullptr; // with EXTENDED_STARTUPINFO_PRESENT
    // Input, output and error for STARTF_USESTDHANDLES; nullptr: none given.
    const std::array<HANDLE, 3>* standardHandles = nullptr;
};

// Starts the process; its main thread's handle goes to `thread` when asked for, else it is
// closed.
ProcessResult startProcess(const std::string& commandLine, const StartOptions& options,
                           HANDLE* thread = nullptr) {
    std::vector<char> line = mutableCommandLine(commandLine);
    STARTUPINFOEXA startupEx{};
    STARTUPINFOA plainStartup{};
    plainStartup.cb = sizeof(STARTUPINFOA);
    STARTUPINFOA* startup = &plainStartup;
    if (options.attributes != nullptr) {
        startupEx.StartupInfo.cb = sizeof(STARTUPINFOEXA);
        startupEx.lpAttributeList = options.attributes;
        startup = &startupEx.StartupInfo;
    }
    if (options.standardHandles != nullptr) {
        startup->dwFlags |= STARTF_USESTDHANDLES;
        startup->hStdInput = (*options.standardHandles)[0];
        startup->hStdOutput = (*options.standardHandles)[1];
        startup->hStdError = (*options.standardHandles)[2];
    }
    PROCESS_INFORMATION info{};
    if (CreateProcessA(options.application, line.data(), options.processAttributes, nullptr,
                       options.inheritHandles, options.creationFlags, nullptr, nullptr, startup,
                       &info) == FALSE) {
        return failedWith(GetLastError());
    }
    if (thread != nullptr) {
        *thread = info.hThread;
    } else {
        CloseHandle(info.hThread);
    }
    ProcessResult result;
    result.ok = true;
    result.process = fromHandle(info.hProcess);
    return result;
}

// What a function like GetModuleFileNameA or GetSystemDirectoryA writes into a buffer of the
// given size; empty when it fails or gives more than kMaxPath characters.
template <typename Fill> std::string systemString(Fill fill) {
    std::string text(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = fill(text.data(), static_cast<DWORD>(text.size()));
        if (length == 0 || length > kMaxPath) {
            return {};
        }
        if (length < text.size() - 1) {
            text.resize(length);
            return text;
        }
        // Some functions return the size they need, others cut the text to the size given.
        text.resize(std::max<std::size_t>(length + 1, text.size() * 2));
    }
}

// This executable's own file, whatever name it was started under; empty when the system
// cannot tell.
std::string ownExecutable() {
    return systemString(
        [](char* buffer, DWORD size) { return GetModuleFileNameA(nullptr, buffer, size); });
}

std::string environmentVariable(const char* name) {
    return systemString(
        [name](char* buffer, DWORD size) { return GetEnvironmentVariableA(name, buffer, size); });
}

// The places CreateProcessA searches for a program named without a directory, in its
// order, but for the current directory, which it searches second: the directory of this
// executable, the 32-bit and the 16-bit system directory, the Windows directory and PATH.
// Entries that could lead back to the current directory are left out (see
// rootedPathEntries); so are those the system cannot give.
std::string searchPathWithoutCurrentDirectory() {
    const std::string own = ownExecutable();
    const std::string system =
        systemString([](char* buffer, DWORD size) { return GetSystemDirectoryA(buffer, size); });
    const std::string windows =
        systemString([](char* buffer, DWORD size) { return GetWindowsDirectoryA(buffer, size); });
    return rootedPathEntries(searchEntryOfFile(own, ansiLeadBytes()) + ';' + system + ';' +
                             windows + "\\System;" + windows + ';' + environmentVariable("PATH"));
}

// The file to start for a command line. A program named without any directory or drive is
// looked up here, so that a file of that name in the current directory is never run; any
// other name is left to CreateProcessA (an empty path).
struct Application {
    std::string path;
    DWORD error = 0; // the bare name was found nowhere
};

Application applicationFor(const std::string& commandLine) {
    Application application;
    const std::string name = programNameOf(commandLine);
    if (name.empty() || ansiLeadBytes().findLastOf(name, "\\/:") != std::string::npos) {
        return application;
    }
    const std::string searchPath = searchPathWithoutCurrentDirectory();
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

template <typename Function> Function kernelFunction(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// A process attribute list: a job for the new process to be in from its first instruction
// on (Windows 10 and later), and the handles it inherits, which must be inheritable (Vista
// and later). The functions are looked up at run time, so that the executable still starts
// on systems without them; where they or an attribute are missing, list() is nullptr.
class ProcessAttributes {
  public:
    ProcessAttributes(HANDLE job, std::vector<HANDLE> inherited)
        : job_(job), inherited_(std::move(inherited)) {
        const auto initialize = kernelFunction<decltype(&InitializeProcThreadAttributeList)>(
            "InitializeProcThreadAttributeList");
        const auto update =
            kernelFunction<decltype(&UpdateProcThreadAttribute)>("UpdateProcThreadAttribute");
        delete_ = kernelFunction<decltype(&DeleteProcThreadAttributeList)>(
            "DeleteProcThreadAttributeList");
        const DWORD count = (job_ != nullptr ? 1 : 0) + (inherited_.empty() ? 0 : 1);
        if (count == 0 || initialize == nullptr || update == nullptr || delete_ == nullptr) {
            return;
        }
        SIZE_T size = 0;
        initialize(nullptr, count, 0, &size);
        storage_.resize(size / sizeof(storage_[0]) + 1);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (size == 0 || initialize(list, count, 0, &size) == FALSE) {
            return;
        }
        // The list refers to job_ and inherited_, which therefore live as long as the list.
        if ((job_ != nullptr && update(list, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &job_, sizeof(job_),
                                       nullptr, nullptr) == FALSE) ||
            (!inherited_.empty() &&
             update(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited_.data(),
                    inherited_.size() * sizeof(HANDLE), nullptr, nullptr) == FALSE)) {
            delete_(list);
            return;
        }
        list_ = list;
    }
    ~ProcessAttributes() {
        if (list_ != nullptr) {
            delete_(list_);
        }
    }
    ProcessAttributes(const ProcessAttributes&) = delete;
    ProcessAttributes& operator=(const ProcessAttributes&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

  private:
    HANDLE job_;
    std::vector<HANDLE> inherited_;
    decltype(&DeleteProcThreadAttributeList) delete_ = nullptr;
    std::vector<std::max_align_t> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// The job that holds the VM, made by startVm, and whether processes entered it from their
// first instruction on; the monitor's start, which follows, then joins it the same way.
// The handle is never closed: the launcher's end closes it.
struct LauncherJob {
    HANDLE handle = nullptr;
    bool joinedAtStart = false;
};
LauncherJob launcherJob;

// Starts a process with the attributes for a job (nullptr: none) and the handles it
// inherits (none: no such attribute); ok is false, with no error, where the attributes
// cannot be had.
ProcessResult startWithAttributes(const std::string& commandLine, StartOptions options, HANDLE job,
                                  std::vector<HANDLE> inherited = {}, HANDLE* thread = nullptr) {
    const ProcessAttributes attributes(job, std::move(inherited));
    if (attributes.list() == nullptr) {
        return ProcessResult{};
    }
    options.creationFlags |= EXTENDED_STARTUPINFO_PRESENT;
    options.attributes = attributes.list();
    return startProcess(commandLine, options, thread);
}

// Starts a process that inherits only the handles in `inherited`; with none, it inherits as
// the options say. Before Vista no list can name them: it inherits every inheritable handle.
ProcessResult startInheriting(const std::string& commandLine, const StartOptions& options,
                              const std::vector<HANDLE>& inherited, HANDLE* thread = nullptr) {
    if (!inherited.empty()) {
        ProcessResult result =
            startWithAttributes(commandLine, options, nullptr, inherited, thread);
        if (result.ok || result.error != 0) {
            return result;
        }
    }
    return startProcess(commandLine, options, thread);
}

// Starts the VM, inheriting `inherited`, in a new launcher job. Where the system makes no job
// or puts nothing into it (a launcher inside a job that takes no nested one, on an older
// system), the VM starts as it would without.
ProcessResult startVmInJob(const std::string& commandLine, const StartOptions& options,
                           const std::vector<HANDLE>& inherited) {
    launcherJob.handle = createKillOnCloseJob();
    if (launcherJob.handle == nullptr) {
        return startInheriting(commandLine, options, inherited);
    }
    ProcessResult result = startWithAttributes(commandLine, options, launcherJob.handle, inherited);
    if (result.ok) {
        launcherJob.joinedAtStart = true;
        return result;
    }
    if (result.error == 0) {
        // No attribute (before Windows 10): the VM joins the job before its first
        // instruction runs; a launcher ended in between leaves it suspended outside.
        StartOptions suspended = options;
        suspended.creationFlags |= CREATE_SUSPENDED;
        HANDLE thread = nullptr;
        result = startInheriting(commandLine, suspended, inherited, &thread);
        if (result.ok) {
            const bool joined =
                AssignProcessToJobObject(launcherJob.handle, toHandle(result.process)) != FALSE;
            ResumeThread(thread);
            CloseHandle(thread);
            if (joined) {
                return result;
            }
        }
        CloseHandle(launcherJob.handle);
        launcherJob.handle = nullptr;
        return result;
    }
    // Refused with the job, perhaps for the job's sake: once more without it.
    CloseHandle(launcherJob.handle);
    launcherJob.handle = nullptr;
    return startInheriting(commandLine, options, inherited);
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

struct ThreadCall {
    void (*function)(void*);
    void* argument;
};

DWORD WINAPI threadTrampoline(LPVOID parameter) {
    const std::unique_ptr<ThreadCall> call(static_cast<ThreadCall*>(parameter));
    call->function(call->argument);
    return 0;
}

// Windows refuses a longer command line with ERROR_FILENAME_EXCED_RANGE. Wine refuses some
// longer ones with another error but takes the length of others modulo 65,536 and starts the
// program with the front part of the line only, so the limit is kept here, with Windows'
// error. Counted in bytes, which in a multi-byte code page can only come out higher than the
// system's count.
bool fitsCommandLineLimit(const std::string& commandLine) {
    return commandLine.size() + 1 <= kMaxCommandLine;
}

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

} // namespace

ProcessResult startVm(const std::string& commandLine) {
    if (!fitsCommandLineLimit(commandLine)) {
        return failedWith(ERROR_FILENAME_EXCED_RANGE);
    }
    const Application application = applicationFor(commandLine);
    if (application.error != 0) {
        return failedWith(application.error);
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
            return failedWith(standard->error());
        }
        inherited = standard->present();
        options.standardHandles = &standard->all();
        options.inheritHandles = inherited.empty() ? FALSE : TRUE;
        options.creationFlags |= DETACHED_PROCESS;
    }
    win32::handleConsoleEvents();
    ProcessResult result = startVmInJob(commandLine, options, inherited);
    win32::passConsoleEventsTo(result.ok ? toHandle(result.process) : nullptr);
    if (result.ok) {
        // Wine ignores bInheritHandle above and returns a handle the monitor could not
        // inherit; on Windows the handle is inheritable already and this changes nothing.
        SetHandleInformation(toHandle(result.process), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    return result;
}

ProcessResult startMonitor(const std::string& commandLine, ProcessHandle launcher,
                           ProcessHandle vm) {
    if (!fitsCommandLineLimit(commandLine)) {
        return failedWith(ERROR_FILENAME_EXCED_RANGE);
    }
    // This very file, not whatever the launcher's name would find: a bare name would be
    // searched for in the current directory too.
    const std::string self = ownExecutable();
    if (self.empty()) {
        return failedWith(GetLastError());
    }
    StartOptions options;
    options.application = self.c_str();
    options.inheritHandles = TRUE;
    options.creationFlags = DETACHED_PROCESS;
    // Only the two handles are inherited: any other inheritable handle of the launcher's
    // (a caller's redirected output, say) would be held open by the monitor until it ends.
    const std::vector<HANDLE> inherited = {toHandle(launcher), toHandle(vm)};
    if (launcherJob.joinedAtStart) {
        // In the launcher's job too: a launcher ended while the monitor is still starting
        // takes the half-started monitor with it (under Wine it would hang for ever).
        // Otherwise the job only ends the monitor once the launcher has ended anyway.
        const ProcessResult result =
            startWithAttributes(commandLine, options, launcherJob.handle, inherited);
        if (result.ok) {
            return result;
        }
    }
    const ProcessResult result = startWithAttributes(commandLine, options, nullptr, inherited);
    if (result.ok || result.error != 0) {
        return result;
    }
    // Before Vista no list can name the handles: the monitor inherits every inheritable one.
    return startProcess(commandLine, options);
}

void enterMonitorMode(ProcessHandle /*launcher*/, ProcessHandle /*vm*/) {
    // Detached, the monitor has no console whose events could reach it, and it inherited
    // nothing but the two handles.
}

ProcessResult openOwnProcess() {
    // The monitor is started from this file; without it there could be no monitor.
    if (ownExecutable().empty()) {
        return failedWith(GetLastError());
    }
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

unsigned long waitForExit(ProcessHandle process) {
    if (namesAnotherProcess(process) &&
        WaitForSingleObject(toHandle(process), INFINITE) == WAIT_FAILED) {
        return GetLastError();
    }
    return 0;
}

unsigned long waitForVm(ProcessHandle vm, ProcessHandle monitor) {
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

bool hasEnded(ProcessHandle process) {
    return !namesAnotherProcess(process) ||
           WaitForSingleObject(toHandle(process), 0) != WAIT_TIMEOUT;
}

ProcessEnd endOf(ProcessHandle process) {
    ProcessEnd end;
    DWORD code = 0;
    if (GetExitCodeProcess(toHandle(process), &code) == FALSE) {
        end.error = GetLastError();
        return end;
    }
    end.ok = true;
    end.exitCode = static_cast<int>(code);
    return end;
}

void endBySignal(int /*signal*/) {
    // Windows processes end with exit codes only: endOf never reports a signal.
}

void terminate(ProcessHandle process) {
    if (namesAnotherProcess(process)) {
        TerminateProcess(toHandle(process), 1);
    }
}

bool forksMonitor() {
    return false;
}

bool startThread(void (*function)(void*), void* argument) {
    auto* call = new ThreadCall{function, argument};
    HANDLE thread = CreateThread(nullptr, 0, threadTrampoline, call, 0, nullptr);
    if (thread == nullptr) {
        delete call;
        return false;
    }
    CloseHandle(thread);
    return true;
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

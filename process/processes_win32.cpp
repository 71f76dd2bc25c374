#include "process/processes_win32.h"

#include <cstddef>
#include <utility>

namespace platform::win32 {

namespace {

// The structures as the 32-bit executable has always passed them to the system.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68, "STARTUPINFOA must be 68 bytes");
static_assert(sizeof(void*) != 4 || sizeof(SECURITY_ATTRIBUTES) == 12,
              "SECURITY_ATTRIBUTES must be 12 bytes");

// The longest command line CreateProcessA takes: 32,767 characters with the terminating NUL.
constexpr std::size_t kMaxCommandLine = 32767;

// Starts the process; its main thread's handle goes to `thread` when asked for, else it is
// closed.
ProcessResult startProcess(const std::string& commandLine, const StartOptions& options,
                           LPPROC_THREAD_ATTRIBUTE_LIST attributes, HANDLE* thread) {
    // CreateProcessA may write into the command line, so it gets a copy of its own.
    std::vector<char> line(commandLine.c_str(), commandLine.c_str() + commandLine.size() + 1);
    STARTUPINFOEXA startupEx{};
    STARTUPINFOA plainStartup{};
    plainStartup.cb = sizeof(STARTUPINFOA);
    STARTUPINFOA* startup = &plainStartup;
    DWORD creationFlags = options.creationFlags;
    if (attributes != nullptr) {
        startupEx.StartupInfo.cb = sizeof(STARTUPINFOEXA);
        startupEx.lpAttributeList = attributes;
        startup = &startupEx.StartupInfo;
        creationFlags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    if (options.standardHandles != nullptr) {
        startup->dwFlags |= STARTF_USESTDHANDLES;
        startup->hStdInput = (*options.standardHandles)[0];
        startup->hStdOutput = (*options.standardHandles)[1];
        startup->hStdError = (*options.standardHandles)[2];
    }
    PROCESS_INFORMATION info{};
    if (CreateProcessA(options.application, line.data(), options.processAttributes, nullptr,
                       options.inheritHandles, creationFlags, nullptr, nullptr, startup,
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

// Whether a handle names a process other than this one. -1 is the pseudo handle that names
// this process itself (a monitor waiting for it would wait for ever), and a handle of
// another kind names no process at all.
bool namesAnotherProcess(ProcessHandle process) {
    const DWORD pid = GetProcessId(toHandle(process));
    return pid != 0 && pid != GetCurrentProcessId();
}

} // namespace

ProcessResult failedWith(DWORD error) {
    ProcessResult result;
    result.error = error;
    return result;
}

ProcessResult startWithAttributes(const std::string& commandLine, const StartOptions& options,
                                  HANDLE job, std::vector<HANDLE> inherited, HANDLE* thread) {
    const ProcessAttributes attributes(job, std::move(inherited));
    if (attributes.list() == nullptr) {
        return ProcessResult{};
    }
    return startProcess(commandLine, options, attributes.list(), thread);
}

ProcessResult startInheriting(const std::string& commandLine, const StartOptions& options,
                              const std::vector<HANDLE>& inherited, HANDLE* thread) {
    if (!inherited.empty()) {
        ProcessResult result =
            startWithAttributes(commandLine, options, nullptr, inherited, thread);
        if (result.ok || result.error != 0) {
            return result;
        }
    }
    return startProcess(commandLine, options, nullptr, thread);
}

bool fitsCommandLineLimit(const std::string& commandLine) {
    return commandLine.size() + 1 <= kMaxCommandLine;
}

std::string ownExecutable() {
    return systemString(
        [](char* buffer, DWORD size) { return GetModuleFileNameA(nullptr, buffer, size); });
}

DWORD waitForExit(ProcessHandle process) {
    if (namesAnotherProcess(process) &&
        WaitForSingleObject(toHandle(process), INFINITE) == WAIT_FAILED) {
        return GetLastError();
    }
    return 0;
}

bool hasEnded(ProcessHandle process) {
    return !namesAnotherProcess(process) ||
           WaitForSingleObject(toHandle(process), 0) != WAIT_TIMEOUT;
}

void terminate(ProcessHandle process) {
    if (namesAnotherProcess(process)) {
        TerminateProcess(toHandle(process), 1);
    }
}

} // namespace platform::win32

// The process layer on Win32: CreateProcessA, process handles and FormatMessageA.
#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "process/platform.h"

namespace platform {

namespace {

// The structures as the 32-bit executable has always passed them to the system.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68, "STARTUPINFOA must be 68 bytes");
static_assert(sizeof(void*) != 4 || sizeof(SECURITY_ATTRIBUTES) == 12,
              "SECURITY_ATTRIBUTES must be 12 bytes");

// The rights the launcher has always asked for on its own process (PROCESS_ALL_ACCESS of
// the systems it was first built for).
constexpr DWORD kAllAccess = 0x1F0FFF;

HANDLE toHandle(ProcessHandle process) {
    return reinterpret_cast<HANDLE>(process.value()); // NOLINT(performance-no-int-to-ptr)
}

ProcessHandle fromHandle(HANDLE handle) {
    return ProcessHandle(reinterpret_cast<std::intptr_t>(handle));
}

// The longest command line CreateProcessA takes: 32,767 characters with the terminating NUL.
constexpr std::size_t kMaxCommandLine = 32767;

// CreateProcessA may write into the command line, so it gets a copy of its own.
std::vector<char> mutableCommandLine(const std::string& commandLine) {
    return std::vector<char>(commandLine.c_str(), commandLine.c_str() + commandLine.size() + 1);
}

StartResult startProcess(const std::string& commandLine, SECURITY_ATTRIBUTES* processAttributes,
                         BOOL inheritHandles, DWORD creationFlags) {
    StartResult result;
    // Windows refuses a longer command line with ERROR_FILENAME_EXCED_RANGE. Wine refuses
    // some longer ones with another error but takes the length of others modulo 65,536 and
    // starts the program with the front part of the line only, so the limit is kept here, with
    // Windows' error. Counted in bytes, which in a multi-byte code page can only come out
    // higher than the system's count.
    if (commandLine.size() + 1 > kMaxCommandLine) {
        result.error = ERROR_FILENAME_EXCED_RANGE;
        return result;
    }
    std::vector<char> line = mutableCommandLine(commandLine);
    STARTUPINFOA startup{};
    startup.cb = sizeof(STARTUPINFOA);
    PROCESS_INFORMATION info{};
    if (CreateProcessA(nullptr, line.data(), processAttributes, nullptr, inheritHandles,
                       creationFlags, nullptr, nullptr, &startup, &info) == FALSE) {
        result.error = GetLastError();
        return result;
    }
    CloseHandle(info.hThread);
    result.started = true;
    result.process = fromHandle(info.hProcess);
    return result;
}

struct ThreadCall {
    void (*function)(void*);
    void* argument;
};

DWORD WINAPI threadTrampoline(LPVOID parameter) {
    const std::unique_ptr<ThreadCall> call(static_cast<ThreadCall*>(parameter));
    call->function(call->argument);
    return 0;
}

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

} // namespace

StartResult startVm(const std::string& commandLine) {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    StartResult result = startProcess(commandLine, &attributes, FALSE, 0);
    if (result.started) {
        // Wine ignores bInheritHandle above and returns a handle the monitor could not
        // inherit; on Windows the handle is inheritable already and this changes nothing.
        SetHandleInformation(toHandle(result.process), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    return result;
}

StartResult startMonitor(const std::string& commandLine) {
    return startProcess(commandLine, nullptr, TRUE, DETACHED_PROCESS);
}

ProcessHandle openOwnProcess() {
    HANDLE own = OpenProcess(kAllAccess, TRUE, GetCurrentProcessId());
    return own != nullptr ? fromHandle(own) : ProcessHandle();
}

void waitForExit(ProcessHandle process) {
    WaitForSingleObject(toHandle(process), INFINITE);
}

int exitCodeOf(ProcessHandle process) {
    DWORD code = 0;
    GetExitCodeProcess(toHandle(process), &code);
    return static_cast<int>(code);
}

void terminate(ProcessHandle process) {
    TerminateProcess(toHandle(process), 1);
}

bool mustAwaitMonitorStart() {
    return true;
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

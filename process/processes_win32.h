#pragma once

// How the Windows supervision starts, waits for and ends processes: CreateProcessA with a copy
// of the command line, optionally in a job from the first instruction on and inheriting only a
// list of handles, with what the system of the day offers; WaitForSingleObject and
// TerminateProcess on process handles.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "process/platform.h"

namespace platform::win32 {

inline HANDLE toHandle(ProcessHandle process) {
    return reinterpret_cast<HANDLE>(process.value()); // NOLINT(performance-no-int-to-ptr)
}

inline ProcessHandle fromHandle(HANDLE handle) {
    return ProcessHandle(reinterpret_cast<std::intptr_t>(handle));
}

// A process started or opened, or the system's error code when that failed; no process and
// no error where what was asked for is not there to try (an attribute the system lacks).
struct ProcessResult {
    bool ok = false;
    ProcessHandle process; // valid when ok
    DWORD error = 0;       // the system's error code when not ok
};

ProcessResult failedWith(DWORD error);

// How a process is started, besides its command line.
struct StartOptions {
    const char* application = nullptr; // the file to run; nullptr: the command line names it
    SECURITY_ATTRIBUTES* processAttributes = nullptr;
    BOOL inheritHandles = FALSE;
    DWORD creationFlags = 0;
    // Input, output and error for STARTF_USESTDHANDLES; nullptr: none given.
    const std::array<HANDLE, 3>* standardHandles = nullptr;
};

// Starts a process with the attributes for a job (nullptr: none) and the handles it
// inherits (none: no such attribute); ok is false, with no error, where the attributes
// cannot be had. Its main thread's handle goes to `thread` when asked for, else it is closed.
ProcessResult startWithAttributes(const std::string& commandLine, const StartOptions& options,
                                  HANDLE job, std::vector<HANDLE> inherited = {},
                                  HANDLE* thread = nullptr);

// Starts a process that inherits only the handles in `inherited`; with none, it inherits as
// the options say. Before Vista no list can name them: it inherits every inheritable handle.
ProcessResult startInheriting(const std::string& commandLine, const StartOptions& options,
                              const std::vector<HANDLE>& inherited, HANDLE* thread = nullptr);

// Windows refuses a longer command line with ERROR_FILENAME_EXCED_RANGE. Wine refuses some
// longer ones with another error but takes the length of others modulo 65,536 and starts the
// program with the front part of the line only, so the limit is kept here, with Windows'
// error. Counted in bytes, which in a multi-byte code page can only come out higher than the
// system's count.
bool fitsCommandLineLimit(const std::string& commandLine);

// What a function like GetModuleFileNameA or GetSystemDirectoryA writes into a buffer of the
// given size; empty when it fails or gives more than the longest path the system's functions
// return (32,767 characters).
template <typename Fill> std::string systemString(Fill fill) {
    constexpr std::size_t kMaxPath = 32767;
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
std::string ownExecutable();

// Waits without time limit until the process has ended; returns at once for a handle that
// does not name another process. 0, or the system's error code when the wait failed.
DWORD waitForExit(ProcessHandle process);

// Whether the process has ended, without waiting; true for a handle that names no other
// process.
bool hasEnded(ProcessHandle process);

// Ends the process with exit code 1; nothing for a handle that names no other process.
void terminate(ProcessHandle process);

} // namespace platform::win32

#pragma once

// How the Windows tests start the programs they need themselves (the program under test, a
// shell): CreateProcessA, tried again where Wine fails the start with an internal error of its
// own. ERROR_INTERNAL_ERROR comes from Wine when the new process ended before Wine had set it
// up, which says nothing about the program started; such a start is tried up to
// kStartAttempts times in all, with a line on `notes` for each failed attempt. Every other
// error is the caller's, and what the programs under test start is never tried again.
#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

namespace test_start {

constexpr int kStartAttempts = 3;

struct StartOptions {
    const char* application = nullptr; // nullptr: the command line names the program
    BOOL inheritHandles = FALSE;
    DWORD creationFlags = 0;
    const char* currentDir = nullptr;
    STARTUPINFOA* startup = nullptr; // nullptr: an empty one
};

// CreateProcessA with the command line and options; on failure GetLastError() tells why.
inline bool startForTest(const std::string& commandLine, const StartOptions& options,
                         PROCESS_INFORMATION& info, std::ostream& notes) {
    STARTUPINFOA plain{};
    plain.cb = sizeof(plain);
    for (int attempt = 1;; ++attempt) {
        // CreateProcessA may write into the command line: a fresh copy for each attempt.
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        if (CreateProcessA(options.application, line.data(), nullptr, nullptr,
                           options.inheritHandles, options.creationFlags, nullptr,
                           options.currentDir,
                           options.startup != nullptr ? options.startup : &plain, &info)) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == kStartAttempts) {
            SetLastError(error);
            return false;
        }
        notes << "the test's own start of " << commandLine.substr(0, 100)
              << " failed with an internal error of the system (" << error << "), attempt "
              << attempt << " of " << kStartAttempts << ": starting it again" << std::endl;
    }
}

} // namespace test_start

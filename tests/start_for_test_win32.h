#pragma once

// How the Windows tests start the programs they need themselves (the program under test, a
// shell, the stand-in VM directly): each start is tried again where Wine fails it with an
// internal error of its own. ERROR_INTERNAL_ERROR comes from Wine when the new process ended
// before Wine had set it up, which says nothing about the program started; such a start is
// tried up to kStartAttempts times in all, with a line on `notes` for each failed attempt.
// Every other error is the caller's, and what the programs under test start themselves is
// never tried again.
#include <windows.h>

#include <ostream>
#include <string>

namespace test_start {

constexpr int kStartAttempts = 3;

// Calls `attempt` (one CreateProcess call: true when it started the program, else false with
// GetLastError() telling why) until the program starts, the error is another, or the attempts
// are used up. `what` names the program in the notes.
template <typename Attempt>
bool startForTest(const std::string& what, std::ostream& notes, Attempt attempt) {
    for (int number = 1;; ++number) {
        if (attempt()) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || number == kStartAttempts) {
            SetLastError(error);
            return false;
        }
        notes << "the test's own start of " << what.substr(0, 100)
              << " failed with an internal error of the system (" << error << "), attempt "
              << number << " of " << kStartAttempts << ": starting it again" << std::endl;
    }
}

} // namespace test_start

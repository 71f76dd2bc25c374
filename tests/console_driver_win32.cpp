// Sends Ctrl+C to a launcher on the console they share, as a user at the keyboard would:
//   console_driver <result file> <events> <launcher command line>
// Starts the launcher on this console, waits for its VM (the stand-in VM writes its process
// id into STAND_IN_PID_FILE), then sends `events` CTRL_C_EVENTs to every process on the
// console, each one once the VM has logged the one before (STAND_IN_SIGNAL_LOG), and waits
// for the launcher's end. It writes "exit <code>" into the result file, or what went wrong,
// as its last line (the lines before note the launcher's starts tried again, see
// start_for_test_win32.h), and exits 0 when the launcher ended, 1 otherwise. The driver
// itself ignores the events. Wine delivers console events only to programs on a real console:
// run it in a pseudo-terminal (script -qec "..." /dev/null).
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "start_for_test_win32.h"

namespace {

constexpr auto kLimit = std::chrono::seconds(20);

BOOL WINAPI ignoreEvent(DWORD /*event*/) {
    return TRUE;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::size_t linesIn(const std::string& path) {
    std::size_t lines = 0;
    for (const char c : contentOf(path)) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines;
}

// Polls `condition` until it holds or the limit has passed.
template <typename Condition> bool within(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Notes on the launcher's start, written before the result.
std::ostringstream notes;

int finish(const std::string& resultPath, const std::string& text, int code) {
    std::ofstream(resultPath, std::ios::binary) << notes.str() << text << '\n';
    return code;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: console_driver <result file> <events> <command line>\n");
        return 2;
    }
    const std::string resultPath = argv[1];
    const int events = std::atoi(argv[2]);
    std::string commandLine = argv[3];
    const std::string pidFile = environment("STAND_IN_PID_FILE");
    const std::string log = environment("STAND_IN_SIGNAL_LOG");
    SetConsoleCtrlHandler(ignoreEvent, TRUE);

    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION launcher{};
    if (!test_start::startForTest(commandLine, notes, [&] {
            std::string line = commandLine;
            return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &launcher) != FALSE;
        })) {
        return finish(resultPath, "cannot start " + commandLine, 1);
    }
    if (!within([&] { return !contentOf(pidFile).empty(); })) {
        TerminateProcess(launcher.hProcess, 1);
        return finish(resultPath, "the VM did not start", 1);
    }
    for (int event = 0; event < events; ++event) {
        if (event > 0 && !within([&] { return linesIn(log) >= static_cast<std::size_t>(event); })) {
            TerminateProcess(launcher.hProcess, 1);
            return finish(resultPath, "the VM did not log event " + std::to_string(event), 1);
        }
        if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
            TerminateProcess(launcher.hProcess, 1);
            return finish(resultPath,
                          "GenerateConsoleCtrlEvent failed: " + std::to_string(GetLastError()), 1);
        }
    }
    const DWORD limitMs =
        static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(kLimit).count());
    if (WaitForSingleObject(launcher.hProcess, limitMs) != WAIT_OBJECT_0) {
        TerminateProcess(launcher.hProcess, 1);
        return finish(resultPath, "the launcher did not end", 1);
    }
    DWORD code = 0;
    GetExitCodeProcess(launcher.hProcess, &code);
    return finish(resultPath, "exit " + std::to_string(code), 0);
}

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "stand_in_vm.h"

std::string rawCommandLine(int /*argc*/, char** /*argv*/) {
    return GetCommandLineA();
}

long currentProcessId() {
    return static_cast<long>(GetCurrentProcessId());
}

void ignoreInterrupt() {
    SetConsoleCtrlHandler(nullptr, TRUE);
    std::signal(SIGINT, SIG_IGN);
}

std::vector<std::string> environmentEntries() {
    std::vector<std::string> entries;
    char* block = GetEnvironmentStringsA();
    for (const char* entry = block; *entry != '\0'; entry += entries.back().size() + 1) {
        entries.emplace_back(entry);
    }
    FreeEnvironmentStringsA(block);
    return entries;
}

namespace {
std::string eventLog;
std::atomic<int> eventsLeft{0};
int eventExitCode = 0;
long cleanUpMs = 0;

void appendToLog(const std::string& text) {
    if (std::FILE* file = std::fopen(eventLog.c_str(), "ab")) {
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }
}

// Runs on a thread of its own for each event.
BOOL WINAPI logConsoleEvent(DWORD event) {
    appendToLog(std::to_string(event) + "\n");
    if (--eventsLeft <= 0) {
        if (cleanUpMs > 0) {
            Sleep(static_cast<DWORD>(cleanUpMs));
            appendToLog("cleaned up\n");
        }
        ExitProcess(static_cast<UINT>(eventExitCode));
    }
    return TRUE;
}
} // namespace

void catchStopRequests(const char* logPath, int signalsToExit, int exitCode, long cleanUp) {
    eventLog = logPath;
    eventsLeft = signalsToExit;
    eventExitCode = exitCode;
    cleanUpMs = cleanUp;
    SetConsoleCtrlHandler(logConsoleEvent, TRUE);
}

bool orphansReaped(int /*count*/) {
    return false;
}

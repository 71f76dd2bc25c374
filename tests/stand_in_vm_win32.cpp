#include <windows.h>

#include <csignal>

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

void catchTerminationSignals(const char* /*logPath*/, int /*signalsToExit*/, int /*exitCode*/) {}

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

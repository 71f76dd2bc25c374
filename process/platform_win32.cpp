// Placeholder until the platform layer lands.
#include "process/platform.h"
namespace platform {
StartResult startVm(const std::string&) { return {}; }
StartResult startMonitor(const std::string&) { return {}; }
ProcessHandle openOwnProcess() { return {}; }
void waitForExit(ProcessHandle) {}
int exitCodeOf(ProcessHandle) { return 0; }
void terminate(ProcessHandle) {}
void startThread(void (*)(void*), void*) {}
std::string errorText(unsigned long code, const std::string&) { return std::to_string(code); }
} // namespace platform

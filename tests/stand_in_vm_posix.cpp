#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include "stand_in_vm.h"

// Linux passes argv itself; its elements joined with spaces stand for the command line.
std::string rawCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) {
            line += ' ';
        }
        line += argv[i];
    }
    return line;
}

long currentProcessId() {
    return static_cast<long>(getpid());
}

void ignoreInterrupt() {
    std::signal(SIGINT, SIG_IGN);
}

extern char** environ;

std::vector<std::string> environmentEntries() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        entries.emplace_back(*entry);
    }
    return entries;
}

namespace {
const char* signalLog = nullptr;
int signalsLeft = 0;
int signalExitCode = 0;

extern "C" void logTerminationSignal(int number) {
    const int fd = open(signalLog, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd >= 0) {
        const char line[] = {static_cast<char>('0' + number / 10),
                             static_cast<char>('0' + number % 10), '\n'};
        const bool twoDigits = number >= 10;
        (void)!write(fd, twoDigits ? line : line + 1, twoDigits ? 3 : 2);
        close(fd);
    }
    if (--signalsLeft <= 0) {
        _exit(signalExitCode);
    }
}
} // namespace

void catchTerminationSignals(const char* logPath, int signalsToExit, int exitCode) {
    signalLog = logPath;
    signalsLeft = signalsToExit;
    signalExitCode = exitCode;
    struct sigaction action {};
    action.sa_handler = logTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGHUP);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

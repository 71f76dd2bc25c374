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

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <ctime>
#include <thread>

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
long cleanUpMs = 0;

void appendToLog(const char* text, std::size_t length) {
    const int fd = open(signalLog, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd >= 0) {
        (void)!write(fd, text, length);
        close(fd);
    }
}

extern "C" void logStopSignal(int number) {
    const char line[] = {static_cast<char>('0' + number / 10), static_cast<char>('0' + number % 10),
                         '\n'};
    const bool twoDigits = number >= 10;
    appendToLog(twoDigits ? line : line + 1, twoDigits ? 3 : 2);
    if (--signalsLeft <= 0) {
        if (cleanUpMs > 0) {
            const timespec pause{cleanUpMs / 1000, (cleanUpMs % 1000) * 1000000};
            nanosleep(&pause, nullptr);
            appendToLog("cleaned up\n", 11);
        }
        _exit(signalExitCode);
    }
}
} // namespace

void catchStopRequests(const char* logPath, int signalsToExit, int exitCode, long cleanUp) {
    signalLog = logPath;
    signalsLeft = signalsToExit;
    signalExitCode = exitCode;
    cleanUpMs = cleanUp;
    struct sigaction action {};
    action.sa_handler = logStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
        sigaddset(&action.sa_mask, number);
    }
    for (const int number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
        sigaction(number, &action, nullptr);
    }
}

bool orphansReaped(int count) {
    std::vector<pid_t> orphans;
    for (int i = 0; i < count; ++i) {
        int ends[2];
        if (pipe(ends) != 0) {
            return false;
        }
        const pid_t parent = fork();
        if (parent == 0) {
            const pid_t orphan = fork();
            if (orphan == 0) {
                const timespec pause{0, 20 * 1000 * 1000};
                nanosleep(&pause, nullptr);
                _exit(0);
            }
            (void)!write(ends[1], &orphan, sizeof(orphan));
            _exit(0);
        }
        pid_t orphan = 0;
        const bool told = read(ends[0], &orphan, sizeof(orphan)) == sizeof(orphan);
        close(ends[0]);
        close(ends[1]);
        waitpid(parent, nullptr, 0);
        if (!told || orphan <= 0) {
            return false;
        }
        orphans.push_back(orphan);
    }
    // A zombie still takes signal 0; a reaped process is gone.
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        bool gone = true;
        for (const pid_t orphan : orphans) {
            gone = gone && kill(orphan, 0) != 0 && errno == ESRCH;
        }
        if (gone) {
            return true;
        }
        if (std::chrono::steady_clock::now() > bound) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

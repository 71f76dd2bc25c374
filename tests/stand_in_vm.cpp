// A stand-in for the Java VM in end-to-end tests. It is steered by environment variables,
// which pass through the launcher unchanged:
//   STAND_IN_RECORD   file to write the raw command line and argv into (see below)
//   STAND_IN_PID_FILE file to write the process id into, once started
//   STAND_IN_ENVIRONMENT file to write the environment into, an entry per variable
//   STAND_IN_STDOUT   text to print on standard output
//   STAND_IN_STDERR   text to print on standard error
//   STAND_IN_IGNORE_INT  when set, interrupts (Ctrl+C, SIGINT) are ignored
//   STAND_IN_SIGNAL_LOG  requests to stop (Linux: SIGINT, SIGQUIT, SIGTERM and SIGHUP;
//                     Windows: console events) are caught and logged to this file, one
//                     number a line; the STAND_IN_SIGNALS_TO_EXIT-th (default 1) ends the
//                     process with STAND_IN_EXIT, after STAND_IN_CLEANUP_MS milliseconds
//                     and a line "cleaned up" when that is set
//   STAND_IN_RELEASE  a file whose appearance lets the stand-in go on to exit (after the
//                     rest is written): the test creates it once it has looked at the
//                     running VM. After kReleaseBound without it, the stand-in goes on all
//                     the same, so that a test that failed before releasing it leaves no
//                     process for ever
//   STAND_IN_ORPHANS  a number of short-lived processes to leave to whoever adopts orphans
//                     (Linux); the stand-in runs on until each has been reaped, or ends with
//                     kOrphansKept when one is still there (a zombie) after a bound
//   STAND_IN_SLEEP_MS milliseconds to sleep before exiting
//   STAND_IN_EXIT     exit code (default 0)
//   STAND_IN_RAISE    a signal number: instead of exiting, the stand-in ends by that signal,
//                     as a VM that crashed or was killed
// Both files hold one entry per line, each "<byte count> <bytes>"; the record first the raw
// command line, then argv[0], argv[1], ...
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "stand_in_vm.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kReleaseBound = 60s;
constexpr int kOrphansKept = 97;

const char* setting(const char* name) {
    return std::getenv(name);
}

bool exists(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file != nullptr) {
        std::fclose(file);
    }
    return file != nullptr;
}

void waitForRelease(const char* path) {
    const auto bound = std::chrono::steady_clock::now() + kReleaseBound;
    while (!exists(path) && std::chrono::steady_clock::now() < bound) {
        std::this_thread::sleep_for(5ms);
    }
}

void writeEntry(std::FILE* file, const std::string& text) {
    std::fprintf(file, "%zu ", text.size());
    std::fwrite(text.data(), 1, text.size(), file);
    std::fputc('\n', file);
}

void writeFile(const char* path, const std::string& text) {
    std::FILE* file = std::fopen(path, "wb");
    if (file != nullptr) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (setting("STAND_IN_IGNORE_INT") != nullptr) {
        ignoreInterrupt();
    }
    const char* code = setting("STAND_IN_EXIT");
    const int exitCode = code != nullptr ? std::atoi(code) : 0;
    if (const char* path = setting("STAND_IN_SIGNAL_LOG")) {
        const char* count = setting("STAND_IN_SIGNALS_TO_EXIT");
        const char* cleanUp = setting("STAND_IN_CLEANUP_MS");
        catchStopRequests(path, count != nullptr ? std::atoi(count) : 1, exitCode,
                          cleanUp != nullptr ? std::atol(cleanUp) : 0);
    }
    if (const char* path = setting("STAND_IN_RECORD")) {
        if (std::FILE* file = std::fopen(path, "wb")) {
            writeEntry(file, rawCommandLine(argc, argv));
            for (int i = 0; i < argc; ++i) {
                writeEntry(file, argv[i]);
            }
            std::fclose(file);
        }
    }
    if (const char* path = setting("STAND_IN_ENVIRONMENT")) {
        if (std::FILE* file = std::fopen(path, "wb")) {
            for (const std::string& entry : environmentEntries()) {
                writeEntry(file, entry);
            }
            std::fclose(file);
        }
    }
    if (const char* path = setting("STAND_IN_PID_FILE")) {
        writeFile(path, std::to_string(currentProcessId()));
    }
    if (const char* text = setting("STAND_IN_STDOUT")) {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
    if (const char* text = setting("STAND_IN_STDERR")) {
        std::fputs(text, stderr);
        std::fflush(stderr);
    }
    if (const char* count = setting("STAND_IN_ORPHANS");
        count != nullptr && !orphansReaped(std::atoi(count))) {
        return kOrphansKept;
    }
    if (const char* path = setting("STAND_IN_RELEASE"); path != nullptr && *path != '\0') {
        waitForRelease(path);
    }
    if (const char* sleep = setting("STAND_IN_SLEEP_MS")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(sleep)));
    }
    if (const char* signal = setting("STAND_IN_RAISE")) {
        std::signal(std::atoi(signal), SIG_DFL);
        std::raise(std::atoi(signal));
    }
    return exitCode;
}

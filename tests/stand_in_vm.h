#pragma once

#include <string>
#include <vector>

// Platform parts of the stand-in VM.
std::string rawCommandLine(int argc, char** argv);
long currentProcessId();
void ignoreInterrupt();
// The process's environment, "NAME=value" each, as the system keeps it.
std::vector<std::string> environmentEntries();
// Linux: SIGTERM and SIGHUP are caught; each one's number is appended to `logPath` as a
// line, and the `signalsToExit`-th ends the process with `exitCode`. Windows has no such
// signals: nothing happens.
void catchTerminationSignals(const char* logPath, int signalsToExit, int exitCode);

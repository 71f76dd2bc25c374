#pragma once

#include <string>
#include <vector>

// Platform parts of the stand-in VM.
std::string rawCommandLine(int argc, char** argv);
long currentProcessId();
void ignoreInterrupt();
// The process's environment, "NAME=value" each, as the system keeps it.
std::vector<std::string> environmentEntries();
// Requests to stop are caught (Linux: SIGINT, SIGQUIT, SIGTERM, SIGHUP; Windows: the console
// events); each one's number (the signal's, or the event's) is appended to `logPath` as a
// line, and the `signalsToExit`-th ends the process with `exitCode`, after a clean-up of
// `cleanUpMs` milliseconds (if any) that ends with the line "cleaned up".
void catchStopRequests(const char* logPath, int signalsToExit, int exitCode, long cleanUpMs);
// Leaves `count` processes that end a moment after their parent, a child of the stand-in, to
// whoever adopts orphans; true once every one of them has been reaped, false when one is
// still there after a bound (Windows keeps no ended process for a parent to reap: false).
bool orphansReaped(int count);

#pragma once

#include <cstdint>
#include <string>

// The thin layer over the platform's process operations. Windows implements it with
// CreateProcessA and process handles (platform_win32.cpp), Linux with posix_spawn and pidfds
// (platform_posix.cpp); everything above it is shared.
namespace platform {

// A process as the platform names it: a HANDLE on Windows, a pidfd on Linux. The value is
// what travels to the monitor as a decimal number; 0 is "no process".
class ProcessHandle {
  public:
    ProcessHandle() = default;
    explicit ProcessHandle(std::intptr_t value) : value_(value) {}
    std::intptr_t value() const { return value_; }

  private:
    std::intptr_t value_ = 0;
};

struct StartResult {
    bool started = false;
    ProcessHandle process;   // valid when started
    unsigned long error = 0; // the platform's error code when not started
};

// Starts the Java VM from a command line (split into program and arguments by the Windows
// rules): on the caller's console, inheriting no handles; the returned handle is
// inheritable, so that a process started later with inheritance gets it too. The VM ends
// with the launcher however the launcher ends: on Windows it runs in a job that the
// launcher alone holds open, on Linux it has SIGKILL as its parent-death signal. Where to
// find the program: Windows searches for a bare name where CreateProcessA would, but never
// in the current directory; Linux searches PATH as exec does. From the VM's start on, a
// SIGTERM or SIGHUP that reaches the launcher on Linux is passed on to the VM (unless the
// launcher was started with it ignored).
StartResult startVm(const std::string& commandLine);

// Starts the monitor from its command line: this executable's own file, whatever the
// command line's first word names, detached from the console, inheriting the inheritable
// handles under the same values. On Windows it joins the job the VM is in, so that a
// launcher ended during the monitor's start takes the half-started monitor with it.
StartResult startMonitor(const std::string& commandLine);

// An inheritable handle to this process; ProcessHandle() when it cannot be had.
ProcessHandle openOwnProcess();

// Waits without time limit until the process has ended; returns at once for a handle that
// does not name a process.
void waitForExit(ProcessHandle process);

// The exit code of an ended child process as a shell reports it (on Linux 128 plus the
// signal number for a process ended by a signal).
int exitCodeOf(ProcessHandle process);

// Ends the process at once (exit code 1 on Windows, SIGKILL on Linux). Does nothing to a
// process that has already ended.
void terminate(ProcessHandle process);

// Whether the launcher must not end while the monitor is still being started: on Windows
// that can leave the monitor half started (seen under Wine); on Linux the new process goes
// on to exec on its own.
bool mustAwaitMonitorStart();

// Runs function(argument) on a new thread that is never joined; false when no thread could
// be started.
bool startThread(void (*function)(void*), void* argument);

// The system's message for an error code, without a line end, with `insert` for each
// insert (%1, %2, ...) in it; the code in decimal when the system has no message for it.
std::string errorText(unsigned long code, const std::string& insert);

} // namespace platform

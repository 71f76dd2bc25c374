#pragma once

#include <cstdint>
#include <string>

// The thin layer over the platform's process operations. Windows implements it with
// CreateProcessA and process handles (platform_win32.cpp), Linux with posix_spawn and pidfds,
// or process ids where the kernel has no pidfds (platform_posix.cpp); everything above it is
// shared.
namespace platform {

// A process as the platform names it: a HANDLE on Windows; on Linux a pidfd, or where the
// system has none a process id written as its negative, and for the launcher itself the
// read end of a pipe that only the launcher holds open. The value is what travels to the
// monitor as a decimal number; 0 is "no process".
class ProcessHandle {
  public:
    ProcessHandle() = default;
    explicit ProcessHandle(std::intptr_t value) : value_(value) {}
    std::intptr_t value() const { return value_; }

  private:
    std::intptr_t value_ = 0;
};

// A process started or opened, or the platform's error code when that failed.
struct ProcessResult {
    bool ok = false;
    ProcessHandle process;   // valid when ok
    unsigned long error = 0; // the platform's error code when not ok
};

// What the monitor needs of this process, had before the VM starts, so that a launcher that
// could not be watched starts nothing: an inheritable handle to this process, and on Windows
// this executable's own file to start the monitor from. The error when either cannot be had.
// On Linux this also settles, once per run, whether processes are named by pidfds or by
// process ids.
ProcessResult openOwnProcess();

// Starts the Java VM from a command line (split into program and arguments by the Windows
// rules): on the caller's console, inheriting none of the launcher's own handles. The VM
// ends with the launcher however the launcher ends: on Windows it runs in a job that the
// launcher alone holds open, on Linux it has SIGKILL as its parent-death signal. Where to
// find the program: Windows searches for a bare name where CreateProcessA would, but never
// in the current directory; Linux searches PATH as exec does. From the VM's start on, the
// requests to stop that reach the launcher are handled as stopActionFor decides: passed on
// to the VM, left to the VM (which shares the console and got its own), or a second
// interrupt ends the VM at once. One that came while the VM was being started is held and
// decided once it runs.
ProcessResult startVm(const std::string& commandLine);

// Whether the monitor is a fork of this process (Linux), made while the main thread is its
// only thread, which then watches the monitor while it waits for the VM (waitForVm); or a
// process started from this executable's file (Windows), started and watched by the watcher
// thread.
bool forksMonitor();

// Starts the monitor, detached from the console, with the two handles `launcher` and `vm`
// under the same values and nothing else of the launcher's. Windows: from its command line,
// but from this executable's own file whatever the command line's first word names; it
// joins the job the VM is in, so that a launcher ended during the monitor's start takes the
// half-started monitor with it. Linux: a fork of this process that runs the monitor's loop
// without an exec (the command line is not used), under this process's name with "-mon"
// added.
ProcessResult startMonitor(const std::string& commandLine, ProcessHandle launcher,
                           ProcessHandle vm);

// Monitor mode, at its start: requests to stop that are meant for the whole tool (Linux:
// SIGTERM, SIGHUP, SIGINT, SIGQUIT sent to every process of a run) do not end the monitor,
// which ends when the launcher does; and it keeps nothing of the launcher's but the two
// handles (Linux: every other descriptor above the standard streams is closed; Windows: it
// inherited nothing else).
void enterMonitorMode(ProcessHandle launcher, ProcessHandle vm);

// Waits without time limit until the process has ended; returns at once for a handle that
// does not name a process. 0, or the platform's error code when the wait failed.
unsigned long waitForExit(ProcessHandle process);

// Waits without time limit until the VM has ended; should the monitor end first, ends the
// VM (as watchMonitor does) and waits on. 0, or the platform's error code when the wait
// failed.
unsigned long waitForVm(ProcessHandle vm, ProcessHandle monitor);

// Whether the process has ended, without waiting; true for a handle that names no process.
bool hasEnded(ProcessHandle process);

// How an ended child process ended: with an exit code, or (Linux) killed by a signal; or,
// when that cannot be had, the platform's error code.
struct ProcessEnd {
    bool ok = false;
    int exitCode = 0;
    int signal = 0; // the signal that ended it, 0 when it exited
    unsigned long error = 0;
};

// How the VM ended, once waitForExit has returned. Requests to stop are no longer passed on
// to it from here on.
ProcessEnd endOf(ProcessHandle process);

// Ends this process by the signal that ended the VM, as the VM was ended, without writing a
// core (Linux; Windows processes end with exit codes only, and endOf never reports a signal
// there). Returns where the signal cannot end this process: as process 1 of a PID
// namespace, which ignores a signal it has no handler for.
void endBySignal(int signal);

// Ends the process at once (exit code 1 on Windows, SIGKILL on Linux). Does nothing to a
// process that has already ended, nor to a process id that is not an unreaped child of this
// process.
void terminate(ProcessHandle process);

// Runs function(argument) on a new thread that is never joined and takes no signals; false
// when no thread could be started. Linux, which forks its monitor, starts none.
bool startThread(void (*function)(void*), void* argument);

// The system's message for an error code, without a line end, with `insert` for each
// insert (%1, %2, ...) in it; the code in decimal when the system has no message for it.
std::string errorText(unsigned long code, const std::string& insert);

} // namespace platform

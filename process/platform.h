#pragma once

#include <cstdint>
#include <string>

// The process operations that the launcher and its monitor need: one contract for both
// systems, implemented by each in small files of its own, chosen by CMake (*_posix.cpp,
// *_win32.cpp). Who starts the monitor and who watches it is each system's own business;
// supervise.cpp above turns what happened into a message and an exit status.
namespace platform {

// A process as a monitor's command line names it: a HANDLE on Windows, a pidfd on Linux (for
// a monitor started by hand); 0 is "no process".
class ProcessHandle {
  public:
    ProcessHandle() = default;
    explicit ProcessHandle(std::intptr_t value) : value_(value) {}
    std::intptr_t value() const { return value_; }

  private:
    std::intptr_t value_ = 0;
};

// How the launcher's run of the VM came out: the VM's end, or the step that failed.
struct VmRun {
    enum class Failed {
        Nothing,      // the VM ran and has ended
        MonitorStart, // no monitor: nothing was started, or the VM has been ended
        VmStart,      // the VM could not be started
        VmEnd,        // the VM's end could not be learnt: the VM has been ended
    };
    Failed failed = Failed::Nothing;
    unsigned long error = 0; // the system's error code of the step that failed
    int exitCode = 0;
    int signal = 0; // Linux: the signal that ended the VM; 0 when it exited
};

// Starts the Java VM from a command line (split into program and arguments by the Windows
// rules) on the caller's console, inheriting none of the launcher's own handles, and a
// monitor, detached from the console, that ends the VM should the launcher end first; the
// monitor is watched in turn, and should it end first, the VM is ended. Waits for the VM and
// returns how it ended, once nothing of the run but the VM's end is left (Linux: the monitor
// has been ended and reaped). What the monitor needs of the launcher is had before the VM
// starts, so that a launcher that cannot be watched starts nothing.
// - The VM ends with the launcher however the launcher ends: on Windows it runs in a job that
//   the launcher alone holds open, on Linux it has SIGKILL as its parent-death signal.
// - The program: Windows searches for a bare name where CreateProcessA would, but never in
//   the current directory; Linux searches PATH as exec does.
// - From the VM's start on, the requests to stop that reach the launcher are handled as
//   stopActionFor decides; one that came while the VM was being started is held and decided
//   once it runs.
// - `launcherName`, argv[0] as the launcher got it, is the monitor's name on its command
//   line.
VmRun runVm(const std::string& commandLine, const std::string& launcherName);

// Monitor mode, for a monitor started with a command line that names two handles it
// inherited (Windows: the monitor that the launcher starts; Linux: one started by hand, with
// pidfds): requests to stop meant for the whole tool do not end it, it keeps nothing of its
// starter's but the two handles, waits until the launcher has ended and ends the VM.
void endVmWithLauncher(ProcessHandle launcher, ProcessHandle vm);

// Ends this process by the signal that ended the VM, as the VM was ended, without writing a
// core (Linux; Windows processes end with exit codes only, and runVm never reports a signal
// there). Returns where the signal cannot end this process: as process 1 of a PID
// namespace, which ignores a signal it has no handler for.
void endBySignal(int signal);

// The system's message for an error code, without a line end, with `insert` for each
// insert (%1, %2, ...) in it; the code in decimal when the system has no message for it.
std::string errorText(unsigned long code, const std::string& insert);

} // namespace platform

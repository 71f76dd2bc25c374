#pragma once

// The requests to stop that reach the launcher on Linux while the VM runs: SIGINT (Ctrl+C),
// SIGQUIT (Ctrl+\), SIGTERM and SIGHUP, handled as stopActionFor decides. The terminal sends
// SIGINT, SIGQUIT and SIGHUP to its whole foreground process group, the VM included; the
// kernel marks those (SI_KERNEL), while a program's kill does not. The SIGHUP of a terminal
// that hangs up goes to its session's leader alone, which the launcher is when it was
// started as a terminal's first program (ssh -t, xterm -e, docker run -it).
//
// Around the VM's start the steps follow one another as the types allow: StopSignalsHeld
// (from before the VM's process exists) -> takePending -> StopSignalsTaken, whose
// resetInChild serves the VM's process before its exec, and which ends in start (the VM
// runs) or abandon (it does not).
#include <signal.h>
#include <sys/types.h>

#include <array>

namespace platform::posix {

// A signal taken before the VM's start, to be decided once it runs.
struct TakenSignal {
    int signal = 0;
    bool fromTerminal = false;
};

// As many as there are stop signals; the unused ones are signal 0.
using TakenSignals = std::array<TakenSignal, 4>;

struct StopSignalState {
    sigset_t previousMask{};
    std::array<bool, 4> installed{}; // not ignored from the start: handled
    TakenSignals taken{};
};

class StopSignalsTaken;

// The signals held back, from before the VM's process exists until it runs: one that arrives
// meanwhile waits. A signal the launcher was started with ignored (nohup, a background job
// of a non-interactive shell) stays ignored, in the launcher and in the VM, as after an exec.
// Made in the launcher while no other thread runs.
class StopSignalsHeld {
  public:
    StopSignalsHeld();
    StopSignalsHeld(StopSignalsHeld&&) = default;
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(StopSignalsHeld&&) = delete;
    ~StopSignalsHeld() = default;

    // Right before the VM's process is made: the signals held back until now came before the
    // VM existed, so that none of them reached it, the terminal's included. They are taken
    // here and decided once it runs.
    StopSignalsTaken takePending() &&;

  private:
    StopSignalState state_;
};

class StopSignalsTaken {
  public:
    StopSignalsTaken(StopSignalsTaken&&) = default;
    StopSignalsTaken(const StopSignalsTaken&) = delete;
    StopSignalsTaken& operator=(const StopSignalsTaken&) = delete;
    StopSignalsTaken& operator=(StopSignalsTaken&&) = delete;
    ~StopSignalsTaken() = default;

    // In the VM's process between vfork and exec: it starts with the launcher's own signal
    // mask and the signals at their defaults, and a signal for it until the exec ends it.
    void resetInChild() const;

    // The VM runs: the signals taken before its start, and any still held back now, which
    // came before the launcher knew the VM (whether it got them cannot be told), are passed
    // on to it and never count towards a second interrupt; from now on the signals are
    // handled as they come.
    void start(pid_t vm) &&;

    // The VM did not start: everything as before, so that a signal held back meanwhile ends
    // the launcher as it would have.
    void abandon() &&;

  private:
    friend class StopSignalsHeld;
    explicit StopSignalsTaken(const StopSignalState& state) : state_(state) {}

    StopSignalState state_;
};

// From now on no signal reaches the VM from the launcher (nothing to do where none did):
// called before the VM is reaped, after which its process id may name another process. The
// launcher runs no other thread, so no handler can be sending anything while this returns.
void stopPassingSignalsOn();

// The four signals, as a set.
sigset_t stopSignalSet();

// Monitor mode: the four signals are ignored and no longer blocked (a forked monitor starts
// with them blocked, so that none ends it, nor runs the launcher's handler, before this).
void ignoreStopSignals();

} // namespace platform::posix

#pragma once

// The requests to stop that reach the launcher on Linux while the VM runs: SIGINT (Ctrl+C),
// SIGQUIT (Ctrl+\), SIGTERM and SIGHUP, handled as stopActionFor decides. The terminal sends
// SIGINT, SIGQUIT and SIGHUP to its whole foreground process group, the VM included; the
// kernel marks those (SI_KERNEL), while a program's kill does not. The SIGHUP of a terminal
// that hangs up goes to its session's leader alone, which the launcher is when it was
// started as a terminal's first program (ssh -t, xterm -e, docker run -it).
#include <signal.h>

#include <array>

#include "process/platform.h"

namespace platform::posix {

class StopSignals {
  public:
    // In the launcher before the VM's start, while no other thread runs. The signals are held
    // back from before the VM's process exists until its handle is known: one that arrives
    // meanwhile waits and is handled then. A signal the launcher was started with ignored
    // (nohup, a background job of a non-interactive shell) stays ignored, in the launcher and
    // in the VM, as after an exec.
    StopSignals();

    // Right before the VM's process is made: the signals held back until now came before the
    // VM existed, so that none of them reached it, the terminal's included. They are taken
    // here and passed on once it runs.
    void takePending();

    // In the child between vfork and exec: the VM starts with the launcher's own signal mask
    // and the signals at their defaults, and a signal for it until the exec ends it.
    void resetInChild() const { restore(); }

    // The VM runs: the signals taken before its start are passed on to it, and the signals
    // are handled from now on.
    void start(ProcessHandle vm);

    // The VM did not start: everything as before, so that a signal held back meanwhile ends
    // the launcher as it would have.
    void abandon() const;

  private:
    struct Taken {
        int signal = 0;
        bool fromTerminal = false;
    };

    void restore() const;
    void resetActions() const;

    sigset_t previousMask_{};
    std::array<bool, 4> installed_{};
    std::array<Taken, 4> taken_{};
};

// From now on no signal reaches the VM from the launcher (nothing to do where none did):
// called on the main thread before the VM is reaped, after which its process id may name
// another process. The launcher runs no other thread, so no handler can be sending anything
// while this returns.
void stopPassingSignalsOn();

// The four signals, as a set.
sigset_t stopSignalSet();

// Monitor mode: the four signals are ignored (the monitor starts with them blocked, so that
// none ends it before this).
void ignoreStopSignals();

} // namespace platform::posix

#pragma once

// The requests to stop that reach the launcher on Linux while the VM runs: SIGINT (Ctrl+C),
// SIGQUIT (Ctrl+\), SIGTERM and SIGHUP, handled as stopActionFor decides. The terminal sends
// SIGINT, SIGQUIT and a hang-up's SIGHUP to its whole foreground process group, the VM
// included; the kernel marks those (SI_KERNEL), while a program's kill does not.
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

    // In the child between vfork and exec: the VM starts with the launcher's own signal mask
    // and the signals at their defaults, and a signal for it until the exec ends it.
    void resetInChild() const { restore(); }

    // The VM runs: the signals are handled from now on.
    void start(ProcessHandle vm);

    // The VM did not start: everything as before, so that a signal held back meanwhile ends
    // the launcher as it would have.
    void abandon() const { restore(); }

  private:
    void restore() const;

    sigset_t previousMask_{};
    std::array<bool, 4> installed_{};
};

// From now on no signal reaches the VM from the launcher (nothing to do where none did):
// called on the main thread before
// the VM is reaped, after which its process id may name another process. Signals are only
// handled on the main thread (startThread blocks them in every other thread), so no handler
// can be sending anything while this returns.
void stopPassingSignalsOn();

// The four signals, as a set.
sigset_t stopSignalSet();

// Monitor mode: the four signals are ignored (the monitor starts with them blocked, so that
// none ends it before this).
void ignoreStopSignals();

} // namespace platform::posix

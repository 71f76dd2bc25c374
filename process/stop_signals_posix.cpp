#include "process/stop_signals_posix.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <ctime>

#include "process/stop_request.h"

namespace platform::posix {

namespace {

constexpr std::array<int, 4> kStopSignals = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

StopRequest requestFor(int signal) {
    switch (signal) {
    case SIGINT:
        return StopRequest::Interrupt;
    case SIGQUIT:
        return StopRequest::Quit;
    case SIGHUP:
        return StopRequest::HangUp;
    default:
        return StopRequest::Terminate;
    }
}

// The VM's process id while signals are handled; 0 before and after. The handler reads
// atomics and makes one system call, all of which is safe in a signal handler.
std::atomic<pid_t> vmProcess{0};
std::atomic<int> consoleInterrupts{0};
// Whether the launcher leads its session, which it never leaves: then a terminal's hang-up
// reached it alone.
std::atomic<bool> leadsSession{false};
static_assert(std::atomic<pid_t>::is_always_lock_free, "read in a signal handler");
static_assert(std::atomic<int>::is_always_lock_free, "changed in a signal handler");
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

// `vmKnown`: the signal came once the launcher knew the VM, which then existed, so that the
// terminal's reached it too.
StopOrigin originOf(int signal, bool fromTerminal, bool vmKnown) {
    if (!fromTerminal) {
        return StopOrigin::Program;
    }
    if (!vmKnown) {
        return StopOrigin::DuringVmStart;
    }
    if (signal == SIGHUP && leadsSession.load()) {
        return StopOrigin::ConsoleNotToVm;
    }
    return StopOrigin::Console;
}

void actOn(int signal, StopOrigin origin) {
    const pid_t vm = vmProcess.load();
    if (vm == 0) {
        return;
    }
    const StopRequest request = requestFor(signal);
    const int interruptsBefore =
        isConsoleInterrupt(request, origin) ? consoleInterrupts++ : consoleInterrupts.load();
    switch (stopActionFor(request, origin, interruptsBefore)) {
    case StopAction::PassOnToVm:
        // The VM is the launcher's unreaped child until stopPassingSignalsOn: its id names it.
        kill(vm, signal);
        break;
    case StopAction::EndVm:
        kill(vm, SIGKILL);
        break;
    case StopAction::LeaveToVm:
    case StopAction::WaitForVm:
        break;
    }
}

extern "C" void handleStopSignal(int signal, siginfo_t* info, void* /*context*/) {
    const int savedErrno = errno;
    actOn(signal, originOf(signal, info != nullptr && info->si_code == SI_KERNEL, true));
    errno = savedErrno;
}

sigset_t handledSet(const StopSignalState& state) {
    sigset_t handled;
    sigemptyset(&handled);
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (state.installed[i]) {
            sigaddset(&handled, kStopSignals[i]);
        }
    }
    return handled;
}

// The handled signals held back, taken without waiting; the rest of the array is signal 0. A
// signal ignored from the start is pending while it is blocked too, but never taken.
TakenSignals takeHeldBack(const StopSignalState& state) {
    const sigset_t handled = handledSet(state);
    const timespec noWait{};
    TakenSignals taken{};
    for (TakenSignal& next : taken) {
        siginfo_t info{};
        const int signal = sigtimedwait(&handled, &info, &noWait);
        if (signal <= 0) {
            break;
        }
        next = TakenSignal{signal, info.si_code == SI_KERNEL};
    }
    return taken;
}

void restore(const StopSignalState& state) {
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (state.installed[i]) {
            signal(kStopSignals[i], SIG_DFL);
        }
    }
    pthread_sigmask(SIG_SETMASK, &state.previousMask, nullptr);
}

} // namespace

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kStopSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

StopSignalsHeld::StopSignalsHeld() {
    leadsSession.store(getsid(0) == getpid());
    const sigset_t blocked = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &blocked, &state_.previousMask);
    struct sigaction action {};
    action.sa_sigaction = handleStopSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    // One handler at a time, so that two interrupts are counted one after the other.
    action.sa_mask = blocked;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        struct sigaction previous {};
        sigaction(kStopSignals[i], nullptr, &previous);
        state_.installed[i] =
            previous.sa_handler != SIG_IGN && sigaction(kStopSignals[i], &action, nullptr) == 0;
    }
}

StopSignalsTaken StopSignalsHeld::takePending() && {
    state_.taken = takeHeldBack(state_);
    return StopSignalsTaken(state_);
}

void StopSignalsTaken::resetInChild() const {
    restore(state_);
}

void StopSignalsTaken::start(pid_t vm) && {
    vmProcess.store(vm);
    // Those taken before the VM's process was made, then those that came after that look,
    // while it was being made, and wait still: taken here before the handler would take them
    // as ones the VM got.
    const auto passOn = [](const TakenSignals& signals) {
        for (const TakenSignal& taken : signals) {
            if (taken.signal != 0) {
                actOn(taken.signal, originOf(taken.signal, taken.fromTerminal, false));
            }
        }
    };
    passOn(state_.taken);
    passOn(takeHeldBack(state_));
    pthread_sigmask(SIG_SETMASK, &state_.previousMask, nullptr);
}

void StopSignalsTaken::abandon() && {
    // Pending again while still blocked, the signals taken end the launcher once restore
    // unblocks them.
    for (const TakenSignal& taken : state_.taken) {
        if (taken.signal != 0) {
            raise(taken.signal);
        }
    }
    restore(state_);
}

void stopPassingSignalsOn() {
    if (vmProcess.load() == 0) {
        return;
    }
    const sigset_t blocked = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    vmProcess.store(0);
}

void ignoreStopSignals() {
    for (const int signal : kStopSignals) {
        ::signal(signal, SIG_IGN);
    }
    const sigset_t blocked = stopSignalSet();
    pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
}

} // namespace platform::posix

#include "process/stop_signals_posix.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "process/handle_posix.h"
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

// The VM's handle while signals are handled; 0 before and after. The handler reads atomics
// and makes one system call, all of which is safe in a signal handler.
std::atomic<std::intptr_t> vmHandle{0};
std::atomic<int> consoleInterrupts{0};
// Whether the launcher leads its session, which it never leaves: then a terminal's hang-up
// reached it alone.
std::atomic<bool> leadsSession{false};
static_assert(std::atomic<std::intptr_t>::is_always_lock_free, "read in a signal handler");
static_assert(std::atomic<int>::is_always_lock_free, "changed in a signal handler");
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

// `vmExisted`: the signal came after the VM's process was made, so that the terminal's
// reached it too.
StopOrigin originOf(int signal, bool fromTerminal, bool vmExisted) {
    if (!fromTerminal) {
        return StopOrigin::Program;
    }
    if (!vmExisted) {
        return StopOrigin::DuringVmStart;
    }
    if (signal == SIGHUP && leadsSession.load()) {
        return StopOrigin::ConsoleNotToVm;
    }
    return StopOrigin::Console;
}

void actOn(int signal, StopOrigin origin) {
    const ProcessHandle vm(vmHandle.load());
    if (vm.value() == 0) {
        return;
    }
    const StopRequest request = requestFor(signal);
    const int interruptsBefore =
        isConsoleInterrupt(request, origin) ? consoleInterrupts++ : consoleInterrupts.load();
    switch (stopActionFor(request, origin, interruptsBefore)) {
    case StopAction::PassOnToVm:
        sendSignal(vm, signal);
        break;
    case StopAction::EndVm:
        sendSignal(vm, SIGKILL);
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

} // namespace

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kStopSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

StopSignals::StopSignals() {
    leadsSession.store(getsid(0) == getpid());
    const sigset_t blocked = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &blocked, &previousMask_);
    struct sigaction action {};
    action.sa_sigaction = handleStopSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    // One handler at a time, so that two interrupts are counted one after the other.
    action.sa_mask = blocked;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        struct sigaction previous {};
        sigaction(kStopSignals[i], nullptr, &previous);
        installed_[i] =
            previous.sa_handler != SIG_IGN && sigaction(kStopSignals[i], &action, nullptr) == 0;
    }
}

void StopSignals::takePending() {
    sigset_t handled;
    sigemptyset(&handled);
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (installed_[i]) {
            sigaddset(&handled, kStopSignals[i]);
        }
    }
    // A signal ignored from the start is pending while it is blocked too, but never taken.
    const timespec noWait{};
    siginfo_t info{};
    for (Taken& taken : taken_) {
        const int signal = sigtimedwait(&handled, &info, &noWait);
        if (signal <= 0) {
            return;
        }
        taken = Taken{signal, info.si_code == SI_KERNEL};
    }
}

void StopSignals::start(ProcessHandle vm) {
    vmHandle.store(vm.value());
    for (const Taken& taken : taken_) {
        if (taken.signal != 0) {
            actOn(taken.signal, originOf(taken.signal, taken.fromTerminal, false));
        }
    }
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void StopSignals::abandon() const {
    // Pending again while still blocked, the signals taken end the launcher once restore
    // unblocks them.
    for (const Taken& taken : taken_) {
        if (taken.signal != 0) {
            raise(taken.signal);
        }
    }
    restore();
}

void StopSignals::restore() const {
    resetActions();
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void StopSignals::resetActions() const {
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (installed_[i]) {
            signal(kStopSignals[i], SIG_DFL);
        }
    }
}

void stopPassingSignalsOn() {
    if (vmHandle.load() == 0) {
        return;
    }
    const sigset_t blocked = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    vmHandle.store(0);
}

void ignoreStopSignals() {
    for (const int signal : kStopSignals) {
        ::signal(signal, SIG_IGN);
    }
    const sigset_t blocked = stopSignalSet();
    pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
}

} // namespace platform::posix

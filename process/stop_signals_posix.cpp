#include "process/stop_signals_posix.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>

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
std::atomic<int> interrupts{0};
static_assert(std::atomic<std::intptr_t>::is_always_lock_free, "read in a signal handler");
static_assert(std::atomic<int>::is_always_lock_free, "changed in a signal handler");

extern "C" void handleStopSignal(int signal, siginfo_t* info, void* /*context*/) {
    const int savedErrno = errno;
    const ProcessHandle vm(vmHandle.load());
    if (vm.value() != 0) {
        const bool fromTerminal = info != nullptr && info->si_code == SI_KERNEL;
        const StopRequest request = requestFor(signal);
        const int interruptsBefore = request == StopRequest::Interrupt ? interrupts++ : 0;
        switch (stopActionFor(request, fromTerminal, interruptsBefore)) {
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

void StopSignals::start(ProcessHandle vm) {
    vmHandle.store(vm.value());
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void StopSignals::restore() const {
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (installed_[i]) {
            signal(kStopSignals[i], SIG_DFL);
        }
    }
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
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

#include "process/console_events_win32.h"

#include <atomic>

#include "process/stop_request.h"

namespace platform::win32 {

namespace {

std::atomic<HANDLE> consoleVm{nullptr};
std::atomic<int> interrupts{0};
// Set once the VM's start has ended, well or not (manual reset); nullptr where it could not
// be made, and then an event during the start has its default effect.
HANDLE vmStartEnded = nullptr;

// Runs on a thread the system starts for the event.
BOOL WINAPI handleConsoleEvent(DWORD event) {
    StopRequest request = StopRequest::Close;
    switch (event) {
    case CTRL_C_EVENT:
        request = StopRequest::Interrupt;
        break;
    case CTRL_BREAK_EVENT:
        request = StopRequest::Quit;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    // Every console event goes to every process on the console. One that came while the VM
    // was being started may have come before the VM was on the console, so whether the VM got
    // it cannot be told; nothing can send it to the VM alone, and it never counts towards a
    // second interrupt.
    StopOrigin origin = StopOrigin::Console;
    if (vmStartEnded != nullptr && WaitForSingleObject(vmStartEnded, 0) == WAIT_TIMEOUT) {
        origin = StopOrigin::DuringVmStart;
        WaitForSingleObject(vmStartEnded, INFINITE);
    }
    const HANDLE vm = consoleVm.load();
    if (vm == nullptr) {
        return FALSE;
    }
    const int interruptsBefore = isConsoleInterrupt(request, origin) ? interrupts++ : 0;
    switch (stopActionFor(request, origin, interruptsBefore)) {
    case StopAction::EndVm:
        TerminateProcess(vm, 1);
        break;
    case StopAction::WaitForVm:
        // Returning would let the system end the launcher at once, and the job the VM with
        // it. Once the VM has ended, the main thread ends the process with its exit code;
        // the system ends it anyway when its time for the event is up.
        WaitForSingleObject(vm, INFINITE);
        Sleep(INFINITE);
        break;
    case StopAction::LeaveToVm:
    case StopAction::PassOnToVm:
        break;
    }
    return TRUE;
}

} // namespace

void handleConsoleEvents() {
    vmStartEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(handleConsoleEvent, TRUE);
}

void passConsoleEventsTo(HANDLE vm) {
    consoleVm.store(vm);
    if (vmStartEnded != nullptr) {
        SetEvent(vmStartEnded);
    }
}

} // namespace platform::win32

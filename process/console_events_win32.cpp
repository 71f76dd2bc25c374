#include "process/console_events_win32.h"

#include <atomic>

#include "process/stop_request.h"

namespace platform::win32 {

namespace {

std::atomic<HANDLE> consoleVm{nullptr};
std::atomic<int> interrupts{0};

// Runs on a thread the system starts for the event.
BOOL WINAPI handleConsoleEvent(DWORD event) {
    const HANDLE vm = consoleVm.load();
    if (vm == nullptr) {
        return FALSE;
    }
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
    const int interruptsBefore = request == StopRequest::Interrupt ? interrupts++ : 0;
    switch (stopActionFor(request, true, interruptsBefore)) {
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
    SetConsoleCtrlHandler(handleConsoleEvent, TRUE);
}

void passConsoleEventsTo(HANDLE vm) {
    consoleVm.store(vm);
}

} // namespace platform::win32

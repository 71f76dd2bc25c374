#include "process/stop_request.h"

bool isConsoleInterrupt(StopRequest request, StopOrigin origin) {
    return request == StopRequest::Interrupt &&
           (origin == StopOrigin::Console || origin == StopOrigin::ConsoleNotToVm);
}

StopAction stopActionFor(StopRequest request, StopOrigin origin, int consoleInterruptsBefore) {
    if (request == StopRequest::Close) {
        return StopAction::WaitForVm;
    }
    if (isConsoleInterrupt(request, origin) && consoleInterruptsBefore > 0) {
        return StopAction::EndVm;
    }
    return origin == StopOrigin::Console ? StopAction::LeaveToVm : StopAction::PassOnToVm;
}

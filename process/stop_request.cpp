#include "process/stop_request.h"

StopAction stopActionFor(StopRequest request, bool fromConsole, int interruptsBefore) {
    if (request == StopRequest::Close) {
        return StopAction::WaitForVm;
    }
    if (request == StopRequest::Interrupt && interruptsBefore > 0) {
        return StopAction::EndVm;
    }
    return fromConsole ? StopAction::LeaveToVm : StopAction::PassOnToVm;
}

#pragma once

// What the launcher does with a request to stop that reaches it while the VM runs. The VM
// shares the launcher's console (and on Linux its terminal's foreground process group), so
// a request from the console or the terminal reaches the VM as well: the VM decides, as it
// would had it been started directly. A request sent to the launcher alone goes on to the
// VM. A second interrupt ends the VM at once, so that a VM that ignores interrupts, or hangs
// in its clean-up, can still be stopped from the console. When the console goes away (its
// window closed, log-off, shutdown), the launcher stays until the VM, which got the event
// too, has ended.
enum class StopRequest {
    Interrupt, // Ctrl+C: SIGINT, CTRL_C_EVENT
    Quit, // Ctrl+\ and Ctrl+Break, which ask a JVM for a thread dump: SIGQUIT, CTRL_BREAK_EVENT
    Terminate, // SIGTERM
    HangUp,    // SIGHUP
    Close,     // the console closed, log-off, shutdown: CTRL_CLOSE/LOGOFF/SHUTDOWN_EVENT
};

enum class StopAction {
    LeaveToVm,  // nothing: the VM got the request too
    PassOnToVm, // send the same request to the VM
    EndVm,      // end the VM at once, as the monitor would
    WaitForVm,  // keep the launcher until the VM has ended, within the time the system grants
};

// `fromConsole`: the request came from the console or terminal, which delivers it to the VM
// too. `interruptsBefore`: how many interrupts reached the launcher before this request.
StopAction stopActionFor(StopRequest request, bool fromConsole, int interruptsBefore);

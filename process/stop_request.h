#pragma once

// What the launcher does with a request to stop that reaches it while the VM runs. The VM
// shares the launcher's console (and on Linux its terminal's foreground process group), so
// a request from the console or the terminal reaches the VM as well: the VM decides, as it
// would had it been started directly. A request that did not reach the VM goes on to it. A
// second interrupt from the console ends the VM at once, so that a VM that ignores
// interrupts, or hangs in its clean-up, can still be stopped there; a program's interrupts
// are passed on as often as they come and never end the VM, as a program sends them to a VM
// started directly. When the console goes away (its window closed, log-off, shutdown), the
// launcher stays until the VM, which got the event too, has ended.
enum class StopRequest {
    Interrupt, // Ctrl+C: SIGINT, CTRL_C_EVENT
    Quit, // Ctrl+\ and Ctrl+Break, which ask a JVM for a thread dump: SIGQUIT, CTRL_BREAK_EVENT
    Terminate, // SIGTERM
    HangUp,    // SIGHUP
    Close,     // the console closed, log-off, shutdown: CTRL_CLOSE/LOGOFF/SHUTDOWN_EVENT
};

// Where a request came from, and so whether the VM got it too.
enum class StopOrigin {
    // A program that sent it to the launcher (Linux: kill). One that sends it to the
    // launcher and to its process group at once (GNU timeout) sends one request that may
    // arrive twice.
    Program,
    // The console or the terminal, which delivered it to the VM as well.
    Console,
    // The console or the terminal, but the VM did not get it: a hang-up, which the kernel
    // sends to the terminal's session leader alone.
    ConsoleNotToVm,
    // The console or the terminal, while the VM was being started: held until it ran. It may
    // have come before the VM's process existed, so whether the VM got it cannot be told. It
    // goes on to the VM where the system can send it to the VM alone, and never counts towards
    // a second interrupt: the user's next Ctrl+C is then the first, left to the VM.
    DuringVmStart,
};

enum class StopAction {
    LeaveToVm,  // nothing: the VM got the request too
    PassOnToVm, // send the same request to the VM
    EndVm,      // end the VM at once, as the monitor would
    WaitForVm,  // keep the launcher until the VM has ended, within the time the system grants
};

// `consoleInterruptsBefore`: how many interrupts from the console reached the launcher
// before this request (those for which isConsoleInterrupt holds).
StopAction stopActionFor(StopRequest request, StopOrigin origin, int consoleInterruptsBefore);

// Whether the request is an interrupt from the console, which counts towards a second one.
bool isConsoleInterrupt(StopRequest request, StopOrigin origin);

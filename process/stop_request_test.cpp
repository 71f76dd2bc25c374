#include "process/stop_request.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

struct StopCase {
    const char* title;
    StopRequest request;
    StopOrigin origin;
    int consoleInterruptsBefore;
    StopAction expected;
};

void PrintTo(const StopCase& c, std::ostream* out) {
    *out << c.title;
}

class StopActionFor : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopActionFor, DecidesAsAVmStartedDirectlyWouldBeStopped) {
    const StopCase& c = GetParam();
    EXPECT_EQ(stopActionFor(c.request, c.origin, c.consoleInterruptsBefore), c.expected);
}

using R = StopRequest;
using A = StopAction;
using O = StopOrigin;

INSTANTIATE_TEST_SUITE_P(
    Requests, StopActionFor,
    ::testing::Values(
        StopCase{"Ctrl+C is the VM's to decide", R::Interrupt, O::Console, 0, A::LeaveToVm},
        StopCase{"an interrupt sent to the launcher alone goes on", R::Interrupt, O::Program, 0,
                 A::PassOnToVm},
        StopCase{"a second Ctrl+C ends the VM", R::Interrupt, O::Console, 1, A::EndVm},
        StopCase{"a program's interrupt after a Ctrl+C goes on too", R::Interrupt, O::Program, 1,
                 A::PassOnToVm},
        StopCase{"an interrupt that reached the launcher alone, after one before, ends the VM",
                 R::Interrupt, O::ConsoleNotToVm, 1, A::EndVm},
        StopCase{"Ctrl+Break and Ctrl+\\ are the VM's thread dump", R::Quit, O::Console, 0,
                 A::LeaveToVm},
        StopCase{"a thread dump is no interrupt", R::Quit, O::Console, 1, A::LeaveToVm},
        StopCase{"quit sent to the launcher alone goes on", R::Quit, O::Program, 1, A::PassOnToVm},
        StopCase{"termination goes on", R::Terminate, O::Program, 0, A::PassOnToVm},
        StopCase{"a hang-up sent by a program goes on", R::HangUp, O::Program, 0, A::PassOnToVm},
        StopCase{"the terminal's hang-up reached the VM itself", R::HangUp, O::Console, 0,
                 A::LeaveToVm},
        StopCase{"console closed, log-off or shutdown: the launcher waits", R::Close, O::Console, 0,
                 A::WaitForVm}),
    testing_support::TitleName());

} // namespace

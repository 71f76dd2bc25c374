#include "process/stop_request.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

struct StopCase {
    const char* title;
    StopRequest request;
    bool fromConsole;
    int interruptsBefore;
    StopAction expected;
};

void PrintTo(const StopCase& c, std::ostream* out) {
    *out << c.title;
}

class StopActionFor : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopActionFor, DecidesAsAVmStartedDirectlyWouldBeStopped) {
    const StopCase& c = GetParam();
    EXPECT_EQ(stopActionFor(c.request, c.fromConsole, c.interruptsBefore), c.expected);
}

using R = StopRequest;
using A = StopAction;

INSTANTIATE_TEST_SUITE_P(
    Requests, StopActionFor,
    ::testing::Values(
        StopCase{"Ctrl+C is the VM's to decide", R::Interrupt, true, 0, A::LeaveToVm},
        StopCase{"an interrupt sent to the launcher alone goes on", R::Interrupt, false, 0,
                 A::PassOnToVm},
        StopCase{"a second Ctrl+C ends the VM", R::Interrupt, true, 1, A::EndVm},
        StopCase{"a second interrupt sent to the launcher ends the VM", R::Interrupt, false, 1,
                 A::EndVm},
        StopCase{"Ctrl+Break and Ctrl+\\ are the VM's thread dump", R::Quit, true, 0, A::LeaveToVm},
        StopCase{"a thread dump is no interrupt", R::Quit, true, 1, A::LeaveToVm},
        StopCase{"quit sent to the launcher alone goes on", R::Quit, false, 1, A::PassOnToVm},
        StopCase{"termination goes on", R::Terminate, false, 0, A::PassOnToVm},
        StopCase{"a hang-up sent by a program goes on", R::HangUp, false, 0, A::PassOnToVm},
        StopCase{"the terminal's hang-up reached the VM itself", R::HangUp, true, 0, A::LeaveToVm},
        StopCase{"console closed, log-off or shutdown: the launcher waits", R::Close, true, 0,
                 A::WaitForVm}),
    testing_support::TitleName());

} // namespace

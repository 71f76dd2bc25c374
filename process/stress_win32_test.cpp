// Stress test of supervision on Windows: launcher runs in a row, each ended in one of several
// ways at a random moment (see stress_support.h). Each run has a job object of its own, which
// counts everything the launcher started and must hold nothing running once the run has
// ended.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "launcher_run_win32.h"
#include "stress_support.h"

namespace {

using namespace launcher_run;
using stress::Ending;
using stress::Plan;

// The endings tried here; an interrupt is tried on Linux only.
constexpr Ending kEndings[] = {Ending::Normal, Ending::VmEnded, Ending::LauncherEnded,
                               Ending::MonitorEnded};

// 20 runs, ended within 100 ms, take about 3 s under Wine.
constexpr stress::Settings kSettings{20, 100, 1000};
// How long a VM sleeps that the test ends from outside.
constexpr int kLongSleepMs = 60000;
// The exit codes the test gives the processes it terminates, told apart from the 1 that
// the supervision gives.
constexpr UINT kVmTerminatedCode = 42;
constexpr UINT kTerminatedCode = 9;

class StressWin32 : public LauncherTest {
  protected:
    // Runs the launcher once, ends the run as planned and checks how everything ended.
    void runOnce(const Installation& installation, const Plan& plan, int run) {
        const std::string out = stress::outputBlock(run, "stdout");
        const std::string err = stress::outputBlock(run, "stderr");
        DeleteFileA(installation.pidPath().c_str());
        if (plan.ending == Ending::Normal) {
            steerVm(installation, {plan.exitCode, plan.momentMs, out, err});
        } else {
            steerVm(installation, {7, kLongSleepMs, out, err});
        }
        Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);

        if (plan.ending == Ending::Normal) {
            EXPECT_EQ(launch.waitForExit(kRunLimitMs), static_cast<DWORD>(plan.exitCode));
            EXPECT_EQ(launch.output(), asWritten(out));
            EXPECT_EQ(launch.errors(), asWritten(err));
        } else {
            endFromOutside(installation, launch, plan);
        }
        EXPECT_TRUE(launch.allEndWithin(kQuickLimitMs)) << "something the launcher started runs";
        EXPECT_EQ(launch.accounting().TotalProcesses, 3u) << "launcher, VM and monitor";
    }

  private:
    // The moment is drawn from the time the VM and the monitor both run: the launcher has
    // nobody to end the VM for it before the monitor is there.
    static void endFromOutside(const Installation& installation, const Launch& launch,
                               const Plan& plan) {
        const UniqueHandle vm = openProcess(waitForVmPid(installation));
        const UniqueHandle monitor = openProcess(waitForMonitorPid(launch));
        std::this_thread::sleep_for(std::chrono::milliseconds(plan.momentMs));
        ASSERT_EQ(waitForExit(vm.get(), 0), std::nullopt) << "the VM should still sleep";

        switch (plan.ending) {
        case Ending::VmEnded:
            ASSERT_TRUE(TerminateProcess(vm.get(), kVmTerminatedCode));
            EXPECT_EQ(launch.waitForExit(kQuickLimitMs), kVmTerminatedCode);
            EXPECT_EQ(waitForExit(monitor.get(), kQuickLimitMs), 0u);
            break;
        case Ending::LauncherEnded:
            ASSERT_TRUE(TerminateProcess(launch.process(), kTerminatedCode));
            EXPECT_EQ(launch.waitForExit(kQuickLimitMs), kTerminatedCode);
            EXPECT_EQ(waitForExit(vm.get(), kQuickLimitMs), 1u) << "the VM outlived the launcher";
            EXPECT_EQ(waitForExit(monitor.get(), kQuickLimitMs), 0u);
            break;
        case Ending::MonitorEnded:
            ASSERT_TRUE(TerminateProcess(monitor.get(), kTerminatedCode));
            EXPECT_EQ(waitForExit(vm.get(), kQuickLimitMs), 1u) << "the VM outlived the monitor";
            EXPECT_EQ(launch.waitForExit(kQuickLimitMs), 1u);
            break;
        case Ending::Normal:
        case Ending::Interrupted:
            break;
        }
    }
};

TEST_F(StressWin32, EveryRunEndsCompletelyHoweverItIsEnded) {
    const Installation installation = installLauncher("stress", kPlainConfig);
    stress::runAll(kEndings, kSettings,
                   [&](const Plan& plan, int run) { runOnce(installation, plan, run); });
}

} // namespace

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
#include <vector>

#include "launcher_run_win32.h"
#include "stress_support.h"
#include "test_support.h"

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
            // Ended by the launcher's job, with the job's exit code.
            EXPECT_TRUE(waitForExit(vm.get(), kQuickLimitMs).has_value())
                << "the VM outlived the launcher";
            EXPECT_TRUE(waitForExit(monitor.get(), kQuickLimitMs).has_value());
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

// The launcher ended right after its start: between the VM's start and the monitor's, or
// inside the monitor's start. Nothing it started may go on running.
constexpr stress::EarlyKillSettings kEarlyKills{40, 40000};
// How long the VM and the monitor may outlive the launcher.
constexpr DWORD kLeftoverLimitMs = 2000;

class EarlyKillWin32 : public LauncherTest {
  protected:
    // Starts the launcher, ends it after `momentUs` and counts what is left of it once the
    // rest has had time to end; then ends all of that. A VM left is one that has run (it
    // wrote its process id); a VM that has not, and any monitor left (whose launcher has
    // ended, so that a running one would have ended too), is stuck in its start: under Wine
    // a process ended before it had connected to the wineserver, or whose creator ended
    // before it resumed it, hangs there and runs no code of its own, and one without a
    // Windows process any more is left as a Unix process only.
    static stress::Leftovers killEarly(const Installation& installation, int momentUs) {
        DeleteFileA(installation.pidPath().c_str());
        Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);
        std::this_thread::sleep_for(std::chrono::microseconds(momentUs));
        EXPECT_TRUE(TerminateProcess(launch.process(), kTerminatedCode));
        EXPECT_EQ(launch.waitForExit(kQuickLimitMs), kTerminatedCode);
        launch.allEndWithin(kLeftoverLimitMs);

        stress::Leftovers left;
        const bool vmRan = !testing_support::readFile(installation.pidPath()).empty();
        for (const std::string& name : leftoverNames(installation, launch)) {
            if (name.find("se_javac.exe") != std::string::npos) {
                ++left.stuckMonitors;
            } else if (name.find("java") != std::string::npos) {
                ++(vmRan ? left.vms : left.stuckVms);
            }
        }
        // What Wine cannot end, Linux can. Under Wine the job may go on counting a process
        // that never got a Unix process; what runs are the Unix processes.
        launch.endAll(kLeftoverLimitMs);
        for (const UnixProcess& process : unixProcessesNaming(uniqueName(installation))) {
            killUnixProcess(process.pid);
        }
        EXPECT_TRUE(
            underWine()
                ? pollFor(kQuickLimitMs,
                          [&] { return unixProcessesNaming(uniqueName(installation)).empty(); })
                : launch.allEndWithin(kQuickLimitMs))
            << "a leftover could not be ended";
        return left;
    }

  private:
    // The name of the installation's directory, which no other process names.
    static std::string uniqueName(const Installation& installation) {
        const std::string dir = installation.dir.substr(0, installation.dir.size() - 1);
        return dir.substr(dir.find_last_of('\\') + 1);
    }

    // What identifies each process of the installation still there: under Wine the command
    // lines of its Unix processes, which include those left with no Windows process; on
    // Windows the executable names of the processes in the test's job.
    static std::vector<std::string> leftoverNames(const Installation& installation,
                                                  const Launch& launch) {
        std::vector<std::string> names;
        if (underWine()) {
            for (const UnixProcess& process : unixProcessesNaming(uniqueName(installation))) {
                names.push_back(process.commandLine);
            }
        } else {
            for (const DWORD pid : launch.runningProcessIds()) {
                names.push_back(exeNameOf(pid).value_or(""));
            }
        }
        return names;
    }
};

TEST_F(EarlyKillWin32, KillingTheLauncherRightAfterItsStartLeavesNoVm) {
    const Installation installation = installLauncher("early-kill", kPlainConfig);
    steerVm(installation, {7, kLongSleepMs, "", ""});
    const stress::Leftovers left = stress::earlyKills(
        kEarlyKills, [&](int momentUs, int) { return killEarly(installation, momentUs); });
    EXPECT_EQ(left.vms, 0) << "VMs outlived their launcher";
}

TEST_F(StressWin32, EveryRunEndsCompletelyHoweverItIsEnded) {
    const Installation installation = installLauncher("stress", kPlainConfig);
    stress::runAll(kEndings, kSettings,
                   [&](const Plan& plan, int run) { runOnce(installation, plan, run); });
}

} // namespace

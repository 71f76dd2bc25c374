// Stress test of supervision on Windows: launcher runs in a row, each ended in one of several
// ways at a random moment (see stress_support.h). Each run has a job object of its own, which
// counts everything the launcher started and must hold nothing running once the run has
// ended.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
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
            VmBehaviour held = heldVm(7);
            held.output = out;
            held.errors = err;
            steerVm(installation, held);
        }
        Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);

        if (plan.ending == Ending::Normal) {
            EXPECT_EQ(launch.waitForExit(kRunLimitMs), static_cast<DWORD>(plan.exitCode));
            EXPECT_EQ(launch.output(), asWritten(out));
            EXPECT_EQ(launch.errors(), asWritten(err));
        } else {
            endFromOutside(installation, launch, plan);
        }
        EXPECT_TRUE(launch.allEndWithin(kRunLimitMs)) << "something the launcher started runs";
        EXPECT_EQ(launch.processesStarted(), 3u) << "launcher, VM and monitor";
    }

  private:
    // The moment is drawn from the time the VM and the monitor both run: the launcher has
    // nobody to end the VM for it before the monitor is there.
    static void endFromOutside(const Installation& installation, const Launch& launch,
                               const Plan& plan) {
        const UniqueHandle vm = openProcess(waitForVmPid(installation));
        const UniqueHandle monitor = openProcess(waitForMonitorPid(launch));
        std::this_thread::sleep_for(std::chrono::milliseconds(plan.momentMs));
        ASSERT_EQ(waitForExit(vm.get(), 0), std::nullopt) << "the VM should still run";

        switch (plan.ending) {
        case Ending::VmEnded:
            ASSERT_TRUE(TerminateProcess(vm.get(), kVmTerminatedCode));
            EXPECT_EQ(launch.waitForExit(kRunLimitMs), kVmTerminatedCode);
            EXPECT_EQ(waitForExit(monitor.get(), kRunLimitMs), 0u);
            break;
        case Ending::LauncherEnded:
            ASSERT_TRUE(TerminateProcess(launch.process(), kTerminatedCode));
            EXPECT_EQ(launch.waitForExit(kRunLimitMs), kTerminatedCode);
            // Ended by the launcher's job, with the job's exit code.
            EXPECT_TRUE(waitForExit(vm.get(), kRunLimitMs).has_value())
                << "the VM outlived the launcher";
            EXPECT_TRUE(waitForExit(monitor.get(), kRunLimitMs).has_value());
            break;
        case Ending::MonitorEnded:
            ASSERT_TRUE(TerminateProcess(monitor.get(), kTerminatedCode));
            EXPECT_EQ(waitForExit(vm.get(), kRunLimitMs), 1u) << "the VM outlived the monitor";
            EXPECT_EQ(launch.waitForExit(kRunLimitMs), 1u);
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
// How long the VM and the monitor are given to end after the launcher before what is left
// is looked at. Under Wine a process stuck in its start never ends: a longer wait would only
// cost time.
constexpr DWORD kLeftoverLimitMs = 2000;

class EarlyKillWin32 : public LauncherTest {
  protected:
    // Starts the launcher, ends it after `momentUs` and counts what is left of it once the
    // rest has had time to end; then ends all of that.
    //
    // A VM left is one that has run (it wrote its process id); a VM that has not is stuck in
    // its start. A monitor left is one whose Windows process still runs: its launcher has
    // ended, so it should have ended too. Under Wine a process ended before it had connected
    // to the wineserver, or whose creator ended before it resumed it, hangs in its start and
    // runs no code of its own; it is left as a Unix process without a Windows process, and
    // counts as stuck. Wine can also keep a Windows process that never got a Unix process,
    // which runs nothing either: under Wine a monitor runs only with both.
    static stress::Leftovers killEarly(const Installation& installation, int momentUs) {
        DeleteFileA(installation.pidPath().c_str());
        Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);
        std::this_thread::sleep_for(std::chrono::microseconds(momentUs));
        EXPECT_TRUE(TerminateProcess(launch.process(), kTerminatedCode));
        EXPECT_EQ(launch.waitForExit(kRunLimitMs), kTerminatedCode);
        launch.allEndWithin(kLeftoverLimitMs);

        stress::Leftovers left;
        const bool vmRan = !testing_support::readFile(installation.pidPath()).empty();
        int monitorsLeft = 0;
        for (const std::string& name : leftoverNames(installation, launch)) {
            if (name.find("se_javac.exe") != std::string::npos) {
                ++monitorsLeft;
            } else if (name.find("java") != std::string::npos) {
                ++(vmRan ? left.vms : left.stuckVms);
            }
        }
        // A monitor that runs is given the run limit to end before it counts.
        pollFor(kRunLimitMs,
                [&] { return (left.monitors = monitorsRunning(installation, launch)) == 0; });
        left.stuckMonitors = monitorsLeft - std::min(monitorsLeft, left.monitors);

        // What Wine cannot end, Linux can. Under Wine the job may go on counting a process
        // that never got a Unix process; what runs are the Unix processes.
        launch.endAll(kLeftoverLimitMs);
        for (const UnixProcess& process : unixProcessesNaming(uniqueName(installation))) {
            killUnixProcess(process.pid);
        }
        EXPECT_TRUE(
            underWine()
                ? pollFor(kRunLimitMs,
                          [&] { return unixProcessesNaming(uniqueName(installation)).empty(); })
                : launch.allEndWithin(kRunLimitMs))
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

    // The monitors that run once the launcher has ended: the Windows processes of the job
    // that run the launcher's executable, and under Wine no more of them than there are
    // Unix processes of monitors.
    static int monitorsRunning(const Installation& installation, const Launch& launch) {
        int running = 0;
        for (const DWORD pid : launch.runningProcessIds()) {
            const std::optional<std::string> name = exeNameOf(pid);
            running += name && lstrcmpiA(name->c_str(), "se_javac.exe") == 0 ? 1 : 0;
        }
        if (!underWine()) {
            return running;
        }
        int unixMonitors = 0;
        for (const UnixProcess& process : unixProcessesNaming(uniqueName(installation))) {
            unixMonitors += process.commandLine.find("se_javac.exe") != std::string::npos ? 1 : 0;
        }
        return std::min(running, unixMonitors);
    }
};

TEST_F(EarlyKillWin32, KillingTheLauncherRightAfterItsStartLeavesNothingRunning) {
    const Installation installation = installLauncher("early-kill", kPlainConfig);
    steerVm(installation, heldVm(7));
    const stress::Leftovers left = stress::earlyKills(
        kEarlyKills, [&](int momentUs, int) { return killEarly(installation, momentUs); });
    EXPECT_EQ(left.vms, 0) << "VMs outlived their launcher";
    EXPECT_EQ(left.monitors, 0) << "monitors outlived their launcher";
}

TEST_F(StressWin32, EveryRunEndsCompletelyHoweverItIsEnded) {
    const Installation installation = installLauncher("stress", kPlainConfig);
    stress::runAll(kEndings, kSettings,
                   [&](const Plan& plan, int run) { runOnce(installation, plan, run); });
}

} // namespace

// Stress test of supervision on Linux: many launcher runs in a row, each ended in one of
// several ways at a random moment (see stress_support.h), and after each one nothing of it
// may be left running.
#include <signal.h>
#include <sys/types.h>

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "launcher_run_posix.h"
#include "stress_support.h"

namespace {

using namespace launcher_run;
using stress::Ending;
using stress::Plan;

constexpr Ending kEndings[] = {Ending::Normal, Ending::VmEnded, Ending::LauncherEnded,
                               Ending::MonitorEnded, Ending::Interrupted};

// 200 runs, ended within 30 ms, take about 5 s.
constexpr stress::Settings kSettings{200, 30, 255};

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Ends the process unless it has ended already (or its id now names another process).
void killIfRunning(const ProcessRef& process, int signal) {
    if (isRunning(process)) {
        kill(process.pid, signal);
    }
}

// True when nothing runs from the installation any more within the limit; otherwise a
// failure that lists what is left, which is then ended so that later runs start clean.
bool nothingLeftWithin(const Installation& installation, Millis limit) {
    if (waitUntil([&] { return processesRunningFrom(installation.dir()).empty(); }, limit)) {
        return true;
    }
    for (const ProcessRef& process : processesRunningFrom(installation.dir())) {
        std::string words;
        for (const std::string& word : commandLineOf(process.pid)) {
            words += " " + word.substr(0, 100);
        }
        ADD_FAILURE() << "left running after " << limit.count() << " ms: pid " << process.pid
                      << words;
        kill(process.pid, SIGKILL);
    }
    return false;
}

// Runs the launcher once, ends the run as planned and checks how everything ended.
void runOnce(const Installation& installation, const Plan& plan, int run) {
    const std::string out = stress::outputBlock(run, "stdout");
    const std::string err = stress::outputBlock(run, "stderr");
    Launch launch{{"-d", "out", "A" + std::to_string(run) + ".java"},
                  {{"STAND_IN_STDOUT", out}, {"STAND_IN_STDERR", err}}};
    if (plan.ending == Ending::Normal) {
        launch.env.push_back({"STAND_IN_EXIT", std::to_string(plan.exitCode)});
        launch.env.push_back({"STAND_IN_SLEEP_MS", std::to_string(plan.momentMs)});
    } else {
        launch.holdVm = true;
    }
    launch.ownProcessGroup = plan.ending == Ending::Interrupted;
    LauncherRun launcher(installation, launch);

    // An interrupt reaches the VM in the launcher's process group too, so it may come at any
    // time. Otherwise the moment is drawn from the time the VM and the monitor both run: the
    // launcher has nobody to end the VM for it before the monitor is there.
    std::optional<ProcessRef> vm;
    std::optional<ProcessRef> monitor;
    if (plan.ending != Ending::Normal && plan.ending != Ending::Interrupted) {
        vm = launcher.waitForVm();
        monitor = waitForMonitor(launcher.pid());
        ASSERT_TRUE(vm.has_value()) << "the VM did not start";
        ASSERT_TRUE(monitor.has_value()) << "the monitor did not start";
    }
    sleepMs(plan.momentMs);

    switch (plan.ending) {
    case Ending::Normal:
        EXPECT_EQ(launcher.finish(), Outcome::exitCode(plan.exitCode));
        EXPECT_EQ(launcher.out(), out);
        EXPECT_EQ(launcher.err(), err);
        break;
    case Ending::VmEnded:
        killIfRunning(*vm, SIGKILL);
        EXPECT_EQ(launcher.finish(), Outcome::signal(SIGKILL));
        break;
    case Ending::LauncherEnded:
        kill(launcher.pid(), SIGKILL);
        EXPECT_EQ(launcher.finish(), Outcome::signal(SIGKILL));
        EXPECT_TRUE(endsWithin(*vm, kRunLimit)) << "the VM outlived the launcher";
        break;
    case Ending::MonitorEnded:
        killIfRunning(*monitor, SIGKILL);
        EXPECT_EQ(launcher.finish(), Outcome::signal(SIGKILL));
        break;
    case Ending::Interrupted:
        // The VM dies of it, and the launcher ends as it did; an interrupt that comes before
        // the launcher handles interrupts ends it as it would any program.
        kill(-launcher.pid(), SIGINT);
        EXPECT_EQ(launcher.finish(), Outcome::signal(SIGINT));
        break;
    }
    if (plan.ending != Ending::Normal) {
        // Whatever the VM wrote before it was ended, the launcher added nothing of its own.
        EXPECT_EQ(out.rfind(launcher.out(), 0), 0u) << "stdout: " << launcher.out();
        EXPECT_EQ(err.rfind(launcher.err(), 0), 0u) << "stderr: " << launcher.err();
    }
    if (monitor) {
        EXPECT_TRUE(endsWithin(*monitor, kRunLimit)) << "the monitor outlived the launcher";
    }
    // The launcher has been reaped: whatever still runs from the installation is a VM or a
    // monitor of this run.
    EXPECT_TRUE(nothingLeftWithin(installation, kRunLimit));
}

TEST(StressPosix, EveryRunEndsCompletelyHoweverItIsEnded) {
    Installation installation("stress");
    stress::runAll(kEndings, kSettings,
                   [&](const Plan& plan, int run) { runOnce(installation, plan, run); });
    EXPECT_TRUE(processesRunningFrom(installation.dir()).empty());
}

// The launcher ended at any moment right after its start: before the VM's start, between
// the VM's start and the monitor's, or while the VM's pidfd is still being opened. SIGKILL
// ends it at once; a SIGTERM that comes before the VM runs ends it, one that comes later is
// passed on to the VM, which dies of it, and the launcher with it. Nothing may be left
// running either way.
constexpr stress::EarlyKillSettings kEarlyKills{150, 4000};

// Starts the launcher, sends it `signal` after `momentUs` and counts what is left running
// of it once the rest has had time to end; then ends that.
stress::Leftovers endEarly(const Installation& installation, int signal, int momentUs) {
    {
        Launch launch{{"x"}};
        launch.holdVm = true;
        LauncherRun launcher(installation, launch);
        std::this_thread::sleep_for(std::chrono::microseconds(momentUs));
        kill(launcher.pid(), signal);
        EXPECT_EQ(launcher.finish(), Outcome::signal(signal));
    }
    waitUntil([&] { return processesRunningFrom(installation.dir()).empty(); }, kRunLimit);
    stress::Leftovers left;
    for (const ProcessRef& process : processesRunningFrom(installation.dir())) {
        ++(executableOf(process.pid) == installation.java() ? left.vms : left.monitors);
        kill(process.pid, SIGKILL);
    }
    return left;
}

class EndingTheLauncherRightAfterItsStart : public ::testing::TestWithParam<int> {};

TEST_P(EndingTheLauncherRightAfterItsStart, LeavesNothingRunning) {
    Installation installation("early-kill");
    const stress::Leftovers left = stress::earlyKills(kEarlyKills, [&](int momentUs, int) {
        return endEarly(installation, GetParam(), momentUs);
    });
    EXPECT_EQ(left.vms, 0) << "VMs outlived their launcher";
    EXPECT_EQ(left.monitors, 0) << "monitors outlived their launcher";
    EXPECT_TRUE(
        waitUntil([&] { return processesRunningFrom(installation.dir()).empty(); }, kRunLimit));
}

INSTANTIATE_TEST_SUITE_P(StressPosix, EndingTheLauncherRightAfterItsStart,
                         ::testing::Values(SIGKILL, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGKILL ? "Kill" : "Term");
                         });

} // namespace

#pragma once

// What the stress tests share: many launcher runs in a row, each ended in one of several ways
// at a random moment. The random choices come from a fixed seed, so that every run of the
// suite tries the same sequence; the seed is printed, SE_STRESS_SEED chooses another and
// SE_STRESS_RUNS changes the number of runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace stress {

struct Settings {
    int defaultRuns = 0;
    int latestMomentMs = 0; // the random moments lie between 0 and this
    int highestExitCode = 0;
};

// How a run ends: the VM exits on its own, one of the three processes is ended from outside
// (SIGKILL on Linux, TerminateProcess on Windows), or the launcher's process group gets an
// interrupt (Linux).
enum class Ending { Normal, VmEnded, LauncherEnded, MonitorEnded, Interrupted };

inline const char* nameOf(Ending ending) {
    switch (ending) {
    case Ending::Normal:
        return "normal end";
    case Ending::VmEnded:
        return "VM ended";
    case Ending::LauncherEnded:
        return "launcher ended";
    case Ending::MonitorEnded:
        return "monitor ended";
    case Ending::Interrupted:
        return "interrupt to the process group";
    }
    return "?";
}

// One run: how it ends, when, and with which exit code the VM ends on its own.
struct Plan {
    Ending ending = Ending::Normal;
    int momentMs = 0;
    int exitCode = 0;
};

constexpr std::uint64_t kDefaultSeed = 20260101;

inline std::uint64_t seed() {
    if (const char* text = std::getenv("SE_STRESS_SEED")) {
        return std::strtoull(text, nullptr, 10);
    }
    return kDefaultSeed;
}

// "<what> seed N", where it came from and how to choose another, on standard output and as
// a property of the test.
inline void printSeed(const char* what, std::uint64_t value) {
    std::cout << what << " seed " << value
              << (value == kDefaultSeed ? " (the default" : " (from SE_STRESS_SEED")
              << "; SE_STRESS_SEED=<number> chooses another)" << std::endl;
    ::testing::Test::RecordProperty("seed", std::to_string(value));
}

inline int runCount(int defaultRuns) {
    const char* text = std::getenv("SE_STRESS_RUNS");
    return text != nullptr ? std::atoi(text) : defaultRuns;
}

// The same number of runs for every ending, in random order, at random moments.
template <std::size_t N>
std::vector<Plan> plans(std::mt19937_64& random, int runs, const Ending (&endings)[N],
                        const Settings& settings) {
    std::uniform_int_distribution<int> moment(0, settings.latestMomentMs);
    std::uniform_int_distribution<int> exitCode(0, settings.highestExitCode);
    std::vector<Plan> result;
    for (int run = 0; run < runs; ++run) {
        result.push_back(Plan{endings[static_cast<std::size_t>(run) % N], 0, 0});
    }
    std::shuffle(result.begin(), result.end(), random);
    for (Plan& plan : result) {
        plan.momentMs = moment(random);
        plan.exitCode = exitCode(random);
    }
    return result;
}

// What the VM of run `run` prints on a stream: numbered lines, so that a lost, doubled or
// mixed-up piece shows.
inline std::string outputBlock(int run, const std::string& stream) {
    std::string block;
    for (int line = 1; line <= 64; ++line) {
        block += "run " + std::to_string(run) + " " + stream + " line " + std::to_string(line) +
                 " of 64: the quick brown fox jumps over the lazy dog\n";
    }
    return block;
}

// Calls runOnce(plan, run number) for the planned runs, each under a trace that names the
// seed, the run and how it is ended, and stops after the first run with a failure: later
// ones would only repeat the story. Prints the seed first and the time taken last.
template <std::size_t N, typename RunOnce>
void runAll(const Ending (&endings)[N], const Settings& settings, RunOnce runOnce) {
    const std::uint64_t seedValue = seed();
    printSeed("stress", seedValue);
    std::mt19937_64 random(seedValue);
    const std::vector<Plan> runs = plans(random, runCount(settings.defaultRuns), endings, settings);

    const auto start = std::chrono::steady_clock::now();
    for (std::size_t run = 0; run < runs.size(); ++run) {
        const Plan& plan = runs[run];
        SCOPED_TRACE("seed " + std::to_string(seedValue) + ", run " + std::to_string(run) + ": " +
                     nameOf(plan.ending) + " at " + std::to_string(plan.momentMs) + " ms");
        runOnce(plan, static_cast<int>(run));
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::cout << runs.size() << " runs in " << elapsed.count() << " ms" << std::endl;
}

// ---------------------------------------------------------------------------------------
// Early kills: the launcher ended from outside at a random moment right after its start,
// while it may still be starting the VM or the monitor.

struct EarlyKillSettings {
    int defaultRuns = 0;
    int latestMomentUs = 0; // the moments lie between 0 and this, in microseconds
};

// What one or more early kills left running once the launcher had ended and the processes
// it started had had time to notice: VMs and monitors that run, and (under Wine) VMs and
// monitors stuck in their start, which run no code of their own but never end.
struct Leftovers {
    int vms = 0;
    int monitors = 0;
    int stuckVms = 0;
    int stuckMonitors = 0;
    Leftovers& operator+=(const Leftovers& other) {
        vms += other.vms;
        monitors += other.monitors;
        stuckVms += other.stuckVms;
        stuckMonitors += other.stuckMonitors;
        return *this;
    }
};

// Calls killOnce(moment in microseconds, run number) for the planned runs, each under a
// trace that names the seed and the run, and adds up what each left running (killOnce ends
// its leftovers itself). Prints and records the seed and the totals; stops at a run with a
// failure or one that left a VM or a monitor running, which later runs would only repeat.
template <typename KillOnce>
Leftovers earlyKills(const EarlyKillSettings& settings, KillOnce killOnce) {
    const std::uint64_t seedValue = seed();
    printSeed("early-kill", seedValue);
    std::mt19937_64 random(seedValue);
    std::uniform_int_distribution<int> moment(0, settings.latestMomentUs);
    const int runs = runCount(settings.defaultRuns);
    Leftovers total;
    int done = 0;
    for (int run = 0; run < runs; ++run) {
        const int momentUs = moment(random);
        SCOPED_TRACE("seed " + std::to_string(seedValue) + ", run " + std::to_string(run) +
                     ": launcher ended " + std::to_string(momentUs) + " us after its start");
        total += killOnce(momentUs, run);
        done = run + 1;
        if (::testing::Test::HasFailure() || total.vms > 0 || total.monitors > 0) {
            break;
        }
    }
    std::cout << done << " early kills at random 0-" << settings.latestMomentUs
              << " us: " << total.vms << " VMs and " << total.monitors
              << " monitors left running; stuck in their start: " << total.stuckVms << " VMs and "
              << total.stuckMonitors << " monitors" << std::endl;
    ::testing::Test::RecordProperty("vms_left", std::to_string(total.vms));
    ::testing::Test::RecordProperty("monitors_left", std::to_string(total.monitors));
    ::testing::Test::RecordProperty("stuck_vms_left", std::to_string(total.stuckVms));
    ::testing::Test::RecordProperty("stuck_monitors_left", std::to_string(total.stuckMonitors));
    return total;
}

} // namespace stress

// End-to-end tests of supervision on Linux: the built launcher, installed with its
// configuration in a fresh directory, runs as a real process with the stand-in VM as
// <JDK_HOME>/bin/java. Every wait has a time limit, and every process a test starts is ended
// when the test ends.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "launcher_run_posix.h"
#include "test_support.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

namespace {

namespace fs = std::filesystem;
using namespace launcher_run;

template <typename Case> std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// Tests that hold for both launchers, the compiler and the runner.
class EachLauncher : public ::testing::TestWithParam<std::string> {};

std::string identityName(const ::testing::TestParamInfo<std::string>& info) {
    return info.param;
}

const auto kBothLaunchers = ::testing::Values("se_javac", "se_java");

// A launcher with a VM that runs until it is released or ended.
Launch heldVm() {
    Launch launch{{"x"}};
    launch.holdVm = true;
    return launch;
}

// A held VM that catches SIGINT, SIGQUIT, SIGTERM and SIGHUP and ends at the
// `signalsToExit`-th (0: it leaves them at their defaults).
Launch signalCatchingVm(const Installation& installation, int signalsToExit) {
    Launch launch = heldVm();
    launch.env.push_back({"STAND_IN_EXIT", "3"});
    if (signalsToExit > 0) {
        launch.env.push_back({"STAND_IN_SIGNAL_LOG", installation.path("signals.txt")});
        launch.env.push_back({"STAND_IN_SIGNALS_TO_EXIT", std::to_string(signalsToExit)});
    }
    return launch;
}

// ---- What the VM receives ----

TEST(SupervisePosix, WorkedExampleReachesTheVmExactly) {
    Installation installation;
    installation.writeConfig({"JDK_HOME=" + installation.jdk(), "CLASSPATH=/t/a.jar",
                              "VORNEX_PATH=/vx", "VERSION=2.0", "BUILD=15"});
    LauncherRun run(installation, Launch{{"-J-Xmx256m", "-d", "out", "file1"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    const std::string jdk = installation.jdk();
    EXPECT_EQ(run.vmArgv(),
              (std::vector<std::string>{jdk + "/bin/java", "-Dtovik_version=2.0",
                                        "-Dtovik_build=15", "-Dtovik_vornex=/vx", "-classpath",
                                        "/t/a.jar:" + jdk + "/lib/tools.jar", "-Xmx256m",
                                        kEntryClass, "se_javac", "-d", "out", "file1"}));
    EXPECT_EQ(run.out(), "");
    EXPECT_EQ(run.err(), "");
}

struct ArgumentCase {
    std::string name;
    std::vector<std::string> args;
    std::vector<std::string> vmOptions; // what the VM gets before the entry class
    std::vector<std::string> toolArgs;  // what it gets after the tool name
    std::string identity = "se_javac";  // the launcher that runs
};
void PrintTo(const ArgumentCase& row, std::ostream* out) {
    *out << row.name;
}

class ArgumentsReachTheVm : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentsReachTheVm, AsExpected) {
    const ArgumentCase& c = GetParam();
    Installation installation("e2e", c.identity);
    LauncherRun run(installation, Launch{c.args});

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.vmArgv(), expectedVmArgv(installation, c.vmOptions, c.toolArgs));
}

// One run that carries every byte the quoting treats specially, in tool arguments and in -J
// values (which are divided at blanks, and whose quotes must not join what follows them);
// arguments_test.cpp pins the command line for each of them.
INSTANTIATE_TEST_SUITE_P(Quoting, ArgumentsReachTheVm,
                         ::testing::Values(ArgumentCase{
                             "EverySpecialByte",
                             {"-J-Dx=a\"b",
                              "a\\",
                              "b\\\\",
                              "with space\\",
                              "\\",
                              "-J-Dy=\"c d\\\"",
                              "say \"hi\"",
                              "\"",
                              "\\\"",
                              "a\\\\\"b",
                              "\"\"",
                              "",
                              " lead",
                              "trail ",
                              "tab\there",
                              "-J-Da=1\t-Db=2",
                              "\xC3\xA9t\xC3\xA9",
                              "\xFF\x80\xFE",
                              "caf\xE9 au lait",
                              ""},
                             {"-Dx=a\"b", "-Dy=\"c", "d\\\"", "-Da=1", "-Db=2"},
                             {"a\\", "b\\\\", "with space\\", "\\", "say \"hi\"", "\"", "\\\"",
                              "a\\\\\"b", "\"\"", "", " lead", "trail ", "tab\there",
                              "\xC3\xA9t\xC3\xA9", "\xFF\x80\xFE", "caf\xE9 au lait", ""}}),
                         caseName<ArgumentCase>);

// Only "-monitor" with exactly two more arguments selects the monitor.
INSTANTIATE_TEST_SUITE_P(
    ModeDispatch, ArgumentsReachTheVm,
    ::testing::Values(
        ArgumentCase{"MonitorWithOneNumber", {"-monitor", "5"}, {}, {"-monitor", "5"}},
        ArgumentCase{"MonitorWithThreeNumbers",
                     {"-monitor", "5", "6", "7"},
                     {},
                     {"-monitor", "5", "6", "7"}},
        ArgumentCase{"OtherCase", {"-Monitor", "1", "2"}, {}, {"-Monitor", "1", "2"}},
        ArgumentCase{
            "RunnerMonitorWithOneNumber", {"-monitor", "5"}, {}, {"-monitor", "5"}, "se_java"}),
    caseName<ArgumentCase>);

// ---- Exit codes, output and start failures ----

// The VM exits with a code, or dies of a signal: the launcher ends the same way, so that its
// caller (a shell, make, Python's returncode, systemd) sees a crash or a kill as such.
struct VmEndCase {
    std::string name;
    int exitCode;
    int signal; // the stand-in ends by it; 0: it exits
    Outcome launcher;
    std::vector<std::string> limits = {}; // exec_limited options for the launcher
    int orphans = 0; // short-lived processes the VM leaves behind (STAND_IN_ORPHANS)
};
void PrintTo(const VmEndCase& row, std::ostream* out) {
    *out << row.name;
}

class VmExitCode : public ::testing::TestWithParam<VmEndCase> {};

TEST_P(VmExitCode, BecomesTheLaunchersAndOutputPassesThrough) {
    const VmEndCase& c = GetParam();
    const std::string out = "vm out " + c.name + "\n";
    const std::string err = "vm err " + c.name + "\n";
    Installation installation;
    Launch launch{{"x"},
                  {{"STAND_IN_EXIT", std::to_string(c.exitCode)},
                   {"STAND_IN_STDOUT", out},
                   {"STAND_IN_STDERR", err}}};
    if (c.signal != 0) {
        launch.env.push_back({"STAND_IN_RAISE", std::to_string(c.signal)});
    }
    if (c.orphans != 0) {
        launch.env.push_back({"STAND_IN_ORPHANS", std::to_string(c.orphans)});
    }
    const bool inPidNamespace =
        std::count(c.limits.begin(), c.limits.end(), "--process-one") +
            std::count(c.limits.begin(), c.limits.end(), "--init-reaping-its-own") >
        0;
    if (inPidNamespace && std::system("unshare --pid --fork true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no PID namespaces here (unshare --pid --fork)";
    }
    launch.limits = c.limits;
    LauncherRun run(installation, launch);

    EXPECT_EQ(run.finish(), c.launcher);
    EXPECT_EQ(run.out(), out);
    EXPECT_EQ(run.err(), err);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, VmExitCode,
    ::testing::Values(
        VmEndCase{"Exit0", 0, 0, Outcome::exitCode(0)},
        VmEndCase{"Exit3", 3, 0, Outcome::exitCode(3)},
        VmEndCase{"Exit255", 255, 0, Outcome::exitCode(255)},
        VmEndCase{"KilledBySigkill", 0, SIGKILL, Outcome::signal(SIGKILL)},
        VmEndCase{"KilledBySigsegv", 0, SIGSEGV, Outcome::signal(SIGSEGV)},
        // Nothing the launcher does needs clone3.
        VmEndCase{"Exit3WithClone3Refused", 3, 0, Outcome::exitCode(3), {"--clone3-eperm"}},
        // A container's process 1 adopts every orphan: the VM's run on only once each of
        // them has been reaped, not kept as a zombie.
        VmEndCase{"Exit3AsProcessOneReapingFiveOrphans",
                  3,
                  0,
                  Outcome::exitCode(3),
                  {"--process-one"},
                  5},
        // Where process 1 reaps only its own children, the launcher's leave nothing to it.
        VmEndCase{"Exit3LeavesNoChildToAProcessOneReapingItsOwn",
                  3,
                  0,
                  Outcome::exitCode(3),
                  {"--init-reaping-its-own"}}),
    caseName<VmEndCase>);

// Whoever starts the launcher with SIGCHLD ignored must not cost it the VM's exit status;
// the VM gets it ignored, as from a direct start.
TEST(SupervisePosix, ExitCodeSurvivesAnIgnoredChildSignal) {
    Installation installation;
    Launch launch = heldVm();
    launch.env.push_back({"STAND_IN_EXIT", "3"});
    launch.ignoreChildSignal = true;
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> vm = run.waitForVm();
    ASSERT_TRUE(vm);

    EXPECT_TRUE(ignoredSignalsOf(vm->pid) & (1ULL << (SIGCHLD - 1))) << "SIGCHLD in the VM";
    run.releaseVm();
    EXPECT_EQ(run.finish(), Outcome::exitCode(3));
}

struct StartFailureCase {
    std::string name;
    std::function<std::string(const Installation&)> prepare; // returns the JDK_HOME to use
    int error;
};
void PrintTo(const StartFailureCase& row, std::ostream* out) {
    *out << row.name;
}

class VmStartFailure : public ::testing::TestWithParam<StartFailureCase> {};

TEST_P(VmStartFailure, IsReportedOnStdoutWithExitCode1) {
    const StartFailureCase& c = GetParam();
    Installation installation;
    installation.writeConfig({"JDK_HOME=" + c.prepare(installation)});
    LauncherRun run(installation, Launch{{"x"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(1));
    EXPECT_EQ(run.out(), "\nCannot execute java virtual machine : " +
                             std::string(std::strerror(c.error)) + "\n");
    EXPECT_EQ(run.err(), "");
    EXPECT_FALSE(run.vmRan());
    EXPECT_TRUE(processesRunningFrom(installation.dir()).empty()) << "a monitor is left";
}

INSTANTIATE_TEST_SUITE_P(Cases, VmStartFailure,
                         ::testing::Values(StartFailureCase{"NoSuchVm",
                                                            [](const Installation& installation) {
                                                                return installation.path("missing");
                                                            },
                                                            ENOENT},
                                           StartFailureCase{"VmNotExecutable",
                                                            [](const Installation& installation) {
                                                                fs::permissions(
                                                                    installation.java(),
                                                                    fs::perms::owner_read |
                                                                        fs::perms::owner_write);
                                                                return installation.jdk();
                                                            },
                                                            EACCES}),
                         caseName<StartFailureCase>);

// ---- The supervision itself ----

// The monitor is a fork of the launcher: its executable and its command line's first word are
// the launcher's, its name is the launcher's with "-mon" added. It sits in its own session on
// /dev/null and holds nothing but its two handles: pidfds for the launcher and the VM, or, without
// pidfds, the read end of a pipe that only the launcher writes to. A descriptor the launcher got
// from its caller reaches the VM, as with a direct start, but not the monitor; the launcher's own
// reach neither.
TEST_P(EachLauncher, MonitorIsItselfDetachedAndHoldsOnlyItsHandles) {
    Installation installation("e2e", GetParam());
    Launch launch = heldVm();
    launch.input = Input::OpenPipe; // not /dev/null already
    const int callers = highDescriptor(open("/dev/zero", O_RDONLY));
    launch.passedDescriptors[7] = callers;
    LauncherRun run(installation, launch);
    close(callers);
    const std::optional<ProcessRef> vm = run.waitForVm();
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(vm && monitor);

    EXPECT_EQ(commandLineOf(monitor->pid).front(), installation.launcher());
    EXPECT_EQ(processNameOf(monitor->pid), installation.identity() + "-mon");
    EXPECT_EQ(executableOf(monitor->pid), installation.launcher());
    const std::optional<ProcessStat> stat = statOf(monitor->pid);
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->session, monitor->pid) << "the monitor is not in a session of its own";

    // The monitor closes what it inherited of the caller's once it runs.
    const std::size_t handles = withoutPidfds() ? 1 : 2;
    EXPECT_TRUE(
        waitUntil([&] { return descriptorsOf(monitor->pid).size() == 3 + handles; }, kRunLimit));
    std::map<int, std::string> descriptors = descriptorsOf(monitor->pid);
    for (const int stream : {0, 1, 2}) {
        EXPECT_EQ(descriptors[stream], "/dev/null") << "descriptor " << stream;
        descriptors.erase(stream);
    }
    ASSERT_EQ(descriptors.size(), handles);
    if (withoutPidfds()) {
        const std::string pipe = descriptors.begin()->second;
        EXPECT_EQ(pipe.rfind("pipe:", 0), 0u) << pipe;
        std::size_t holders = 0;
        for (const pid_t holder : {run.pid(), vm->pid, monitor->pid}) {
            for (const auto& [number, target] : descriptorsOf(holder)) {
                holders += target == pipe ? 1 : 0;
            }
        }
        EXPECT_EQ(holders, 3u) << "the pipe: its two ends in the launcher, the read end here";
    } else {
        std::vector<pid_t> named;
        for (const auto& [number, target] : descriptors) {
            EXPECT_TRUE(isPidfdLink(target)) << "descriptor " << number;
            named.push_back(pidNamedBy(monitor->pid, std::to_string(number)));
        }
        std::sort(named.begin(), named.end());
        std::vector<pid_t> expected{run.pid(), vm->pid};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(named, expected) << "the launcher and the VM";
    }

    std::map<int, std::string> vmDescriptors = descriptorsOf(vm->pid);
    EXPECT_EQ(vmDescriptors[7], "/dev/zero") << "the caller's descriptor did not reach the VM";
    for (const auto& [number, target] : vmDescriptors) {
        EXPECT_TRUE(number <= 2 || number == 7) << "the VM holds " << target << " as " << number;
    }
}

// Standard descriptors the launcher was started without: pidfds must not land there, as
// the monitor gets /dev/null on 0 to 2.
struct KillCase {
    std::string name;
    std::vector<int> closedStreams;
};
void PrintTo(const KillCase& row, std::ostream* out) {
    *out << row.name;
}

class KillingTheLauncher : public ::testing::TestWithParam<KillCase> {};

TEST_P(KillingTheLauncher, EndsTheVmAndTheMonitor) {
    Installation installation;
    Launch launch = heldVm();
    launch.closedStreams = GetParam().closedStreams;
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> vm = run.waitForVm();
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(vm && monitor);

    kill(run.pid(), SIGKILL);
    EXPECT_EQ(run.finish(), Outcome::signal(SIGKILL));
    EXPECT_TRUE(endsWithin(*vm, kRunLimit)) << "the VM outlived the launcher";
    EXPECT_TRUE(endsWithin(*monitor, kRunLimit)) << "the monitor outlived the launcher";
}

INSTANTIATE_TEST_SUITE_P(StandardStreams, KillingTheLauncher,
                         ::testing::Values(KillCase{"AllOpen", {}}, KillCase{"StdinClosed", {0}},
                                           KillCase{"AllClosed", {0, 1, 2}}),
                         caseName<KillCase>);

// The launcher ends as its VM did: killed by SIGKILL. Also where only pidfd_send_signal is
// refused, which the launcher then does without, naming its processes by their ids.
struct MonitorKillCase {
    std::string name;
    std::vector<std::string> limits = {}; // exec_limited options for the launcher
};
void PrintTo(const MonitorKillCase& row, std::ostream* out) {
    *out << row.name;
}

class KillingTheMonitor : public ::testing::TestWithParam<MonitorKillCase> {};

TEST_P(KillingTheMonitor, EndsTheVmAndTheLauncherReportsIt) {
    Installation installation;
    Launch launch = heldVm();
    launch.limits = GetParam().limits;
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> vm = run.waitForVm();
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(vm && monitor);

    kill(monitor->pid, SIGKILL);
    EXPECT_EQ(run.finish(), Outcome::signal(SIGKILL));
    EXPECT_FALSE(isRunning(*vm));
}

INSTANTIATE_TEST_SUITE_P(Calls, KillingTheMonitor,
                         ::testing::Values(MonitorKillCase{"AllThere", {}},
                                           MonitorKillCase{"WithoutPidfdSendSignal",
                                                           {"--without-pidfd-send-signal"}}),
                         caseName<MonitorKillCase>);

// The monitor's command line is its own, "<launcher> -monitor", written over the launcher's
// arguments: looking for the run by the launcher's command line finds the launcher alone.
TEST(SupervisePosix, MonitorsCommandLineIsTheMonitors) {
    Installation installation;
    Launch launch = heldVm();
    launch.args = {"-d", "out", "X"};
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(monitor && run.waitForVm());

    const std::string expected = installation.launcher() + '\0' + "-monitor" + '\0';
    const std::string cmdline = procPath(monitor->pid, "cmdline");
    EXPECT_TRUE(waitUntil([&] { return readFile(cmdline) == expected; }, kStartLimit))
        << readFile(cmdline);
    const std::string found = installation.path("found.txt");
    std::system(("pgrep -x -f '" + installation.launcher() + " -d out X' >" + found).c_str());
    EXPECT_EQ(readFile(found), std::to_string(run.pid()) + "\n");
    run.releaseVm();
    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
}

TEST(SupervisePosix, NoMonitorIsLeftAfterANormalEnd) {
    Installation installation;
    LauncherRun run(installation, heldVm());
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(monitor);
    run.releaseVm();

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_TRUE(endsWithin(*monitor, kRunLimit));
    EXPECT_TRUE(processesRunningFrom(installation.dir()).empty());
}

// Keys typed on the terminal send their signal to the terminal's foreground process group,
// the launcher's and the VM's (the monitor, in a session of its own, is not in it), marked as
// the kernel's: the VM decides, as it would alone. Ctrl+\ asks a JVM for a thread dump and
// ends nothing; the stand-in logs it and goes on, and Ctrl+C, the first interrupt, ends it
// with its own exit code. Passed on by the launcher as well, they would have ended it at the
// second Ctrl+\.
TEST(SupervisePosix, KeysOnTheTerminalAreTheVmsToDecide) {
    Installation installation;
    Launch launch = signalCatchingVm(installation, 3);
    launch.terminal = true;
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> vm = run.waitForVm();
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(vm && monitor);

    const std::string log = installation.path("signals.txt");
    run.type("\x1c");
    ASSERT_TRUE(waitUntil([&] { return readFile(log) == "3\n"; }, kRunLimit)) << readFile(log);
    run.type("\x1c");
    ASSERT_TRUE(waitUntil([&] { return readFile(log) == "3\n3\n"; }, kRunLimit)) << readFile(log);
    run.type("\x03");
    EXPECT_EQ(run.finish(), Outcome::exitCode(3));
    EXPECT_EQ(readFile(log), "3\n3\n2\n");
    EXPECT_TRUE(endsWithin(*monitor, kRunLimit)) << "the monitor outlived the launcher";
}

// ---- Signals sent to the launcher ----

// How the signals reach the launcher.
enum class Delivery {
    ToTheLauncher, // each by kill to the launcher alone, logged by the VM before the next
    // each to the launcher and at once to its process group too (it has its own), as GNU
    // timeout sends it: one request that arrives twice
    ToTheLauncherAndItsGroup,
    // the launcher leads a session whose pseudo-terminal hangs up: the kernel sends SIGHUP
    // to the launcher alone (`signals` is what it sends)
    TerminalHangsUp,
    // Ctrl+C typed on the launcher's terminal (`signals` is what it sends): the first while
    // the launcher, held by strace's delay after its last look for signals that came before
    // the VM, is about to start the VM; the others once the VM runs
    TypedWhileTheVmStarts,
};

// The launcher under strace held in the delay strace adds to its rt_sigtimedwait: its process
// in a tracing stop, in that call.
bool heldInTheDelay(pid_t tracer, const Installation& installation) {
    for (const ProcessRef& process : processesRunningFrom(installation.dir())) {
        const std::optional<ProcessStat> stat = statOf(process.pid);
        if (stat && stat->parent == tracer && stat->state == 't' &&
            readFile(procPath(process.pid, "syscall"))
                    .rfind(std::to_string(SYS_rt_sigtimedwait) + " ", 0) == 0) {
            return true;
        }
    }
    return false;
}

// The launcher that strace started.
std::optional<ProcessRef> tracedLauncher(pid_t tracer, const Installation& installation) {
    for (const ProcessRef& process : processesRunningFrom(installation.dir())) {
        const std::optional<ProcessStat> stat = statOf(process.pid);
        if (stat && stat->parent == tracer) {
            return process;
        }
    }
    return std::nullopt;
}

// SIGTERM, SIGHUP, SIGINT and SIGQUIT sent by a program are passed on to the VM, every time,
// and the launcher ends with the VM's status, as does a terminal's hang-up that only the
// launcher got. The VM leaves the signals at their defaults, or catches them, logs each and
// ends at the `signalsToExit`-th with exit code `vmExit`, after a clean-up of `cleanUpMs`.
struct SignalCase {
    std::string name;
    std::vector<int> signals;           // sent to the launcher one after another
    int signalsToExit;                  // 0: the VM does not catch them
    std::vector<int> ignoredByLauncher; // from its start, as nohup does
    Outcome launcher;
    std::string vmLog; // the signals the VM caught, a number a line
    Delivery delivery = Delivery::ToTheLauncher;
    int vmExit = 3;
    long cleanUpMs = 0;
    int runs = 1; // the same, with a new launcher each time
};
void PrintTo(const SignalCase& row, std::ostream* out) {
    *out << row.name;
}

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class SignalToTheLauncher : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalToTheLauncher, ReachesTheVmOrEndsBoth) {
    const SignalCase& c = GetParam();
    Installation installation;
    const std::string log = installation.path("signals.txt");
    for (int round = 1; round <= c.runs; ++round) {
        SCOPED_TRACE("run " + std::to_string(round));
        fs::remove(log);
        Launch launch = signalCatchingVm(installation, c.signalsToExit);
        launch.env.push_back({"STAND_IN_EXIT", std::to_string(c.vmExit)});
        launch.env.push_back({"STAND_IN_CLEANUP_MS", std::to_string(c.cleanUpMs)});
        launch.ignoredSignals = c.ignoredByLauncher;
        launch.ownProcessGroup = c.delivery == Delivery::ToTheLauncherAndItsGroup;
        launch.terminal = c.delivery == Delivery::TerminalHangsUp ||
                          c.delivery == Delivery::TypedWhileTheVmStarts;
        const bool typed = c.delivery == Delivery::TypedWhileTheVmStarts;
        if (typed) {
            launch.program = "strace";
            // The first look for signals held back is delayed, and so is the launcher's return
            // from the VM's vfork (the VM runs meanwhile), so that the VM is ready for what
            // the launcher passes on, as a VM would be a moment later.
            launch.args = {"-I3",
                           "-o",
                           "/dev/null",
                           "-e",
                           "trace=rt_sigtimedwait,vfork",
                           "-e",
                           "inject=rt_sigtimedwait:delay_exit=2000000:when=1",
                           "-e",
                           "inject=vfork:delay_exit=2000000",
                           installation.launcher(),
                           "x"};
#ifdef __SANITIZE_ADDRESS__
            // LeakSanitizer cannot look at a process that is traced.
            const char* options = std::getenv("ASAN_OPTIONS");
            launch.env.push_back({"ASAN_OPTIONS", std::string(options != nullptr ? options : "") +
                                                      ":detect_leaks=0"});
#endif
        }
        LauncherRun run(installation, launch);
        if (typed) {
            // Seen twice, so that it is the delay and not the call's entry.
            ASSERT_TRUE(waitUntil(
                [&] {
                    if (!heldInTheDelay(run.pid(), installation)) {
                        return false;
                    }
                    std::this_thread::sleep_for(20ms);
                    return heldInTheDelay(run.pid(), installation);
                },
                kStartLimit));
            run.type("\x03");
        }
        const std::optional<ProcessRef> vm = run.waitForVm();
        const std::optional<ProcessRef> launcher =
            typed ? tracedLauncher(run.pid(), installation) : refOf(run.pid());
        ASSERT_TRUE(launcher);
        const std::optional<ProcessRef> monitor = waitForMonitor(launcher->pid);
        ASSERT_TRUE(vm && monitor);

        for (std::size_t i = 0; i < c.signals.size(); ++i) {
            const int signal = c.signals[i];
            const std::size_t logged = typed && i == 0 ? 0 : lineCount(readFile(log));
            if (typed) {
                if (i > 0) {
                    run.type("\x03");
                }
            } else if (c.delivery == Delivery::TerminalHangsUp) {
                run.hangUp();
            } else {
                kill(run.pid(), signal);
            }
            if (c.delivery == Delivery::ToTheLauncherAndItsGroup) {
                kill(-run.pid(), signal);
            }
            // A caught signal is logged before the next is sent: two pending at once in the
            // VM would be taken as one. One the launcher ignores never reaches the VM.
            const bool ignored =
                std::count(c.ignoredByLauncher.begin(), c.ignoredByLauncher.end(), signal) > 0;
            if (c.signalsToExit > 0 && !ignored) {
                waitUntil(
                    [&] {
                        return lineCount(readFile(log)) > logged || run.waitFor(0ms).has_value();
                    },
                    kRunLimit);
            }
        }
        EXPECT_EQ(run.finish(), c.launcher);
        EXPECT_EQ(readFile(log), c.vmLog);
        EXPECT_TRUE(endsWithin(*vm, kRunLimit)) << "the VM outlived the launcher";
        EXPECT_TRUE(endsWithin(*monitor, kRunLimit)) << "the monitor outlived the launcher";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SignalToTheLauncher,
    ::testing::Values(
        SignalCase{"TermEndsTheVm", {SIGTERM}, 0, {}, Outcome::signal(SIGTERM), ""},
        SignalCase{"HangUpEndsTheVm", {SIGHUP}, 0, {}, Outcome::signal(SIGHUP), ""},
        SignalCase{"VmEndsOnTermWithItsOwnCode", {SIGTERM}, 1, {}, Outcome::exitCode(3), "15\n"},
        SignalCase{"VmEndsOnHangUpWithItsOwnCode", {SIGHUP}, 1, {}, Outcome::exitCode(3), "1\n"},
        SignalCase{
            "SecondTermIsPassedOnToo", {SIGTERM, SIGTERM}, 2, {}, Outcome::exitCode(3), "15\n15\n"},
        SignalCase{
            "HangUpThenTermArePassedOn", {SIGHUP, SIGTERM}, 2, {}, Outcome::exitCode(3), "1\n15\n"},
        SignalCase{"HangUpIgnoredByNohupStaysIgnored",
                   {SIGHUP, SIGTERM},
                   1,
                   {SIGHUP},
                   Outcome::exitCode(3),
                   "15\n"},
        SignalCase{"VmEndsOnInterruptWithItsOwnCode", {SIGINT}, 1, {}, Outcome::exitCode(3), "2\n"},
        // A program's interrupts never end the VM: a VM started directly would get both.
        SignalCase{"SecondInterruptIsPassedOnToo",
                   {SIGINT, SIGINT},
                   2,
                   {},
                   Outcome::exitCode(3),
                   "2\n2\n"},
        SignalCase{"QuitIsPassedOnAndEndsNothing",
                   {SIGQUIT, SIGQUIT, SIGTERM},
                   3,
                   {},
                   Outcome::exitCode(3),
                   "3\n3\n15\n"},
        SignalCase{"InterruptIgnoredByABackgroundJobStaysIgnored",
                   {SIGINT, SIGTERM},
                   1,
                   {SIGINT},
                   Outcome::exitCode(3),
                   "15\n"},
        // ssh -t, xterm -e, docker run -it: the connection or the window goes away.
        SignalCase{"TerminalHangsUpWhileTheLauncherLeadsItsSession",
                   {SIGHUP},
                   1,
                   {},
                   Outcome::exitCode(3),
                   "1\n",
                   Delivery::TerminalHangsUp},
        // timeout -s INT: the VM cleans up undisturbed and exits 130, every time.
        SignalCase{"InterruptToTheLauncherAndItsGroupIsOne",
                   {SIGINT},
                   1,
                   {},
                   Outcome::exitCode(130),
                   "2\ncleaned up\n",
                   Delivery::ToTheLauncherAndItsGroup,
                   130,
                   300,
                   10},
        // Typed before the VM existed, it reached the launcher alone: it is passed on, and the
        // Ctrl+C typed during the VM's clean-up is the first that counts, left to the VM.
        SignalCase{"InterruptTypedWhileTheVmStartsReachesItOnce",
                   {SIGINT, SIGINT},
                   1,
                   {},
                   Outcome::exitCode(130),
                   "2\ncleaned up\n",
                   Delivery::TypedWhileTheVmStarts,
                   130,
                   300}),
    caseName<SignalCase>);

// Process 1 of a PID namespace (a container) receives only signals it has a handler for:
// without one, SIGTERM from docker stop would not even reach the launcher.
TEST(SupervisePosix, TermReachesTheVmWhenTheLauncherIsProcessOne) {
    if (std::system("unshare --pid --fork true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no PID namespaces here (unshare --pid --fork)";
    }
    Installation installation;
    Launch launch = signalCatchingVm(installation, 1);
    launch.program = "unshare";
    launch.args = {"--pid", "--fork", "--kill-child", installation.launcher(), "x"};
    LauncherRun run(installation, launch);
    // The launcher is unshare's child; the VM writes its process id as its namespace sees it.
    std::optional<ProcessRef> launcher;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const ProcessRef& process : processesRunningFrom(installation.dir())) {
                const std::optional<ProcessStat> stat = statOf(process.pid);
                if (stat && stat->parent == run.pid()) {
                    launcher = process;
                }
            }
            return launcher && monitorOf(launcher->pid) && run.vmRan() &&
                   !readFile(installation.path("vm.pid")).empty();
        },
        kStartLimit));

    kill(launcher->pid, SIGTERM);
    EXPECT_EQ(run.finish(), Outcome::exitCode(3));
    EXPECT_EQ(readFile(installation.path("signals.txt")), "15\n");
}

// Without /proc (a minimal container or chroot) the launcher runs as anywhere: its monitor is
// a fork of it and needs no file to be started from, not even when the launcher was started
// through a descriptor (/dev/fd/<n>, which only /proc resolves).
struct NoProcCase {
    std::string name;
    bool byDescriptor;
};
void PrintTo(const NoProcCase& row, std::ostream* out) {
    *out << row.name;
}

class WithoutProc : public ::testing::TestWithParam<NoProcCase> {};

TEST_P(WithoutProc, MonitorStartsAndTheVmRuns) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers' runtime needs /proc";
#endif
    if (std::system("unshare -m sh -c 'umount -l /proc' >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no mount namespaces here (unshare -m)";
    }
    const NoProcCase& c = GetParam();
    Installation installation;
    Launch launch = heldVm();
    launch.program = "unshare";
    launch.args = {"-m", "sh", "-c", "umount -l /proc && exec \"$@\"", "sh"};
    const std::vector<std::string> command =
        c.byDescriptor
            ? std::vector<std::string>{SE_EXEC_LIMITED_PATH, "--by-descriptor",
                                       installation.launcher(), installation.launcher(), "x"}
            : std::vector<std::string>{installation.launcher(), "x"};
    launch.args.insert(launch.args.end(), command.begin(), command.end());
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> vm = run.waitForVm();
    std::optional<ProcessRef> monitor;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const ProcessRef& process : processesRunningFrom(installation.dir())) {
                if (isMonitorName(processNameOf(process.pid))) {
                    monitor = process;
                }
            }
            return monitor.has_value();
        },
        kStartLimit))
        << "no monitor";
    ASSERT_TRUE(vm);
    EXPECT_EQ(executableOf(monitor->pid), installation.launcher());
    EXPECT_EQ(run.vmArgv(), expectedVmArgv(installation, {}, {"x"}));
    run.releaseVm();

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.out(), "");
    EXPECT_TRUE(
        waitUntil([&] { return processesRunningFrom(installation.dir()).empty(); }, kRunLimit));
}

INSTANTIATE_TEST_SUITE_P(Cases, WithoutProc,
                         ::testing::Values(NoProcCase{"StartedFromAPath", false},
                                           NoProcCase{"StartedThroughADescriptor", true}),
                         caseName<NoProcCase>);

// ---- The monitor started by hand ----

// A child of the test that sleeps until it is killed, and a pidfd for it: what a monitor
// that misread its handle texts could end or wait for.
class Bystander {
  public:
    Bystander() : pid_(fork()) {
        if (pid_ == 0) {
            for (;;) {
                pause();
            }
        }
        if (pid_ > 0) {
            pidfd_ = highDescriptor(static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)));
        }
    }
    ~Bystander() {
        if (pidfd_ >= 0) {
            close(pidfd_);
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Bystander(const Bystander&) = delete;
    Bystander& operator=(const Bystander&) = delete;

    int pidfd() const { return pidfd_; }
    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

  private:
    pid_t pid_;
    int pidfd_ = -1;
};

struct HandMonitorCase {
    std::string name;
    std::string launcherHandle;
    std::string vmHandle;
};
void PrintTo(const HandMonitorCase& row, std::ostream* out) {
    *out << row.name;
}

class MonitorByHand : public ::testing::TestWithParam<HandMonitorCase> {};

// Handle texts that name no pidfd of the monitor's, or no number at all: the monitor ends at
// once and leaves alone the sleeping bystander whose pidfd it has as descriptor 5, neither
// waiting for it nor ending it. Standard input is a pipe that stays open, so a wait on
// descriptor 0 would never end either.
TEST_P(MonitorByHand, EndsAtOnceWithoutOutputAndEndsNothing) {
    const HandMonitorCase& c = GetParam();
    Installation installation;
    const Bystander bystander;
    ASSERT_GE(bystander.pidfd(), 0);
    ASSERT_TRUE(bystander.running());
    Launch launch{{"-monitor", c.launcherHandle, c.vmHandle}};
    launch.input = Input::OpenPipe;
    launch.passedDescriptors[5] = bystander.pidfd();
    LauncherRun run(installation, launch);

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.out(), "");
    EXPECT_EQ(run.err(), "");
    EXPECT_FALSE(run.vmRan());
    EXPECT_TRUE(bystander.running()) << "the monitor ended the process on descriptor 5";
}

INSTANTIATE_TEST_SUITE_P(Handles, MonitorByHand,
                         ::testing::Values(HandMonitorCase{"NoDescriptors", "123456", "654321"},
                                           HandMonitorCase{"Words", "abc", "def"},
                                           HandMonitorCase{"Negative", "-1", "-1"},
                                           HandMonitorCase{"StandardStreams", "0", "2"},
                                           HandMonitorCase{"ThirtyDigitLauncherHandle",
                                                           testing_support::kThirtyDigits, "5"},
                                           HandMonitorCase{"ThirtyDigitVmHandle", "5",
                                                           testing_support::kThirtyDigits}),
                         caseName<HandMonitorCase>);

// ---- Where the launcher is ----

TEST(SupervisePosix, RunsFromADirectoryWithASpace) {
    Installation installation("with space");
    LauncherRun run(installation, Launch{{"x"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.vmArgv(), expectedVmArgv(installation, {}, {"x"}));
}

TEST_P(EachLauncher, FindsItselfThroughPath) {
    Installation installation("e2e", GetParam());
    const std::string elsewhere = installation.makeSubdir("elsewhere");
    const std::string empty = installation.makeSubdir("empty");
    Launch launch{{"x"}};
    launch.program = installation.identity();
    launch.cwd = elsewhere;
    launch.path = empty + ":" + installation.dir();
    LauncherRun run(installation, launch);

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.vmArgv(), expectedVmArgv(installation, {}, {"x"}));
}

// What the shell found on PATH is the launcher, not a file of that name in the current
// directory, whose configuration would decide which program runs.
TEST(SupervisePosix, FileOfItsNameInTheCurrentDirectoryIsIgnored) {
    Installation installation;
    const std::string decoy = installation.makeSubdir("decoy");
    testing_support::writeFile(decoy + "se_javac", "not the launcher\n");
    Installation::writeConfigInto(decoy, {"JDK_HOME=" + decoy + "jdk"});
    Launch launch{{"x"}};
    launch.program = "se_javac";
    launch.cwd = decoy;
    launch.path = installation.dir();
    LauncherRun run(installation, launch);

    EXPECT_EQ(run.finish(), Outcome::exitCode(0)) << run.out() << run.err();
    EXPECT_EQ(run.vmArgv(), expectedVmArgv(installation, {}, {"x"}));
}

// exec needs no read permission, and neither does the lookup: an execute-only launcher finds
// its configuration, started by its path and by its bare name.
TEST(SupervisePosix, ExecuteOnlyLauncherFindsItsConfiguration) {
    Installation installation;
    fs::permissions(installation.launcher(),
                    fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(installation.dir(), fs::perms::all); // the stand-in records itself there
    for (const bool throughPath : {false, true}) {
        Launch launch{{"x"}};
        launch.unprivileged = true;
        if (throughPath) {
            launch.program = "se_javac";
            launch.path = installation.dir();
        }
        LauncherRun run(installation, launch);

        EXPECT_EQ(run.finish(), Outcome::exitCode(0))
            << (throughPath ? "bare name: " : "path: ") << run.err();
        EXPECT_EQ(run.vmArgv(), expectedVmArgv(installation, {}, {"x"}));
    }
}

// argv[0] may name another file than the one running; the monitor must be this one anyway.
TEST(SupervisePosix, MonitorIsThisExecutableWhateverArgv0Names) {
    Installation installation;
    const std::string decoy = installation.makeSubdir("decoy");
    testing_support::writeFile(decoy + "se_javac", "#!/bin/sh\nexit 0\n");
    fs::permissions(decoy + "se_javac", fs::perms::owner_all);
    Installation::writeConfigInto(decoy, {"JDK_HOME=" + installation.jdk()});
    Launch launch = heldVm();
    launch.argv0 = "se_javac";
    launch.cwd = installation.makeSubdir("elsewhere");
    launch.path = decoy;
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(monitor);

    EXPECT_EQ(executableOf(monitor->pid), installation.launcher());
    run.releaseVm();
    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
}

// Links, a namesake the shell would not run and "~" in PATH: the launcher reads the
// configuration of the installation it finally is, or one kept beside its link.
struct FoundCase {
    std::string name;
    // Lays out the files around the installation; says how the launcher is started.
    std::function<Launch(const Installation&)> arrange;
    std::string version = ""; // the VERSION the VM gets, "" for none
    bool noConfiguration = false;
};
void PrintTo(const FoundCase& row, std::ostream* out) {
    *out << row.name;
}

class FindsItsConfiguration : public ::testing::TestWithParam<FoundCase> {};

// A launcher started by its bare name from another directory, PATH naming `dir` only.
Launch byBareName(const Installation& installation, const std::string& dir) {
    Launch launch{{"x"}};
    launch.program = installation.identity();
    launch.cwd = installation.makeSubdir("elsewhere");
    launch.path = dir;
    return launch;
}

std::string linkIn(const Installation& installation, const std::string& dir,
                   const std::string& target) {
    const std::string directory = installation.makeSubdir(dir);
    fs::create_symlink(target, directory + installation.identity());
    return directory;
}

TEST_P(FindsItsConfiguration, ThroughLinksAndOddPaths) {
    const FoundCase& c = GetParam();
    Installation installation;
    const Launch launch = c.arrange(installation);
    LauncherRun run(installation, launch);

    if (c.noConfiguration) {
        EXPECT_EQ(run.finish(), Outcome::exitCode(1));
        EXPECT_EQ(run.err(), "cannot find config file: " + installation.dir() + "/morle_tool.cfg");
        EXPECT_FALSE(run.vmRan());
        return;
    }
    EXPECT_EQ(run.finish(), Outcome::exitCode(0)) << run.err();
    std::vector<std::string> expected = expectedVmArgv(installation, {}, {"x"});
    if (!c.version.empty()) {
        expected.insert(expected.begin() + 1, "-Dtovik_version=" + c.version);
    }
    EXPECT_EQ(run.vmArgv(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindsItsConfiguration,
    ::testing::Values(
        FoundCase{"RelativeLinkOnPath",
                  [](const Installation& i) {
                      return byBareName(i, linkIn(i, "bin", "../" + i.identity()));
                  }},
        // As alternatives do it: /usr/bin/x -> /etc/alternatives/x -> the installation.
        FoundCase{"AbsoluteChainOfTwoLinks",
                  [](const Installation& i) {
                      const std::string alternatives = linkIn(i, "alternatives", i.launcher());
                      return byBareName(i, linkIn(i, "bin", alternatives + i.identity()));
                  }},
        FoundCase{"LinkWithItsOwnConfiguration",
                  [](const Installation& i) {
                      const std::string bin = linkIn(i, "bin", i.launcher());
                      Installation::writeConfigInto(bin, {"JDK_HOME=" + i.jdk(), "VERSION=link"});
                      return byBareName(i, bin);
                  },
                  "link"},
        FoundCase{"NoConfigurationAnywhere",
                  [](const Installation& i) {
                      fs::remove(i.path("morle_tool.cfg"));
                      return byBareName(i, linkIn(i, "bin", i.launcher()));
                  },
                  "", true},
        // A mode-644 namesake with a configuration in the current directory, which a PATH
        // starting with ':' searches first: the shell passes over it, and so does the lookup.
        FoundCase{"NonExecutableNamesakeFirst",
                  [](const Installation& i) {
                      const std::string decoy = i.makeSubdir("decoy");
                      testing_support::writeFile(decoy + i.identity(), "#!/bin/sh\nexit 3\n");
                      fs::permissions(decoy + i.identity(),
                                      fs::perms::owner_read | fs::perms::owner_write |
                                          fs::perms::group_read | fs::perms::others_read);
                      Installation::writeConfigInto(decoy, {"JDK_HOME=" + decoy + "no-jdk"});
                      Launch launch = byBareName(i, ":" + i.dir());
                      launch.cwd = decoy;
                      return launch;
                  }},
        // bash finds ~/bin/se_javac and starts it under its bare name; the launcher reads the
        // configuration beside that link, which only "~" read as HOME leads to.
        FoundCase{"TildeBinInPath",
                  [](const Installation& i) {
                      const std::string home = i.makeSubdir("home");
                      const std::string bin = linkIn(i, "home/bin", i.launcher());
                      Installation::writeConfigInto(bin, {"JDK_HOME=" + i.jdk(), "VERSION=home"});
                      Launch launch = byBareName(i, "~/bin:" + i.makeSubdir("empty"));
                      launch.program = i.launcher();
                      launch.argv0 = i.identity();
                      launch.env = {{"HOME", home.substr(0, home.size() - 1)}};
                      return launch;
                  },
                  "home"},
        // Started under a name that PATH does not lead to: its own file decides.
        FoundCase{"NameThatPathDoesNotFind",
                  [](const Installation& i) {
                      Launch launch = byBareName(i, i.makeSubdir("empty"));
                      launch.program = i.launcher();
                      launch.argv0 = i.identity();
                      return launch;
                  }}),
    caseName<FoundCase>);

// ---- Configuration errors end the launcher before anything starts ----

// No configuration file, or a FIFO under its name, which a reader would wait on for ever: the
// launcher cannot find its configuration. The messages of the other configuration errors
// are the reader's, pinned in tool_config_test.cpp.
struct MissingConfigCase {
    std::string name;
    // Makes something else than a file under the configuration's name; nullptr: nothing.
    std::function<void(const std::string& path)> makeInstead;
};
void PrintTo(const MissingConfigCase& row, std::ostream* out) {
    *out << row.name;
}

class MissingConfiguration : public ::testing::TestWithParam<MissingConfigCase> {};

TEST_P(MissingConfiguration, IsReportedOnStderrWithoutLineFeed) {
    const MissingConfigCase& c = GetParam();
    Installation installation;
    fs::remove(installation.path("morle_tool.cfg"));
    if (c.makeInstead) {
        c.makeInstead(installation.path("morle_tool.cfg"));
    }
    LauncherRun run(installation, Launch{{"-d", "out", "A.java"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(1));
    EXPECT_EQ(run.err(), "cannot find config file: " + installation.dir() + "/morle_tool.cfg");
    EXPECT_EQ(run.out(), "");
    EXPECT_FALSE(run.vmRan());
    EXPECT_TRUE(processesRunningFrom(installation.dir()).empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, MissingConfiguration,
                         ::testing::Values(MissingConfigCase{"MissingFile", nullptr},
                                           MissingConfigCase{"Fifo",
                                                             [](const std::string& path) {
                                                                 ASSERT_EQ(
                                                                     mkfifo(path.c_str(), 0644), 0);
                                                             }}),
                         caseName<MissingConfigCase>);

INSTANTIATE_TEST_SUITE_P(Launchers, EachLauncher, kBothLaunchers, identityName);

} // namespace

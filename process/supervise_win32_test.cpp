// End-to-end tests of the launchers on Windows: each test installs se_javac.exe (or
// se_java.exe) with its configuration and a stand-in VM (as <jdk>\bin\java.exe) in a fresh
// temporary directory, starts it with an exact command line and watches the processes it starts.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "launcher_run_win32.h"
#include "test_support.h"

namespace {

using namespace launcher_run;
using testing_support::buildPath;
using testing_support::writeFile;

// ---------------------------------------------------------------------------------------
// The VM's command line

// A launcher command line for the table-driven cases: a name for the test and the arguments.
struct ArgumentsCase {
    const char* name;
    std::vector<std::string> arguments;
};

void PrintTo(const ArgumentsCase& param, std::ostream* out) {
    *out << param.name;
}

std::string caseName(const ::testing::TestParamInfo<ArgumentsCase>& info) {
    return info.param.name;
}

// Every configuration key, and tool arguments and -J values with every byte the quoting
// treats specially: the VM gets the command line exactly, and its runtime reads back each
// tool argument as it was typed and each -J value divided at its blanks, a quote in it
// joining nothing to it. arguments_test.cpp pins the command line for each kind of value.
TEST_F(LauncherTest, EverySpecialByteReachesTheVm) {
    const Installation installation = installLauncher(
        "command-line", "JDK_HOME=<jdk>\nCLASSPATH=C:\\t\\a.jar\nVORNEX_PATH=C:\\vx\\\n"
                        "VERSION=2.0\nBUILD=15\n");
    steerVm(installation, {});
    const std::vector<std::string> arguments = {"-J-Xmx256m", "-J-Dx=a\"b", "-J-Dp=C:\\o d\\",
                                                "C:\\out\\",  "a\"b",       "\\\\\"x",
                                                "",           "a b",        "\\",
                                                "\"",         "a\\\\b\\\\", "-J-Dq=\"c d\"",
                                                "tab\there",  "\xE9t\xE9",  "plain"};
    Launch launch(commandLine(installation.launcher, arguments), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(
        record->commandLine,
        installation.expand(
            R"("<jdk>\bin\java" -Dtovik_version="2.0" -Dtovik_build="15" )"
            R"(-Dtovik_vornex="C:\vx\\" -classpath "C:\t\a.jar;<jdk>\lib\tools.jar" )"
            R"(-Xmx256m -Dx=a\"b -Dp=C:\o d\ -Dq=\"c d\" fenmoor.zandrel.se.java.toJava.Main )"
            R"(se_javac "C:\out\\" "a\"b" "\\\\\"x" "" "a b" "\\" "\"" "a\\b\\\\" )"
            "\"tab\there\" \"\xE9t\xE9\" \"plain\""));
    EXPECT_EQ(record->argv,
              (std::vector<std::string>{installation.jdk + "\\bin\\java",
                                        "-Dtovik_version=2.0",
                                        "-Dtovik_build=15",
                                        "-Dtovik_vornex=C:\\vx\\",
                                        "-classpath",
                                        "C:\\t\\a.jar;" + installation.jdk + "\\lib\\tools.jar",
                                        "-Xmx256m",
                                        "-Dx=a\"b",
                                        "-Dp=C:\\o",
                                        "d\\",
                                        "-Dq=\"c",
                                        "d\"",
                                        kEntryClass,
                                        "se_javac",
                                        "C:\\out\\",
                                        "a\"b",
                                        "\\\\\"x",
                                        "",
                                        "a b",
                                        "\\",
                                        "\"",
                                        "a\\\\b\\\\",
                                        "tab\there",
                                        "\xE9t\xE9",
                                        "plain"}));
}

// Only argc 4 with "-monitor" exactly selects the monitor; anything else is a launcher run
// whose arguments go to the tool.
class ModeDispatchTest : public LauncherTest,
                         public ::testing::WithParamInterface<ArgumentsCase> {};

TEST_P(ModeDispatchTest, RunsAsLauncher) {
    const Installation installation = installLauncher("dispatch", kPlainConfig);
    steerVm(installation, {});
    Launch launch(commandLine(installation.launcher, GetParam().arguments), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, expectedVmArgv(installation, {}, GetParam().arguments));
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, ModeDispatchTest,
    ::testing::Values(ArgumentsCase{"monitor_one_number", {"-monitor", "5"}},
                      ArgumentsCase{"monitor_three_numbers", {"-monitor", "5", "6", "7"}},
                      ArgumentsCase{"capital_Monitor", {"-Monitor", "1", "2"}}),
    caseName);

// ---------------------------------------------------------------------------------------
// Exit code and output of the VM

class VmResultTest : public LauncherTest, public ::testing::WithParamInterface<VmBehaviour> {};

TEST_P(VmResultTest, ExitCodeAndOutputPassThrough) {
    const VmBehaviour& behaviour = GetParam();
    const Installation installation = installLauncher("result", kPlainConfig);
    steerVm(installation, behaviour);
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), static_cast<DWORD>(behaviour.exitCode));
    EXPECT_EQ(launch.output(), behaviour.output);
    EXPECT_EQ(launch.errors(), behaviour.errors);
}

INSTANTIATE_TEST_SUITE_P(Launcher, VmResultTest,
                         ::testing::Values(VmBehaviour{0, 0, "", ""},
                                           VmBehaviour{3, 0, "vm output 3", "vm errors 3"},
                                           VmBehaviour{255, 0, "vm output 255", "vm errors 255"}),
                         [](const ::testing::TestParamInfo<VmBehaviour>& info) {
                             return "exit_" + std::to_string(info.param.exitCode);
                         });

// ---------------------------------------------------------------------------------------
// Start failure

// A JDK directory without java.exe: the same error on Windows and under Wine, which tell a
// missing directory differently.
TEST_F(LauncherTest, MissingVmIsReportedAndStartsNoMonitor) {
    const Installation installation = installLauncher("missing", "JDK_HOME=<dir>empty-jdk\n");
    makeDir(installation.dir + "empty-jdk");
    makeDir(installation.dir + "empty-jdk\\bin");
    steerVm(installation, {});
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 1u);
    EXPECT_EQ(launch.output(), startFailure("java virtual machine", ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(launch.errors(), "");
    // Nothing but the launcher ran in its job: neither a VM nor a monitor.
    EXPECT_EQ(launch.processesStarted(), 1u);
}

// ---------------------------------------------------------------------------------------
// Supervision

// The launcher's job ends the VM at once (with the job's exit code, 0 under Wine; the
// monitor, where there is no job, ends it with 1), and the monitor with it. The VM is held:
// only the supervision can end it within the limit.
TEST_F(LauncherTest, KillingTheLauncherEndsTheVm) {
    const Installation installation = installLauncher("kill-launcher", kPlainConfig);
    steerVm(installation, heldVm(7));
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);
    const UniqueHandle vm = openProcess(waitForVmPid(installation));
    const UniqueHandle monitor = openProcess(waitForMonitorPid(launch));

    ASSERT_EQ(waitForExit(vm.get(), 0), std::nullopt) << "the VM should still run";
    ASSERT_TRUE(TerminateProcess(launch.process(), 9));
    EXPECT_TRUE(waitForExit(vm.get(), kRunLimitMs).has_value()) << "the VM outlived the launcher";
    EXPECT_TRUE(waitForExit(monitor.get(), kRunLimitMs).has_value())
        << "the monitor outlived the launcher";
}

TEST_F(LauncherTest, KillingTheMonitorEndsTheVmAndTheLauncher) {
    const Installation installation = installLauncher("kill-monitor", kPlainConfig);
    steerVm(installation, heldVm(7));
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);
    const UniqueHandle vm = openProcess(waitForVmPid(installation));
    const UniqueHandle monitor = openProcess(waitForMonitorPid(launch));

    ASSERT_EQ(waitForExit(vm.get(), 0), std::nullopt) << "the VM should still run";
    ASSERT_TRUE(TerminateProcess(monitor.get(), 9));
    EXPECT_EQ(waitForExit(vm.get(), kRunLimitMs), 1u);
    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 1u);
}

// The monitor inherits its two handles and nothing else of the launcher's. A pipe of the
// caller's that the launcher inherited (its redirected output, say) is not held by the
// monitor, which could keep it open after the launcher's end; the caller reading it sees its
// end once the launcher has ended.
TEST_F(LauncherTest, MonitorHoldsNothingOfTheCallers) {
    const Installation installation = installLauncher("handles", kPlainConfig);
    steerVm(installation, heldVm());
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 0));
    const UniqueHandle reader(readEnd);
    UniqueHandle writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);
    writer.reset();
    const DWORD monitor = waitForMonitorPid(launch);

    // Whether a process holds the pipe under the value the launcher inherited it: a copy of
    // that handle writes into the pipe.
    const auto holdsThePipe = [&](DWORD pid) {
        const UniqueHandle process(OpenProcess(PROCESS_DUP_HANDLE, FALSE, pid));
        HANDLE copy = nullptr;
        if (!process || !DuplicateHandle(process.get(), writeEnd, GetCurrentProcess(), &copy, 0,
                                         FALSE, DUPLICATE_SAME_ACCESS)) {
            return false;
        }
        const UniqueHandle held(copy);
        DWORD written = 0;
        DWORD available = 0;
        char byte = 0;
        const bool wrote = WriteFile(copy, "x", 1, &written, nullptr) && written == 1 &&
                           PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) &&
                           available == 1;
        return wrote && ReadFile(readEnd, &byte, 1, &written, nullptr);
    };
    EXPECT_TRUE(holdsThePipe(launch.pid())) << "the launcher should hold it";
    EXPECT_FALSE(holdsThePipe(monitor)) << "the monitor holds the caller's pipe";

    releaseVm(installation);
    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    EXPECT_TRUE(pollFor(kRunLimitMs, [&] {
        return !PeekNamedPipe(readEnd, nullptr, 0, nullptr, nullptr, nullptr) &&
               GetLastError() == ERROR_BROKEN_PIPE;
    })) << "the pipe did not end with the launcher";
}

// Tests that hold for both launchers, the compiler and the runner.
class EachLauncherTest : public LauncherTest, public ::testing::WithParamInterface<std::string> {};

// The monitor is the launcher's own executable.
TEST_P(EachLauncherTest, MonitorIsItselfAndEndsAfterNormalEnd) {
    const Installation installation = installLauncher("normal-end", kPlainConfig, "", GetParam());
    steerVm(installation, heldVm());
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);
    const UniqueHandle vm = openProcess(waitForVmPid(installation));
    const UniqueHandle monitor = openProcess(waitForMonitorPid(launch, GetParam()));
    releaseVm(installation);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    EXPECT_EQ(waitForExit(vm.get(), 0), 0u);
    EXPECT_EQ(waitForExit(monitor.get(), kRunLimitMs), 0u);
    EXPECT_TRUE(pollFor(kRunLimitMs, [&] { return launch.accounting().ActiveProcesses == 0; }))
        << "something the launcher started still runs";
    EXPECT_EQ(launch.processesStarted(), 3u) << "launcher, VM and monitor";
}

// The monitor started by hand with handle texts that name no handle of its own, or no number
// that fits a handle, beside a handle it inherits for a held bystander (<bystander> stands
// for its value): it ends at once, writes nothing, starts nothing, and leaves the bystander
// alone, neither waiting for it nor ending it.
struct HandMonitorCase {
    std::string title;
    std::string launcherHandle;
    std::string vmHandle;
};
void PrintTo(const HandMonitorCase& row, std::ostream* out) {
    *out << row.title;
}

class MonitorByHandTest : public LauncherTest,
                          public ::testing::WithParamInterface<HandMonitorCase> {};

TEST_P(MonitorByHandTest, EndsAtOnceWithoutOutputAndEndsNothing) {
    const HandMonitorCase& c = GetParam();
    const Installation installation = installLauncher("monitor", kPlainConfig);
    steerVm(installation, heldVm());
    const Launch bystander('"' + installation.jdk + "\\bin\\java.exe\"", tempDir("bystander"));
    HANDLE inheritable = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), bystander.process(), GetCurrentProcess(),
                                &inheritable, 0, TRUE, DUPLICATE_SAME_ACCESS));
    const UniqueHandle inherited(inheritable);
    const std::string handleText = std::to_string(reinterpret_cast<std::intptr_t>(inheritable));
    Launch launch(commandLine(installation.launcher,
                              {"-monitor", replaceAll(c.launcherHandle, "<bystander>", handleText),
                               replaceAll(c.vmHandle, "<bystander>", handleText)}),
                  installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    EXPECT_EQ(launch.output(), "");
    EXPECT_EQ(launch.errors(), "");
    EXPECT_EQ(launch.processesStarted(), 1u);
    EXPECT_EQ(bystander.waitForExit(0), std::nullopt) << "the monitor ended the bystander";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MonitorByHandTest,
    ::testing::Values(HandMonitorCase{"Numbers not handles", "123456", "654321"},
                      HandMonitorCase{"Not numbers", "abc", "def"},
                      // -1 is the pseudo handle of the process itself.
                      HandMonitorCase{"Its own process", "-1", "-1"},
                      HandMonitorCase{"Thirty digit launcher handle",
                                      testing_support::kThirtyDigits, "<bystander>"},
                      HandMonitorCase{"Thirty digit VM handle", "<bystander>",
                                      testing_support::kThirtyDigits}),
    testing_support::TitleName());

// ---------------------------------------------------------------------------------------
// How the launcher is named

// The first child of the launcher that runs one of `exeNames`, once one has appeared.
std::optional<DWORD> waitForChildRunning(const Launch& launch,
                                         const std::vector<std::string>& exeNames) {
    return pollFor(kRunLimitMs, [&]() -> std::optional<DWORD> {
        for (const std::string& name : exeNames) {
            if (const std::optional<DWORD> pid = findChildProcess(launch.pid(), name)) {
                return pid;
            }
        }
        return std::nullopt;
    });
}

// The monitor is started under the launcher's own name. With a space in the directory, an
// unquoted name would start "<base>with.exe" (Windows tries the shorter prefix first). The
// decoy there is a copy of the launcher that finds no configuration beside it and ends at
// once, so a monitor started as the decoy would end the held VM with code 1.
TEST_F(LauncherTest, DirectoryWithSpace) {
    const Installation installation = installLauncher("space", kPlainConfig, "with space");
    copyFile(buildPath(SE_LAUNCHER_PATH), installation.base + "with.exe");
    steerVm(installation, heldVm());
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);
    const std::optional<DWORD> monitor = waitForChildRunning(launch, {"se_javac.exe", "with.exe"});
    ASSERT_TRUE(monitor.has_value()) << "no monitor appeared";
    EXPECT_EQ(lstrcmpiA(imagePathOf(*monitor).c_str(), installation.launcher.c_str()), 0)
        << imagePathOf(*monitor);
    releaseVm(installation);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, expectedVmArgv(installation, {}, {"-d", "out"}));
}

// Build tools start programs as C:/dir/se_javac.exe: the configuration beside it counts, not
// one in the current directory.
TEST_F(LauncherTest, ForwardSlashesInTheLaunchersPath) {
    const Installation installation = installLauncher("slashes", kPlainConfig);
    const std::string elsewhere = tempDir("elsewhere");
    writeFile(elsewhere + "morle_tool.cfg", "JDK_HOME=" + elsewhere + "no-such-jdk\n");
    steerVm(installation, {});
    Launch launch(commandLine(replaceAll(installation.launcher, "\\", "/"), {"-d", "out"}),
                  installation.dir, elsewhere);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u) << launch.output() << launch.errors();
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, expectedVmArgv(installation, {}, {"-d", "out"}));
}

// "C:\Program Files\se javac" written with its quotes on PATH is searched, not passed over
// for another installation further on.
TEST_F(LauncherTest, QuotedPathEntryIsSearched) {
    const Installation installation = installLauncher("quoted", kPlainConfig, "se javac");
    const Installation other = installLauncher("other", "JDK_HOME=<dir>no-such-jdk\n");
    const std::string elsewhere = tempDir("elsewhere");
    std::string pathValue = '"' + installation.dir.substr(0, installation.dir.size() - 1) + "\";" +
                            other.dir.substr(0, other.dir.size() - 1);
    if (const std::optional<std::string> previous = ScopedEnvironment::get("PATH")) {
        pathValue += ';' + *previous;
    }
    environment_.set("PATH", pathValue);
    steerVm(installation, {});
    Launch launch("se_javac -d out file1", installation.dir, elsewhere, installation.launcher);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u) << launch.output() << launch.errors();
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, expectedVmArgv(installation, {}, {"-d", "out", "file1"}));
}

TEST_P(EachLauncherTest, BareNameFoundThroughPath) {
    const Installation installation = installLauncher("path", kPlainConfig, "", GetParam());
    const std::string elsewhere = tempDir("elsewhere");
    std::string pathValue = installation.dir.substr(0, installation.dir.size() - 1);
    if (const std::optional<std::string> previous = ScopedEnvironment::get("PATH")) {
        pathValue += ';' + *previous;
    }
    environment_.set("PATH", pathValue);
    steerVm(installation, {});
    Launch launch(GetParam() + " -d out file1", installation.dir, elsewhere);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u) << launch.output() << launch.errors();
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, expectedVmArgv(installation, {}, {"-d", "out", "file1"}));
    EXPECT_EQ(launch.processesStarted(), 3u) << "launcher, VM and monitor";
}

// A package manager's link to the launcher in a folder on PATH (winget's Links folder): the
// configuration beside the file the link leads to is read, as the link's folder has none.
TEST_F(LauncherTest, LinkOnPathLeadsToTheInstallation) {
    if (!underWine()) {
        GTEST_SKIP() << "the link is a Unix symbolic link, made through Wine";
    }
    const Installation installation = installLauncher("linked", kPlainConfig);
    const std::string links = tempDir("links");
    makeUnixSymlink(installation.launcher, links + "se_javac.exe");
    environment_.set("PATH", links.substr(0, links.size() - 1) + ';' +
                                 ScopedEnvironment::get("PATH").value_or(""));
    steerVm(installation, {});
    Launch launch("se_javac -d out file1", installation.dir, tempDir("elsewhere"));

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u) << launch.output() << launch.errors();
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, expectedVmArgv(installation, {}, {"-d", "out", "file1"}));
}

INSTANTIATE_TEST_SUITE_P(Launchers, EachLauncherTest, ::testing::Values("se_javac", "se_java"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

} // namespace

namespace {

// ---------------------------------------------------------------------------------------
// Where the VM is found without JDK_HOME

// The last component of a directory path that ends in a separator.
std::string uniqueNameOf(const std::string& dir) {
    const std::string withoutSeparator = dir.substr(0, dir.size() - 1);
    return withoutSeparator.substr(withoutSeparator.find_last_of('\\') + 1);
}

// A program that must never run: a copy of the launcher, which finds no configuration
// beside it and ends at once with exit code 1 and a message on standard error.
void placeDecoy(const std::string& path) {
    copyFile(buildPath(SE_LAUNCHER_PATH), path);
}

struct VmLookupCase {
    const char* name;
    bool besideLauncher; // the stand-in as java.exe in the launcher's directory
    bool onPath;         // the stand-in's directory on PATH
    bool decoyOnPath;    // another java.exe on PATH
    bool runs;           // the stand-in runs; else nothing is found
};

void PrintTo(const VmLookupCase& param, std::ostream* out) {
    *out << param.name;
}

class VmLookupTest : public LauncherTest, public ::testing::WithParamInterface<VmLookupCase> {};

// The bare "java" is looked up where CreateProcessA would, but never in the current
// directory, where a java.exe waits; its command line stays "java" in quotes.
TEST_P(VmLookupTest, NeverRunsAJavaFromTheCurrentDirectory) {
    const VmLookupCase& param = GetParam();
    const Installation installation = installLauncher(param.name, "VERSION=2.0\n");
    const std::string work = tempDir("work");
    placeDecoy(work + "java.exe");
    if (param.besideLauncher) {
        copyFile(buildPath(SE_STAND_IN_VM_PATH), installation.dir + "java.exe");
    }
    // Empty and relative entries would lead the system's search to the current directory.
    std::string path = ";.;..\\" + uniqueNameOf(work) + ";";
    path += param.onPath ? installation.jdk + "\\bin;" : "";
    if (param.decoyOnPath) {
        const std::string decoyDir = tempDir("decoy-on-path");
        placeDecoy(decoyDir + "java.exe");
        path += decoyDir.substr(0, decoyDir.size() - 1) + ";";
    }
    path += ScopedEnvironment::get("PATH").value_or("");
    environment_.set("PATH", path);
    steerVm(installation, {});
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir, work);

    if (param.runs) {
        EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u) << launch.errors();
        const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
        ASSERT_TRUE(record.has_value()) << "the VM did not run";
        EXPECT_EQ(record->commandLine, std::string("\"java\" -Dtovik_version=\"2.0\" ") +
                                           kEntryClass + " se_javac \"-d\" \"out\"");
        EXPECT_EQ(launch.errors(), "");
    } else {
        EXPECT_EQ(launch.waitForExit(kRunLimitMs), 1u);
        EXPECT_EQ(launch.output(), startFailure("java virtual machine", ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(launch.errors(), "");
        EXPECT_EQ(launch.processesStarted(), 1u) << "something was started";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, VmLookupTest,
    ::testing::Values(VmLookupCase{"on_path", false, true, false, true},
                      VmLookupCase{"beside_the_launcher_before_path", true, false, true, true},
                      VmLookupCase{"only_in_the_current_directory", false, false, false, false}),
    [](const ::testing::TestParamInfo<VmLookupCase>& info) { return info.param.name; });

// A launcher in a drive's root (a folder mapped to a free drive letter through the prefix's
// dosdevices) finds java.exe beside it: its folder "R:\" is searched, not dropped as "R:".
TEST_F(LauncherTest, JavaBesideALauncherInADrivesRoot) {
    if (!underWine()) {
        GTEST_SKIP() << "the drive is mapped through Wine's dosdevices";
    }
    const DWORD drives = GetLogicalDrives();
    char letter = 'R';
    while (letter <= 'Y' && (drives & (1u << (letter - 'A'))) != 0) {
        ++letter;
    }
    ASSERT_LE(letter, 'Y') << "no free drive letter";
    const Installation installation = installLauncher("drive-root", "VERSION=2.0\n");
    copyFile(buildPath(SE_STAND_IN_VM_PATH), installation.dir + "java.exe");
    const std::string root = std::string(1, letter) + ":\\";
    const std::string cDrive = unixPathOf("C:\\");
    const std::string mapping = cDrive.substr(0, cDrive.find_last_of('/', cDrive.size() - 2) + 1) +
                                static_cast<char>(letter - 'A' + 'a') + ':';
    runUnixShell("/bin/ln -s '" + unixPathOf(installation.dir) + "' '" + mapping + "'", [&] {
        return GetFileAttributesA((root + "se_javac.exe").c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    struct Unmap {
        std::string mapping, root;
        ~Unmap() {
            runUnixShell("rm -f '" + mapping + "'", [&] {
                return GetFileAttributesA(root.c_str()) == INVALID_FILE_ATTRIBUTES;
            });
        }
    } unmap{mapping, root};
    steerVm(installation, {});
    Launch launch(commandLine(root + "se_javac.exe", {"-d", "out"}), installation.dir,
                  tempDir("work"));

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u) << launch.output() << launch.errors();
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->commandLine, std::string("\"java\" -Dtovik_version=\"2.0\" ") + kEntryClass +
                                       " se_javac \"-d\" \"out\"");
}

// The VM found by the launcher's own search gets the launcher's environment exactly: no
// setting made for the search reaches it.
TEST_F(LauncherTest, VmFoundOnPathGetsTheLaunchersEnvironment) {
    const Installation installation = installLauncher("environment", "");
    environment_.set("PATH",
                     installation.jdk + "\\bin;" + ScopedEnvironment::get("PATH").value_or(""));
    steerVm(installation, {});
    char* block = GetEnvironmentStringsA();
    const std::vector<std::string> expected = sortedEnvironment(block);
    FreeEnvironmentStringsA(block);
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir,
                  tempDir("work"));

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    const std::optional<std::vector<std::string>> entries =
        readEntries(installation.environmentPath());
    ASSERT_TRUE(entries.has_value()) << "the VM did not run";
    std::vector<char> vmBlock;
    for (const std::string& entry : *entries) {
        vmBlock.insert(vmBlock.end(), entry.begin(), entry.end());
        vmBlock.push_back('\0');
    }
    vmBlock.push_back('\0');
    EXPECT_EQ(sortedEnvironment(vmBlock.data()), expected);
}

// ---------------------------------------------------------------------------------------
// Which file runs as the monitor

// The monitor is the launcher's own file, whatever its name on the command line finds: here
// "se_javac", under which the launcher (installed as tool.exe) finds the se_javac.exe and
// morle_tool.cfg in the current directory, and a start by that name would run that file.
TEST_F(LauncherTest, MonitorIsTheLaunchersOwnFile) {
    const Installation installation = installLauncher("own-file", kPlainConfig);
    const std::string tool = installation.dir + "tool.exe";
    copyFile(installation.launcher, tool);
    const std::string work = tempDir("work");
    copyFile(buildPath(SE_STAND_IN_VM_PATH), work + "se_javac.exe");
    testing_support::writeFile(work + "morle_tool.cfg", installation.expand(kPlainConfig));
    steerVm(installation, heldVm());
    Launch launch("se_javac -d out", installation.dir, work, tool);

    const std::optional<DWORD> monitor = waitForChildRunning(launch, {"tool.exe", "se_javac.exe"});
    ASSERT_TRUE(monitor.has_value()) << "no monitor appeared";
    EXPECT_EQ(lstrcmpiA(imagePathOf(*monitor).c_str(), tool.c_str()), 0) << imagePathOf(*monitor);
    releaseVm(installation);
    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
}

} // namespace

// End-to-end tests of the launcher at the limits on Windows: a very long name, a very long
// PATH, and VM command lines at and beyond what CreateProcessA takes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "launcher_run_win32.h"
#include "test_support.h"

namespace {

using namespace launcher_run;

// The longest command line CreateProcessA takes, in characters without the terminating NUL.
constexpr std::size_t kLongestCommandLine = 32766;

std::string withoutTrailingBackslash(const std::string& dir) {
    return dir.substr(0, dir.size() - 1);
}

// The VM's command line for an installation whose configuration sets JDK_HOME and, when it
// is not empty, CLASSPATH, with tool arguments made of letters only, which the launcher puts
// between quotes as they are.
std::string vmCommandLine(const Installation& installation, const std::string& classPath,
                          const std::vector<std::string>& arguments) {
    std::string line = "\"" + installation.jdk + "\\bin\\java\" -classpath \"" +
                       (classPath.empty() ? "" : classPath + ";") + installation.jdk +
                       "\\lib\\tools.jar\" " + kEntryClass + " se_javac";
    for (const std::string& argument : arguments) {
        line += " \"" + argument + "\"";
    }
    return line;
}

class LimitsWin32 : public LauncherTest {
  protected:
    // Puts the installation's directory last on PATH.
    void putLastOnPath(const Installation& installation) {
        const std::optional<std::string> previous = ScopedEnvironment::get("PATH");
        environment_.set("PATH", (previous ? *previous + ";" : std::string()) +
                                     withoutTrailingBackslash(installation.dir));
    }
};

// ---------------------------------------------------------------------------------------
// The launcher's name and PATH

struct LongNameCase {
    std::string title;
    std::string firstWord; // as it stands on the command line
};
void PrintTo(const LongNameCase& row, std::ostream* out) {
    *out << row.title;
}

class LongLauncherName : public LimitsWin32, public ::testing::WithParamInterface<LongNameCase> {};

// se_javac.exe started as itself, with a first word of 10,000 characters that names no file:
// the launcher finds its directory as the last one on PATH, starts the VM, and starts the
// monitor from its own file, whatever the name says; the monitor sees the name as its first
// word.
TEST_P(LongLauncherName, RunsWithItsMonitorAllTheSame) {
    const Installation installation = installLauncher("long-name", kPlainConfig);
    putLastOnPath(installation);
    steerVm(installation, {0, 0, "", ""});
    Launch launch(GetParam().firstWord + " -d out", installation.dir, tempDir("elsewhere"),
                  installation.launcher);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    EXPECT_EQ(launch.output(), "");
    EXPECT_EQ(launch.errors(), "");
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, expectedVmArgv(installation, {}, {"-d", "out"}));
    EXPECT_EQ(launch.processesStarted(), 3u) << "launcher, VM and monitor";
}

INSTANTIATE_TEST_SUITE_P(
    TenThousandCharacters, LongLauncherName,
    ::testing::Values(LongNameCase{"Letters", std::string(9992, 'n') + "se_javac"},
                      LongNameCase{"WithSpaces", "\"" + std::string(4000, 'a') + " " +
                                                     std::string(5991, 'b') + "se_javac\""}),
    testing_support::TitleName());

// A first word that leaves the launcher's own command line at the longest length, so that
// the monitor's, which puts " -monitor" and two numbers after it, is too long to start: the
// launcher reports it and ends the VM.
TEST_F(LimitsWin32, MonitorCommandLineTooLongIsReportedAndEndsTheVm) {
    const Installation installation = installLauncher("long-monitor", kPlainConfig);
    putLastOnPath(installation);
    steerVm(installation, heldVm());
    const std::string firstWord(kLongestCommandLine - std::string(" -d out").size(), 'n');
    Launch launch(firstWord + " -d out", installation.dir, tempDir("elsewhere"),
                  installation.launcher);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 1u);
    EXPECT_EQ(launch.output(), startFailure("process monitor", ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(launch.errors(), "");
    EXPECT_TRUE(launch.allEndWithin(kRunLimitMs)) << "the VM was not ended";
    EXPECT_EQ(launch.processesStarted(), 2u) << "the launcher and the VM, no monitor";
}

TEST_F(LimitsWin32, PathOf10000EntriesWithTheLauncherLast) {
    const Installation installation = installLauncher("long-path", kPlainConfig);
    std::string path;
    for (int entry = 0; entry < 9999; ++entry) {
        path += "q;";
    }
    path += withoutTrailingBackslash(installation.dir);
    ASSERT_LT(path.size(), 32767u) << "longer than an environment variable may be";
    environment_.set("PATH", path);
    steerVm(installation, {});
    Launch launch("se_javac -d out", installation.dir, tempDir("elsewhere"), installation.launcher);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    EXPECT_EQ(launch.output(), "");
    EXPECT_EQ(launch.errors(), "");
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, expectedVmArgv(installation, {}, {"-d", "out"}));
    EXPECT_EQ(launch.processesStarted(), 3u) << "launcher, VM and monitor";
}

// ---------------------------------------------------------------------------------------
// The VM's command line at CreateProcessA's limit

// The tool arguments that, quoted, take `room` characters on the VM's command line.
std::vector<std::string> argumentsTaking(std::size_t room) {
    constexpr std::size_t kPiece = 1000;
    std::vector<std::string> arguments;
    while (room >= 2 * (kPiece + 3)) {
        arguments.emplace_back(kPiece, 'x');
        room -= kPiece + 3; // a space and two quotes
    }
    arguments.emplace_back(room - 3, 'x');
    return arguments;
}

// Arguments that make the VM's command line `length` characters long, while the launcher's
// own stays shorter and can be started.
std::vector<std::string> argumentsForVmCommandLine(const Installation& installation,
                                                   std::size_t length) {
    const std::vector<std::string> arguments =
        argumentsTaking(length - vmCommandLine(installation, "", {}).size());
    EXPECT_EQ(vmCommandLine(installation, "", arguments).size(), length);
    EXPECT_LE(commandLine(installation.launcher, arguments).size(), kLongestCommandLine);
    return arguments;
}

TEST_F(LimitsWin32, VmCommandLineOfTheLongestLengthReachesTheVmWhole) {
    const Installation installation = installLauncher("longest", kPlainConfig);
    const std::vector<std::string> arguments =
        argumentsForVmCommandLine(installation, kLongestCommandLine);
    steerVm(installation, {});
    Launch launch(commandLine(installation.launcher, arguments), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->commandLine, vmCommandLine(installation, "", arguments));
}

// One character more: Windows would refuse it, and Wine too, with another error. The
// launcher reports Windows' error and starts nothing.
TEST_F(LimitsWin32, VmCommandLineOneCharacterTooLongIsRefused) {
    const Installation installation = installLauncher("too-long", kPlainConfig);
    const std::vector<std::string> arguments =
        argumentsForVmCommandLine(installation, kLongestCommandLine + 1);
    steerVm(installation, {});
    Launch launch(commandLine(installation.launcher, arguments), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 1u);
    EXPECT_EQ(launch.output(), startFailure("java virtual machine", ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(launch.errors(), "");
    EXPECT_EQ(launch.processesStarted(), 1u) << "something was started";
}

// Far longer, through a class path of 50 MB: every length over the limit meets the same
// check. Wine would take this one modulo 65,536 and start the VM with the front 100
// characters of its command line.
TEST_F(LimitsWin32, VmCommandLineOf50MegabytesIsRefusedAsTooLong) {
    const Installation installation = installLauncher("long-class-path", kPlainConfig);
    constexpr std::size_t kLength = testing_support::kFiftyMegabytes + 100;
    const std::string classPath(kLength - vmCommandLine(installation, "", {"-d", "out"}).size() - 1,
                                'c');
    ASSERT_EQ(vmCommandLine(installation, classPath, {"-d", "out"}).size(), kLength);
    testing_support::writeFile(installation.dir + "morle_tool.cfg",
                               "JDK_HOME=" + installation.jdk + "\nCLASSPATH=" + classPath + "\n");
    steerVm(installation, {});
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 1u);
    EXPECT_EQ(launch.output(), startFailure("java virtual machine", ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(launch.errors(), "");
    EXPECT_EQ(launch.processesStarted(), 1u) << "something was started";
}

} // namespace

// End-to-end tests of the launcher at the limits on Linux: a very long name, a very long
// PATH, very large configurations, and VM arguments at and beyond what the kernel passes on.
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "launcher_run_posix.h"
#include "test_support.h"

namespace {

using namespace launcher_run;
using testing_support::kFiftyMegabytes;
using testing_support::kMillion;

// The longest single argument or environment string exec passes on, its NUL included
// (MAX_ARG_STRLEN: 32 pages).
std::size_t longestExecString() {
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) * 32;
}

std::string withoutTrailingSlash(const std::string& dir) {
    return dir.substr(0, dir.size() - 1);
}

std::string vmStartFailure(int error) {
    return "\nCannot execute java virtual machine : " + std::string(std::strerror(error)) + "\n";
}

// ---- The launcher's name and PATH ----

struct LongNameCase {
    std::string title;
    std::string name;
};
void PrintTo(const LongNameCase& row, std::ostream* out) {
    *out << row.title;
}

// A name of `length` characters made of `piece` over and over, ending in "se_javac".
std::string longName(const std::string& piece, std::size_t length) {
    std::string name;
    while (name.size() + 8 < length) {
        name += piece;
    }
    name.resize(length - 8);
    return name + "se_javac";
}

class LongLauncherName : public ::testing::TestWithParam<LongNameCase> {};

// The name names no file, so the launcher finds its directory as the last one on PATH; the
// monitor, a fork of the launcher, has the whole name as its argv[0] too.
TEST_P(LongLauncherName, RunsNormallyAndTheMonitorGetsTheWholeName) {
    const std::string& name = GetParam().name;
    ASSERT_EQ(name.size(), 10000u);
    Installation installation;
    Launch launch{{"x"}};
    launch.holdVm = true;
    launch.argv0 = name;
    launch.cwd = installation.makeSubdir("elsewhere");
    launch.path = "/usr/bin:/bin:" + withoutTrailingSlash(installation.dir());
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(monitor);
    const std::vector<std::string> monitorWords = commandLineOf(monitor->pid);
    run.releaseVm();

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.out(), "");
    EXPECT_EQ(run.err(), "");
    EXPECT_EQ(run.vmArgv(), expectedVmArgv(installation, {}, {"x"}));
    ASSERT_FALSE(monitorWords.empty());
    EXPECT_EQ(monitorWords[0], name)
        << "the monitor's argv[0] has " << monitorWords[0].size() << " characters";
}

INSTANTIATE_TEST_SUITE_P(TenThousandCharacters, LongLauncherName,
                         ::testing::Values(LongNameCase{"Letters", longName("n", 10000)},
                                           LongNameCase{"WithSpaces",
                                                        longName("a long name ", 10000)}),
                         testing_support::TitleName());

// Every tenth entry is the current directory, which the test made and which holds no
// launcher; the others name nothing.
TEST(LimitsPosix, PathOf10000EntriesWithTheLauncherLast) {
    Installation installation;
    std::string path;
    for (int entry = 0; entry < 9999; ++entry) {
        path += entry % 10 == 0 ? ".:" : "/no/" + std::to_string(entry) + ":";
    }
    path += withoutTrailingSlash(installation.dir());
    ASSERT_LT(path.size() + 6, longestExecString()) << "PATH itself would not pass exec";
    Launch launch{{"x"}};
    launch.program = "se_javac";
    launch.cwd = installation.makeSubdir("elsewhere");
    launch.path = path;
    LauncherRun run(installation, launch);

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.out(), "");
    EXPECT_EQ(run.err(), "");
    EXPECT_EQ(run.vmArgv(), expectedVmArgv(installation, {}, {"x"}));
}

// ---- Large configurations ----

// Every line is read, so the last VERSION and BUILD lines are the ones that count.
TEST(LimitsPosix, ConfigurationOfAMillionLinesIsReadToTheEnd) {
    Installation installation;
    const testing_support::ManyLineConfig config =
        testing_support::manyLineConfig("JDK_HOME=" + installation.jdk(), kMillion, "VERSION=last");
    testing_support::writeFile(installation.path("morle_tool.cfg"), config.content);
    LauncherRun run(installation, Launch{{"x"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.err(), "");
    EXPECT_EQ(run.vmArgv(), (std::vector<std::string>{installation.java(), "-Dtovik_version=last",
                                                      "-Dtovik_build=" + config.build, "-classpath",
                                                      installation.jdk() + "/lib/tools.jar",
                                                      kEntryClass, "se_javac", "x"}));
}

TEST(LimitsPosix, ErrorOnTheMillionthLineNamesItsNumber) {
    Installation installation;
    testing_support::writeFile(
        installation.path("morle_tool.cfg"),
        testing_support::manyLineConfig("JDK_HOME=" + installation.jdk(), kMillion, "JDK_HOME")
            .content);
    LauncherRun run(installation, Launch{{"x"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(1));
    EXPECT_EQ(run.err(), "config file: illegal format of assignment at line: 1000000");
    EXPECT_EQ(run.out(), "");
    EXPECT_FALSE(run.vmRan());
}

// The only assignment stands in the middle of the line, between 25 MB of spaces on either
// side: a line cut short anywhere loses it.
TEST(LimitsPosix, LineOf50MegabytesIsReadWhole) {
    const std::string spaces(kFiftyMegabytes / 2, ' ');
    Installation installation;
    testing_support::writeFile(installation.path("morle_tool.cfg"),
                               "JDK_HOME=" + installation.jdk() + "\n" + spaces + "VERSION=after" +
                                   spaces + "\n");
    LauncherRun run(installation, Launch{{"x"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.vmArgv(),
              (std::vector<std::string>{installation.java(), "-Dtovik_version=after", "-classpath",
                                        installation.jdk() + "/lib/tools.jar", kEntryClass,
                                        "se_javac", "x"}));
}

// A line that does not fit in the launcher's memory, here 32 MB of address space, is reported
// with its number; with the same limit an ordinary configuration runs.
TEST(LimitsPosix, LineTooLongForMemoryIsReportedWithItsNumber) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer needs far more address space than the limit leaves";
#endif
    constexpr std::size_t kLimit = std::size_t{32} * 1024 * 1024;
    Installation installation;
    Launch launch{{"x"}};
    launch.addressSpaceLimit = kLimit;
    {
        LauncherRun run(installation, launch);
        ASSERT_EQ(run.finish(), Outcome::exitCode(0)) << "the limit alone breaks the launcher";
    }
    testing_support::writeFile(installation.path("morle_tool.cfg"),
                               "JDK_HOME=" + installation.jdk() + "\n# comment\nVERSION=" +
                                   std::string(kLimit + kLimit / 2, 'v') + "\nBUILD=1\n");
    LauncherRun run(installation, launch);

    EXPECT_EQ(run.finish(), Outcome::exitCode(1));
    EXPECT_EQ(run.err(), "config file: line too long at line: 3");
    EXPECT_EQ(run.out(), "");
    EXPECT_FALSE(run.vmRan());
}

// The class path becomes one VM argument, far longer than exec passes on. (Any length from
// the kernel's limit on gives the same error; ClassPathArgument below takes one just below.)
TEST(LimitsPosix, ClassPathOf50MegabytesIsReportedAsTooLongForTheVm) {
    Installation installation;
    testing_support::writeFile(installation.path("morle_tool.cfg"),
                               "JDK_HOME=" + installation.jdk() +
                                   "\nCLASSPATH=" + std::string(kFiftyMegabytes, 'c') + "\n");
    LauncherRun run(installation, Launch{{"x"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(1));
    EXPECT_EQ(run.out(), vmStartFailure(E2BIG));
    EXPECT_EQ(run.err(), "");
    EXPECT_FALSE(run.vmRan());
    EXPECT_TRUE(processesRunningFrom(installation.dir()).empty()) << "a monitor is left";
}

// ---- One VM argument at the kernel's limit ----

// The class path makes the VM's "-classpath" argument one character shorter than exec takes.
TEST(LimitsPosix, ClassPathArgumentJustBelowTheLimitReachesTheVmWhole) {
    Installation installation;
    const std::string tail = ":" + installation.jdk() + "/lib/tools.jar";
    const std::string classPath(longestExecString() - 1 - tail.size(), 'c');
    installation.writeConfig({"JDK_HOME=" + installation.jdk(), "CLASSPATH=" + classPath});
    LauncherRun run(installation, Launch{{"x"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.vmArgv(),
              (std::vector<std::string>{installation.java(), "-classpath", classPath + tail,
                                        kEntryClass, "se_javac", "x"}));
}

} // namespace

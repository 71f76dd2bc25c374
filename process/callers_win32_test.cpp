// End-to-end tests of se_javac.exe in two settings of Windows users, each compared with the
// stand-in VM started directly in the same way: an ANSI code page of double-byte characters
// (932, Japanese), and a caller without a console.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/lead_bytes.h"
#include "common/wildcards.h"
#include "launcher_run_win32.h"
#include "start_for_test_win32.h"
#include "test_support.h"

namespace {

using namespace launcher_run;
using testing_support::readFile;

// The tests' paths are ASCII.
std::wstring wide(const std::string& path) {
    return {path.begin(), path.end()};
}

struct Finished {
    DWORD exitCode = 0;
    std::string output;
    std::string errors;
};

// Starts a program from exactly this command line, as a program of the user's does with
// CreateProcessW: with `flags`, input from NUL, output and errors into files in `dir`.
Finished runExactly(const std::wstring& commandLine, DWORD flags, const std::string& dir) {
    const RedirectedStreams streams(dir + "out.txt", dir + "err.txt");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    streams.fill(startup);
    PROCESS_INFORMATION info{};
    if (!test_start::startForTest("the test's command line", std::cout, [&] {
            std::wstring line = commandLine;
            return CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                  nullptr, &startup, &info) != FALSE;
        })) {
        throw std::runtime_error(lastErrorText("CreateProcessW"));
    }
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    const std::optional<DWORD> code = waitForExit(process.get(), kRunLimitMs);
    if (!code) {
        TerminateProcess(process.get(), 1);
        throw std::runtime_error("the program did not end");
    }
    return Finished{*code, readFile(dir + "out.txt"), readFile(dir + "err.txt")};
}

// The words, each with its wildcard mark, that the VM's launcher reads from a command line
// after the first word whose text is `last` (empty: after the program name).
std::vector<std::pair<std::string, bool>> wordsAfter(const std::string& commandLine,
                                                     const std::string& last) {
    const std::vector<CommandLineWord> words = splitWithWildcards(commandLine, ansiLeadBytes());
    auto word = std::find_if(words.begin(), words.end(), [&](const CommandLineWord& each) {
        return last.empty() || each.text == last;
    });
    std::vector<std::pair<std::string, bool>> after;
    if (word != words.end()) {
        for (++word; word != words.end(); ++word) {
            after.emplace_back(word->text, word->wildcard);
        }
    }
    return after;
}

// ---------------------------------------------------------------------------------------
// Code page 932, where ソ, 表 and 能 end in the byte of '\' (0x83 0x5C, 0x95 0x5C, 0x94 0x5C).
// Run with LC_ALL=ja_JP.UTF-8 only (tests/CMakeLists.txt), which makes it Wine's ANSI code page.

struct JapaneseCase {
    std::string title;
    std::string classPath; // CLASSPATH in code page 932 ("<dir>" expanded); empty: none
    std::wstring arguments;
};

void PrintTo(const JapaneseCase& c, std::ostream* out) {
    *out << c.title;
}

class JapaneseCodePageTest : public LauncherTest,
                             public ::testing::WithParamInterface<JapaneseCase> {};

TEST_P(JapaneseCodePageTest, TheToolGetsWhatAVmStartedDirectlyGets) {
    ASSERT_EQ(GetACP(), 932u) << "no Japanese locale: localedef -i ja_JP -f UTF-8 ja_JP.UTF-8";
    const JapaneseCase& c = GetParam();
    // No JDK_HOME: the VM is the java.exe beside the launcher, and the class path has nothing
    // after the configured one, whose last character stands before the closing quote.
    const Installation installation =
        installLauncher("code page", c.classPath.empty() ? "" : "CLASSPATH=" + c.classPath + "\n");
    copyFile(installation.jdk + "\\bin\\java.exe", installation.dir + "java.exe");
    steerVm(installation, {});

    runExactly(L'"' + wide(installation.dir) + L"java.exe\" " + c.arguments, 0, installation.dir);
    const std::optional<VmRecord> direct = readVmRecord(installation.recordPath());
    ASSERT_TRUE(direct.has_value()) << "the VM did not run";
    DeleteFileA(installation.recordPath().c_str());
    const Finished launched =
        runExactly(L'"' + wide(installation.launcher) + L"\" " + c.arguments, 0, installation.dir);
    EXPECT_EQ(launched.exitCode, 0u) << launched.output << launched.errors;
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";

    std::vector<std::string> expected{"java"};
    if (!c.classPath.empty()) {
        expected.insert(expected.end(), {"-classpath", installation.expand(c.classPath)});
    }
    expected.insert(expected.end(), {kEntryClass, "se_javac"});
    expected.insert(expected.end(), direct->argv.begin() + 1, direct->argv.end());
    EXPECT_EQ(record->argv, expected);
    // The VM's launcher expands the same words as when it is started directly.
    EXPECT_EQ(wordsAfter(record->commandLine, "se_javac"), wordsAfter(direct->commandLine, ""));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JapaneseCodePageTest,
    ::testing::Values(JapaneseCase{"quoted with a blank", "", L"\"a\u30BD\" \"b \u8868\" c"},
                      JapaneseCase{"before an escaped quote", "", L"\"\u8868\\\"x\""},
                      JapaneseCase{"quoted and bare", "", L"\"\u80FD\" -d out\u8868"},
                      // <dir>一覧表
                      JapaneseCase{"class path", "<dir>\x88\xEA\x97\x97\x95\x5C", L"-d out"},
                      JapaneseCase{"wildcards", "",
                                   L"*.java \"s d\\*.java\" \"s \u8868\"*.java a?.txt x\\\"* "
                                   L"d\\\\\"s d\"\\\\*.java"}),
    testing_support::TitleName());

// ---------------------------------------------------------------------------------------
// A caller without a console, as Node's spawn with `detached: true` starts a program.

TEST_F(LauncherTest, CallerWithoutConsoleGetsWhatAVmStartedDirectlyGives) {
    const Installation installation = installLauncher("detached", kPlainConfig);
    steerVm(installation, VmBehaviour{4, 0, "vm output", "vm errors"});

    const Finished direct = runExactly(L'"' + wide(installation.jdk) + L"\\bin\\java.exe\" -d out",
                                       DETACHED_PROCESS, installation.dir);
    const Finished launched = runExactly(L'"' + wide(installation.launcher) + L"\" -d out",
                                         DETACHED_PROCESS, installation.dir);
    EXPECT_EQ(direct.exitCode, 4u);
    EXPECT_EQ(direct.output, "vm output");
    EXPECT_EQ(direct.errors, "vm errors");
    EXPECT_EQ(launched.exitCode, direct.exitCode);
    EXPECT_EQ(launched.output, direct.output);
    EXPECT_EQ(launched.errors, direct.errors);
}

} // namespace

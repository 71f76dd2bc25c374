// Checks the portable splitter and the quoting against the parser of Windows itself.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include "command_line_generator.h"
#include "javacmd/arguments.h"
#include "process/split_command_line.h"

namespace {

using Arguments = std::vector<std::string>;

// Bytes map one to one onto UTF-16 units and back; the parser only looks at ASCII.
std::wstring widen(const std::string& text) {
    std::wstring wide;
    for (const char c : text) {
        wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return wide;
}

Arguments splitByWindows(const std::string& line) {
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(widen(line).c_str(), &count);
    Arguments result;
    for (int i = 0; i < count; ++i) {
        std::string narrow;
        for (const wchar_t* p = split[i]; *p != 0; ++p) {
            narrow += static_cast<char>(*p);
        }
        result.push_back(narrow);
    }
    LocalFree(split);
    return result;
}

TEST(WindowsParser, GivesBackEveryQuotedElement) {
    testing_support::CommandLineGenerator generate(77);
    for (int round = 0; round < 10000; ++round) {
        const ToolConfig config = testing_support::loadedConfig(
            generate.textWithoutQuotes(12), generate.text(12), generate.text(12), generate.text(6),
            generate.text(6), kWindowsStyle);
        const Arguments user = generate.arguments(6, 10);
        std::vector<const char*> argv{"se_javac"};
        for (const std::string& argument : user) {
            argv.push_back(argument.c_str());
        }
        const std::string line = joinCommandLine(getArguments(
            static_cast<int>(argv.size()), argv.data(), "se_javac", config, kWindowsStyle));
        const Arguments expected = testing_support::expectedSplit(config, user, kWindowsStyle);
        ASSERT_EQ(splitByWindows(line), expected) << "line: " << line;
        ASSERT_EQ(splitCommandLine(line), expected) << "line: " << line;
    }
}

TEST(WindowsParser, AgreesWithThePortableSplitterOnAnyLine) {
    testing_support::CommandLineGenerator generate(4242);
    for (int round = 0; round < 20000; ++round) {
        const std::string line = "p" + generate.text(40);
        ASSERT_EQ(splitCommandLine(line), splitByWindows(line)) << "line: [" << line << "]";
    }
}

TEST(WindowsParser, AgreesOnProgramNames) {
    testing_support::CommandLineGenerator generate(99);
    for (int round = 0; round < 20000; ++round) {
        std::string line = generate.text(30);
        if (line.empty() || line[0] == ' ' || line[0] == '\t') {
            continue; // a line that starts blank names the current program
        }
        ASSERT_EQ(splitCommandLine(line), splitByWindows(line)) << "line: [" << line << "]";
    }
}

} // namespace

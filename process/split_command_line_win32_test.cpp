// Checks the portable splitter and the quoting against the parser of Windows itself.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include "command_line_generator.h"
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

// The launcher's quoting read back by Windows itself, and by the portable splitter.
TEST(WindowsParser, GivesBackEveryGeneratedText) {
    testing_support::CommandLineGenerator generate(77);
    for (int round = 0; round < 10000; ++round) {
        const testing_support::GeneratedCommandLine generated =
            testing_support::generatedCommandLine(generate);
        ASSERT_EQ(splitByWindows(generated.line), generated.elements)
            << "line: [" << generated.line << "]";
        ASSERT_EQ(splitCommandLine(generated.line), generated.elements)
            << "line: [" << generated.line << "]";
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

#include "process/supervise.h"

#include <gtest/gtest.h>

#include "process/split_command_line.h"

namespace {

struct HandleTextCase {
    const char* text;
    std::optional<std::intptr_t> value;
};

void PrintTo(const HandleTextCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

class HandleText : public ::testing::TestWithParam<HandleTextCase> {};

TEST_P(HandleText, ReadsWholeDecimalNumbersOnly) {
    const std::optional<platform::ProcessHandle> handle = parseHandleText(GetParam().text);
    ASSERT_EQ(handle.has_value(), GetParam().value.has_value()) << GetParam().text;
    if (handle) {
        EXPECT_EQ(handle->value(), *GetParam().value) << GetParam().text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HandleText,
    ::testing::Values(HandleTextCase{"0", 0}, HandleTextCase{"1234", 1234},
                      HandleTextCase{"  \t56", 56}, HandleTextCase{"+7", 7},
                      HandleTextCase{"-1", -1}, HandleTextCase{"2147483647", 2147483647},
                      HandleTextCase{"-2147483648", -2147483648LL},
                      HandleTextCase{"2147483648", std::nullopt},
                      HandleTextCase{"-2147483649", std::nullopt},
                      HandleTextCase{"123456789012345678901234567890", std::nullopt},
                      HandleTextCase{"", std::nullopt}, HandleTextCase{"  ", std::nullopt},
                      HandleTextCase{"-", std::nullopt}, HandleTextCase{"12a", std::nullopt},
                      HandleTextCase{"0x10", std::nullopt}, HandleTextCase{"5 ", std::nullopt},
                      HandleTextCase{"abc", std::nullopt}, HandleTextCase{"--1", std::nullopt}));

TEST(MonitorCommandLine, PlainNameStaysAsWritten) {
    EXPECT_EQ(monitorCommandLine(R"(C:\tools\se_javac.exe)", platform::ProcessHandle(84),
                                 platform::ProcessHandle(-12)),
              R"(C:\tools\se_javac.exe -monitor 84 -12)");
}

// Whatever the launcher's name, the monitor sees exactly its name and three arguments.
TEST(MonitorCommandLine, AlwaysSplitsIntoNameAndThreeArguments) {
    for (const std::string& name : std::vector<std::string>{
             "se_javac", "", R"(C:\Program Files\t\se_javac.exe)", "a\tb", R"(C:\dir with space\)",
             "./se_javac", std::string(10000, 'n') + " x"}) {
        const std::vector<std::string> expected{name, "-monitor", "1", "2"};
        EXPECT_EQ(splitCommandLine(monitorCommandLine(name, platform::ProcessHandle(1),
                                                      platform::ProcessHandle(2))),
                  expected)
            << name.substr(0, 40);
    }
}

TEST(MonitorCommandLine, NameWithQuotesStillGivesThreeArguments) {
    const std::vector<std::string> split = splitCommandLine(monitorCommandLine(
        R"(/tmp/a"b c/"se_javac)", platform::ProcessHandle(1), platform::ProcessHandle(2)));
    ASSERT_EQ(split.size(), 4U);
    EXPECT_EQ(split[1], "-monitor");
}

TEST(MonitorCommandLine, HandleValuesRoundTripThroughTheirText) {
    for (const std::intptr_t value : {std::intptr_t{0}, std::intptr_t{4}, std::intptr_t{-1},
                                      std::intptr_t{0x7FFFFFFF}, std::intptr_t{-0x7FFFFFFF - 1}}) {
        const std::vector<std::string> split = splitCommandLine(monitorCommandLine(
            "x", platform::ProcessHandle(value), platform::ProcessHandle(value)));
        const std::optional<platform::ProcessHandle> parsed = parseHandleText(split.at(2));
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->value(), value);
    }
}

} // namespace

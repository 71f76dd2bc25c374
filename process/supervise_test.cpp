#include "process/supervise.h"

#include <gtest/gtest.h>

#include "process/split_command_line.h"
#include "test_support.h"

namespace {

struct HandleTextCase {
    const char* title;
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
    ::testing::Values(HandleTextCase{"zero", "0", 0}, HandleTextCase{"number", "1234", 1234},
                      HandleTextCase{"leading blanks and a tab", "  \t56", 56},
                      HandleTextCase{"plus sign", "+7", 7}, HandleTextCase{"minus one", "-1", -1},
                      HandleTextCase{"largest 32-bit number", "2147483647", 2147483647},
                      HandleTextCase{"smallest 32-bit number", "-2147483648", -2147483648LL},
                      HandleTextCase{"one over the largest", "2147483648", std::nullopt},
                      HandleTextCase{"one under the smallest", "-2147483649", std::nullopt},
                      HandleTextCase{"thirty digits", "123456789012345678901234567890",
                                     std::nullopt},
                      HandleTextCase{"empty", "", std::nullopt},
                      HandleTextCase{"only blanks", "  ", std::nullopt},
                      HandleTextCase{"only a minus", "-", std::nullopt},
                      HandleTextCase{"trailing letter", "12a", std::nullopt},
                      HandleTextCase{"hexadecimal", "0x10", std::nullopt},
                      HandleTextCase{"trailing blank", "5 ", std::nullopt},
                      HandleTextCase{"letters", "abc", std::nullopt},
                      HandleTextCase{"two minus signs", "--1", std::nullopt}),
    testing_support::TitleName());

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

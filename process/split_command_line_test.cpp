#include "process/split_command_line.h"

#include <gtest/gtest.h>

#include "command_line_generator.h"
#include "test_support.h"

namespace {

using Arguments = std::vector<std::string>;

struct SplitCase {
    std::string title;
    std::string line;
    Arguments expected;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << c.line.size() << "-byte line";
}

class SplitCommandLine : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, FollowsTheWindowsRules) {
    EXPECT_EQ(splitCommandLine(GetParam().line), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitCommandLine,
    ::testing::Values(
        SplitCase{"empty line", "", {""}}, SplitCase{"program only", "p", {"p"}},
        SplitCase{"blanks and a tab after the program", "p  \t ", {"p"}},
        SplitCase{"quoted argument", R"(p "abc" d e)", {"p", "abc", "d", "e"}},
        SplitCase{"backslashes before no quote and quotes inside a word",
                  R"(p a\\\b d"e f"g h)",
                  {"p", R"(a\\\b)", "de fg", "h"}},
        SplitCase{"odd backslashes before a quote", R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
        SplitCase{
            "even backslashes before a quote", R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
        SplitCase{"empty quoted arguments", R"(p "" "")", {"p", "", ""}},
        SplitCase{"tabs inside quotes and between", "p \"a\tb\"\tc", {"p", "a\tb", "c"}},
        SplitCase{
            "escaped quote before the end", R"(p "unterminated \")", {"p", "unterminated \""}},
        SplitCase{
            "doubled backslash before the closing quote", R"(p "C:\out\\")", {"p", R"(C:\out\)"}},
        SplitCase{"trailing backslash", R"(p trailing\)", {"p", R"(trailing\)"}},
        // The program name knows no escapes: a backslash before a quote stays.
        SplitCase{"program name knows no escapes", R"("C:\a b\x\" y)", {R"(C:\a b\x\)", "y"}},
        SplitCase{"unquoted program path", R"(C:\a\b.exe y)", {R"(C:\a\b.exe)", "y"}},
        SplitCase{"quote inside the program name", R"(p:"x y")", {R"(p:"x)", "y"}},
        SplitCase{"program name ends at its closing quote", R"("a b"c d)", {"a b", "c", "d"}},
        // Two quotes inside a quoted part give one quote and end the part.
        SplitCase{"doubled quote inside quotes", R"(p "a""b" c)", {"p", R"(a"b c)"}},
        SplitCase{"doubled quote ends the quoted part", R"(p "a""b c")", {"p", R"(a"b)", "c"}},
        SplitCase{"quoted program and options", R"("java" -Dx=a b)", {"java", "-Dx=a", "b"}},
        SplitCase{"bytes above 127", "\"p\xE9\" \xFF\"\xE9 \"", {"p\xE9", "\xFF\xE9 "}}),
    testing_support::TitleName());

// Whatever the text, the launcher's quoting gives elements that split back to exactly it: a
// quoted argument to itself, a -J value to its words.
TEST(SplitCommandLineRoundTrip, GivesBackEveryGeneratedText) {
    testing_support::CommandLineGenerator generate(20260101);
    for (int round = 0; round < 10000; ++round) {
        const testing_support::GeneratedCommandLine generated =
            testing_support::generatedCommandLine(generate);
        ASSERT_EQ(splitCommandLine(generated.line), generated.elements)
            << "line: [" << generated.line << "]";
    }
}

} // namespace

#include "process/split_command_line.h"

#include <gtest/gtest.h>

#include "command_line_generator.h"

namespace {

using Arguments = std::vector<std::string>;

struct SplitCase {
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
    ::testing::Values(SplitCase{"", {""}}, SplitCase{"p", {"p"}}, SplitCase{"p  \t ", {"p"}},
                      SplitCase{R"(p "abc" d e)", {"p", "abc", "d", "e"}},
                      SplitCase{R"(p a\\\b d"e f"g h)", {"p", R"(a\\\b)", "de fg", "h"}},
                      SplitCase{R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
                      SplitCase{R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
                      SplitCase{R"(p "" "")", {"p", "", ""}},
                      SplitCase{"p \"a\tb\"\tc", {"p", "a\tb", "c"}},
                      SplitCase{R"(p "unterminated \")", {"p", "unterminated \""}},
                      SplitCase{R"(p "C:\out\\")", {"p", R"(C:\out\)"}},
                      SplitCase{R"(p trailing\)", {"p", R"(trailing\)"}},
                      // The program name knows no escapes: a backslash before a quote stays.
                      SplitCase{R"("C:\a b\x\" y)", {R"(C:\a b\x\)", "y"}},
                      SplitCase{R"(C:\a\b.exe y)", {R"(C:\a\b.exe)", "y"}},
                      SplitCase{R"(p:"x y")", {R"(p:"x)", "y"}},
                      SplitCase{R"("a b"c d)", {"a b", "c", "d"}},
                      // Two quotes inside a quoted part give one quote and end the part.
                      SplitCase{R"(p "a""b" c)", {"p", R"(a"b c)"}},
                      SplitCase{R"(p "a""b c")", {"p", R"(a"b)", "c"}},
                      SplitCase{R"("java" -Dx=a b)", {"java", "-Dx=a", "b"}},
                      SplitCase{"\"p\xE9\" \xFF\"\xE9 \"", {"p\xE9", "\xFF\xE9 "}}));

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

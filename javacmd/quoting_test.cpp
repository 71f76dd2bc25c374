#include "javacmd/quoting.h"

#include <gtest/gtest.h>

namespace {

struct QuoteCase {
    std::string text;
    std::string quoted;
};

void PrintTo(const QuoteCase& c, std::ostream* out) {
    *out << c.text.size() << "-byte text";
}

class Quoting : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(Quoting, EscapesOnlyWhatTheParserWouldChange) {
    EXPECT_EQ(quoteArgument(GetParam().text), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Quoting,
    ::testing::Values(QuoteCase{"", R"("")"}, QuoteCase{"out", R"("out")"},
                      QuoteCase{"a b\tc", "\"a b\tc\""},
                      QuoteCase{R"(C:\dir\file)", R"("C:\dir\file")"},
                      QuoteCase{R"(\\server\share)", R"("\\server\share")"},
                      QuoteCase{R"(C:\out\)", R"("C:\out\\")"},
                      QuoteCase{R"(C:\out\\)", R"("C:\out\\\\")"}, QuoteCase{R"(a"b)", R"("a\"b")"},
                      QuoteCase{R"(a\"b)", R"("a\\\"b")"}, QuoteCase{R"(a\\"b)", R"("a\\\\\"b")"},
                      QuoteCase{R"(")", R"("\"")"}, QuoteCase{R"(\)", R"("\\")"},
                      QuoteCase{"\xE4\xF6\xFC", "\"\xE4\xF6\xFC\""}));

// A -J value stays unquoted: only double quotes, with the backslashes right before them,
// are escaped; trailing backslashes and blanks stay, and nothing is added around it.
class QuotesOnly : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuotesOnly, EscapesOnlyDoubleQuotes) {
    EXPECT_EQ(escapeQuotesOnly(GetParam().text), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, QuotesOnly,
    ::testing::Values(QuoteCase{"", ""}, QuoteCase{"-Xmx1m", "-Xmx1m"},
                      QuoteCase{"-Dx=a b\tc", "-Dx=a b\tc"},
                      QuoteCase{R"(-Dp=C:\out\)", R"(-Dp=C:\out\)"},
                      QuoteCase{R"(\\server\share\\)", R"(\\server\share\\)"},
                      QuoteCase{R"(-Dx=a"b)", R"(-Dx=a\"b)"}, QuoteCase{R"(a\"b)", R"(a\\\"b)"},
                      QuoteCase{R"(a\\"b)", R"(a\\\\\"b)"}, QuoteCase{R"(")", R"(\")"},
                      QuoteCase{R"(-Dx="a b" c\)", R"(-Dx=\"a b\" c\)"},
                      QuoteCase{R"(x\ "y)", R"(x\ \"y)"}, QuoteCase{"\xE4\"", "\xE4\\\""}));

TEST(ProgramNameQuoting, QuotesOnlyEmptyOrBlankNamesAndNeverEscapes) {
    EXPECT_EQ(quoteProgramNameIfNeeded("se_javac"), "se_javac");
    EXPECT_EQ(quoteProgramNameIfNeeded(R"(C:\tools\se_javac.exe)"), R"(C:\tools\se_javac.exe)");
    EXPECT_EQ(quoteProgramNameIfNeeded(R"(C:\Program Files\t\se_javac)"),
              R"("C:\Program Files\t\se_javac")");
    EXPECT_EQ(quoteProgramNameIfNeeded("a\tb"), "\"a\tb\"");
    EXPECT_EQ(quoteProgramNameIfNeeded(""), R"("")");
    EXPECT_EQ(quoteProgramNameIfNeeded(R"(C:\a b\)"), R"("C:\a b\")");
    EXPECT_EQ(quoteProgramNameIfNeeded(R"(/tmp/a"b c/se_javac)"), R"("/tmp/ab c/se_javac")");
}

TEST(JoinCommandLine, SeparatesWithExactlyOneSpace) {
    EXPECT_EQ(joinCommandLine({}), "");
    EXPECT_EQ(joinCommandLine({"a"}), "a");
    EXPECT_EQ(joinCommandLine({"a", "", "b c"}), "a  b c");
    EXPECT_EQ(joinCommandLine({"", ""}), " ");
}

} // namespace

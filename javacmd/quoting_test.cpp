#include "javacmd/quoting.h"

#include <gtest/gtest.h>

#include "command_line_generator.h"
#include "test_support.h"

namespace {

struct QuoteCase {
    std::string title;
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
    ::testing::Values(QuoteCase{"empty", "", R"("")"}, QuoteCase{"plain word", "out", R"("out")"},
                      QuoteCase{"blank and tab", "a b\tc", "\"a b\tc\""},
                      QuoteCase{"backslashes in a path", R"(C:\dir\file)", R"("C:\dir\file")"},
                      QuoteCase{"UNC path", R"(\\server\share)", R"("\\server\share")"},
                      QuoteCase{"trailing backslash", R"(C:\out\)", R"("C:\out\\")"},
                      QuoteCase{"two trailing backslashes", R"(C:\out\\)", R"("C:\out\\\\")"},
                      QuoteCase{"quote", R"(a"b)", R"("a\"b")"},
                      QuoteCase{"backslash before a quote", R"(a\"b)", R"("a\\\"b")"},
                      QuoteCase{"two backslashes before a quote", R"(a\\"b)", R"("a\\\\\"b")"},
                      QuoteCase{"only a quote", R"(")", R"("\"")"},
                      QuoteCase{"only a backslash", R"(\)", R"("\\")"},
                      QuoteCase{"bytes above 127", "\xE4\xF6\xFC", "\"\xE4\xF6\xFC\""}),
    testing_support::TitleName());

// A -J value stays unquoted: only double quotes, with the backslashes right before them,
// are escaped; trailing backslashes and blanks stay, and nothing is added around it.
class QuotesOnly : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuotesOnly, EscapesOnlyDoubleQuotes) {
    EXPECT_EQ(escapeQuotesOnly(GetParam().text), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, QuotesOnly,
    ::testing::Values(
        QuoteCase{"empty", "", ""}, QuoteCase{"plain option", "-Xmx1m", "-Xmx1m"},
        QuoteCase{"blanks and a tab", "-Dx=a b\tc", "-Dx=a b\tc"},
        QuoteCase{"trailing backslash", R"(-Dp=C:\out\)", R"(-Dp=C:\out\)"},
        QuoteCase{"backslashes before no quote", R"(\\server\share\\)", R"(\\server\share\\)"},
        QuoteCase{"quote", R"(-Dx=a"b)", R"(-Dx=a\"b)"},
        QuoteCase{"backslash before a quote", R"(a\"b)", R"(a\\\"b)"},
        QuoteCase{"two backslashes before a quote", R"(a\\"b)", R"(a\\\\\"b)"},
        QuoteCase{"only a quote", R"(")", R"(\")"},
        QuoteCase{"quoted value and a trailing backslash", R"(-Dx="a b" c\)", R"(-Dx=\"a b\" c\)"},
        QuoteCase{"backslash before a blank", R"(x\ "y)", R"(x\ \"y)"},
        QuoteCase{"byte above 127 before a quote", "\xE4\"", "\xE4\\\""}),
    testing_support::TitleName());

// Code page 932, where ソ (0x83 0x5C), 表 (0x95 0x5C) and 能 (0x94 0x5C) end in the byte of
// '\', which is no backslash there: nothing about them is escaped. In a single-byte code page
// the same bytes are two characters each, the second a backslash, and are quoted as such.
struct CodePageCase {
    std::string title;
    std::string text;
    std::string quoted932;
    std::string quotedSingleByte;
};

void PrintTo(const CodePageCase& c, std::ostream* out) {
    *out << c.text.size() << "-byte text";
}

class DoubleByteQuoting : public ::testing::TestWithParam<CodePageCase> {};

// Read back as the C runtime reads it in each code page, a quoted argument and a -J value
// (here without blanks: one word) give the text again.
TEST_P(DoubleByteQuoting, EscapesByCharactersOfTheCodePageAndReadsBack) {
    const std::string& text = GetParam().text;
    EXPECT_EQ(quoteArgument(text, testing_support::codePage932()), GetParam().quoted932);
    EXPECT_EQ(quoteArgument(text), GetParam().quotedSingleByte);
    const std::vector<std::string> expected{"p", text, text};
    for (const LeadBytes& leadBytes : {testing_support::codePage932(), LeadBytes()}) {
        const std::string line =
            "p " + quoteArgument(text, leadBytes) + ' ' + escapeQuotesOnly(text, leadBytes);
        EXPECT_EQ(testing_support::splitAsRuntime(line, leadBytes), expected) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DoubleByteQuoting,
    ::testing::Values(CodePageCase{"ends in a trail byte 0x5C", "a\x83\x5C", "\"a\x83\x5C\"",
                                   "\"a\x83\x5C\x5C\""},
                      CodePageCase{"trail byte 0x5C before a quote", "\x95\x5C\"x",
                                   "\"\x95\x5C\\\"x\"", "\"\x95\\\\\\\"x\""},
                      CodePageCase{"trail byte 0x5C before a backslash", "\x94\x5C\\",
                                   "\"\x94\x5C\\\\\"", "\"\x94\\\\\\\\\""}),
    testing_support::TitleName());

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

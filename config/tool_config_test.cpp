#include "config/tool_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "config/line_reader.h"

#include "command_line_generator.h"
#include "test_support.h"

namespace {

using testing_support::FatalErrorCalled;
using testing_support::FatalErrorTrap;

struct Fields {
    std::string jdkHome, javaExecutable, classPath, vornexPath, version, build;
    bool operator==(const Fields& o) const {
        return jdkHome == o.jdkHome && javaExecutable == o.javaExecutable &&
               classPath == o.classPath && vornexPath == o.vornexPath && version == o.version &&
               build == o.build;
    }
};

std::ostream& operator<<(std::ostream& out, const Fields& f) {
    return out << "{jdkHome=" << f.jdkHome << " java=" << f.javaExecutable
               << " classPath=" << f.classPath << " vornex=" << f.vornexPath
               << " version=" << f.version << " build=" << f.build << "}";
}

Fields fieldsOf(const ToolConfig& config) {
    return {config.jdkHome(),    config.javaExecutable(), config.classPath(),
            config.vornexPath(), config.version(),        config.build()};
}

// Writes the text as the configuration file of a fresh tool directory.
// The file name follows the style's separator, as load() builds it; on the other platform
// that separator is either a plain file-name character or accepted as a separator too.
std::string toolDirWith(const std::string& content, const PathStyle& style = kHostStyle) {
    const std::string dir = testing_support::makeTempDir("cfg");
    testing_support::writeFile(dir + style.dirSeparator + ToolConfig::kFileName, content);
    return dir;
}

struct ValidCase {
    const char* title;
    std::string content;
    Fields expected;
};

void PrintTo(const ValidCase& c, std::ostream* out) {
    *out << c.title;
}

class ValidConfiguration : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ValidConfiguration, FillsTheFields) {
    const ValidCase& c = GetParam();
    ToolConfig config(kWindowsStyle);
    FatalErrorTrap trap;
    config.load(toolDirWith(c.content, kWindowsStyle));
    EXPECT_EQ(fieldsOf(config), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ValidConfiguration,
    ::testing::Values(
        ValidCase{
            "full example",
            "# installation settings\nJDK_HOME = C:\\jdk1.3\nCLASSPATH=C:\\tools\\lib\\tool.jar\n"
            "VORNEX_PATH=C:\\tools\\vornex\nVERSION=1.0\nBUILD=27\n",
            {"C:\\jdk1.3", "C:\\jdk1.3\\bin\\java", "C:\\tools\\lib\\tool.jar", "C:\\tools\\vornex",
             "1.0", "27"}},
        ValidCase{"empty file", "", {"", "java", "", "", "", ""}},
        ValidCase{"comments and blanks only",
                  "# a\n\n   \n   #note\n#A=B\n",
                  {"", "java", "", "", "", ""}},
        ValidCase{"spaces around name and value",
                  "  JDK_HOME = C:\\jdk  \n",
                  {"C:\\jdk", "C:\\jdk\\bin\\java", "", "", "", ""}},
        ValidCase{"empty JDK_HOME still derives", "JDK_HOME=", {"", "\\bin\\java", "", "", "", ""}},
        ValidCase{"later = belong to the value", "VERSION=1=2", {"", "java", "", "", "1=2", ""}},
        ValidCase{"last line wins, both JDK fields",
                  "JDK_HOME=C:\\a\nJDK_HOME=C:\\b\n",
                  {"C:\\b", "C:\\b\\bin\\java", "", "", "", ""}},
        ValidCase{"quotes and trailing backslash kept",
                  "JDK_HOME=\"C:\\Program Files\\jdk\\\"",
                  {"\"C:\\Program Files\\jdk\\\"", "\"C:\\Program Files\\jdk\\\"\\bin\\java", "",
                   "", "", ""}},
        ValidCase{
            "CR LF reads as LF", "VERSION=1.0\r\nBUILD=7\r\n", {"", "java", "", "", "1.0", "7"}},
        ValidCase{"only one CR is dropped", "VERSION=1.0\r\r\n", {"", "java", "", "", "1.0\r", ""}},
        ValidCase{"tab is not trimmed from value", "BUILD=7\t", {"", "java", "", "", "", "7\t"}},
        ValidCase{"last line without LF", "BUILD=9", {"", "java", "", "", "", "9"}},
        ValidCase{"0x1A bytes are plain bytes",
                  "BUILD=a\x1a"
                  "c",
                  {"", "java", "", "", "",
                   "a\x1a"
                   "c"}},
        ValidCase{"byte-order mark after the start is a plain byte sequence",
                  "#x\nVERSION=\xEF\xBB\xBF",
                  {"", "java", "", "", "\xEF\xBB\xBF", ""}},
        ValidCase{"UTF-8 byte-order mark at the start is skipped",
                  "\xEF\xBB\xBFJDK_HOME=C:\\jdk\r\nBUILD=3\r\n",
                  {"C:\\jdk", "C:\\jdk\\bin\\java", "", "", "", "3"}},
        ValidCase{"byte-order mark before spaces: the bytes after it read as before",
                  "\xEF\xBB\xBF  VERSION = 1 ",
                  {"", "java", "", "", "1", ""}},
        ValidCase{"nothing but a byte-order mark", "\xEF\xBB\xBF", {"", "java", "", "", "", ""}}),
    testing_support::TitleName());

struct ErrorCase {
    const char* title;
    std::string content;
    std::string message;
    LeadBytes leadBytes = {}; // those of the code page the file is read in
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
    *out << c.title;
}

class InvalidConfiguration : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(InvalidConfiguration, EndsWithTheExactMessage) {
    const ErrorCase& c = GetParam();
    ToolConfig config(kWindowsStyle, c.leadBytes);
    FatalErrorTrap trap;
    try {
        config.load(toolDirWith(c.content, kWindowsStyle));
        FAIL() << "no error for " << c.title;
    } catch (const FatalErrorCalled& error) {
        EXPECT_EQ(error.message, c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, InvalidConfiguration,
    ::testing::Values(
        ErrorCase{"no equals sign", "JDK_HOME",
                  "config file: illegal format of assignment at line: 1"},
        ErrorCase{"empty name", "\n=x", "config file: unknown name of variable:  at line: 2"},
        ErrorCase{"only equals", "=", "config file: unknown name of variable:  at line: 1"},
        ErrorCase{"keys are case-sensitive", "jdk_home=x",
                  "config file: unknown name of variable: jdk_home at line: 1"},
        ErrorCase{"tab before name is kept", "\tBUILD=1",
                  "config file: unknown name of variable: \tBUILD at line: 1"},
        ErrorCase{"hash after start is a name", "A#=B",
                  "config file: unknown name of variable: A# at line: 1"},
        ErrorCase{"every line counts", "# c\nVERSION=1\nNAME=x\nBUILD=2",
                  "config file: unknown name of variable: NAME at line: 3"},
        ErrorCase{"first error stops", "\n\nX\nY=1",
                  "config file: illegal format of assignment at line: 3"},
        ErrorCase{"CR LF lines are numbered like LF lines", "A=1\r\n",
                  "config file: unknown name of variable: A at line: 1"},
        ErrorCase{"NUL inside a name refuses the line", std::string("A\0B=1", 5),
                  "config file: illegal format of assignment at line: 1"},
        ErrorCase{"NUL inside a value refuses the line", std::string("VERSION=1\nBUILD=a\0b", 19),
                  "config file: illegal format of assignment at line: 2"},
        ErrorCase{"NUL inside a comment refuses the line", std::string("\n# a\0b\nBUILD=1", 14),
                  "config file: illegal format of assignment at line: 2"},
        ErrorCase{"UTF-16 without a mark", std::string("B\0U\0I\0L\0D\0=\0\x31\0\n\0", 16),
                  "config file: illegal format of assignment at line: 1"},
        ErrorCase{
            "UTF-16 little-endian", std::string("\xFF\xFE#\0\n\0B\0=\0", 10),
            "config file: UTF-16 is not supported, save the file as ANSI or UTF-8 at line: 1"},
        ErrorCase{
            "UTF-16 big-endian", std::string("\xFE\xFF\0B\0=\0\x31", 8),
            "config file: UTF-16 is not supported, save the file as ANSI or UTF-8 at line: 1"},
        ErrorCase{"UTF-16 mark after the start is plain bytes", "# c\n\xFF\xFE",
                  "config file: illegal format of assignment at line: 2"},
        ErrorCase{"only one UTF-8 mark is skipped",
                  "\xEF\xBB\xBF\xEF\xBB\xBF"
                  "A=1",
                  "config file: unknown name of variable: \xEF\xBB\xBF"
                  "A at line: 1"},
        // A file saved as UTF-8 read in code page 932: \xE3\x81 is one character there, and
        // \x82, the last byte of the UTF-8 character, leads another with nothing after it.
        ErrorCase{"value ending in a lone lead byte of code page 932",
                  "VERSION=1\nBUILD=\xE3\x81\x82\nCLASSPATH=a.jar",
                  "config file: value ends in the first byte of a double-byte character: BUILD "
                  "at line: 2",
                  testing_support::codePage932()}),
    testing_support::TitleName());

TEST(ConfigurationFile, MissingFileNamesTheDoubledSeparatorPath) {
    const std::string dir = testing_support::makeTempDir("nocfg");
    ToolConfig config;
    FatalErrorTrap trap;
    try {
        config.load(dir);
        FAIL() << "a missing file was accepted";
    } catch (const FatalErrorCalled& error) {
        EXPECT_EQ(error.message,
                  "cannot find config file: " + dir + kHostStyle.dirSeparator + "morle_tool.cfg");
    }
}

TEST(ConfigurationFile, DirectoryOfTheFileNameIsRefused) {
    const std::string dir = testing_support::makeTempDir("dircfg");
    const std::string path = dir + kHostStyle.dirSeparator + "morle_tool.cfg";
    std::filesystem::create_directory(dir + "morle_tool.cfg");
    ToolConfig config;
    FatalErrorTrap trap;
    try {
        config.load(dir);
        FAIL() << "a directory was read as the configuration";
    } catch (const FatalErrorCalled& error) {
        EXPECT_EQ(error.message, "cannot find config file: " + path);
    }
}

TEST(ConfigurationFile, PosixStyleDerivesWithSlash) {
    ToolConfig config(kPosixStyle);
    config.load(toolDirWith("JDK_HOME=/usr/lib/jvm/x\n", kPosixStyle));
    EXPECT_EQ(config.javaExecutable(), "/usr/lib/jvm/x/bin/java");
}

TEST(ConfigurationFile, MillionLinesAreAllRead) {
    std::string content;
    for (int i = 0; i < 1000000; ++i) {
        content += "# comment line " + std::to_string(i) + "\n";
    }
    content += "BUILD=last\nNOPE=1";
    ToolConfig config;
    FatalErrorTrap trap;
    try {
        config.load(toolDirWith(content));
        FAIL() << "the unknown key at the end was not reached";
    } catch (const FatalErrorCalled& error) {
        EXPECT_EQ(error.message, "config file: unknown name of variable: NOPE at line: 1000002");
    }
}

TEST(ConfigurationFile, LinesLongerThanTheReadBlockStayWhole) {
    // Values that straddle block borders in every position, with CR LF split across them.
    for (std::size_t length : {65535U, 65536U, 65537U, 3U * 1024 * 1024}) {
        const std::string value(length, 'v');
        ToolConfig config;
        config.load(toolDirWith("CLASSPATH=" + value + "\r\nBUILD=" + value + "x\r\n"));
        EXPECT_EQ(config.classPath(), value) << length;
        EXPECT_EQ(config.build(), value + "x") << length;
    }
}

struct LongLineCase {
    const char* title;
    std::string content;
    std::size_t limit;
    std::vector<std::string> lines; // read before the end
    bool tooLong;
};

void PrintTo(const LongLineCase& c, std::ostream* out) {
    *out << c.title;
}

class LineLimit : public ::testing::TestWithParam<LongLineCase> {};

// A line longer than the reader may hold ends the lines, whether it is carried across blocks
// or not; the memory's own limit takes the same way out.
TEST_P(LineLimit, EndsTheLinesAtTheFirstLineOverIt) {
    const LongLineCase& c = GetParam();
    const std::string path = testing_support::makeTempDir("limit") + "lines";
    testing_support::writeFile(path, c.content);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    LineReader reader(file, c.limit);
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.next(line)) {
        lines.emplace_back(line);
    }
    std::fclose(file);
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(reader.tooLong(), c.tooLong);
    EXPECT_FALSE(reader.failed());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineLimit,
    ::testing::Values(
        LongLineCase{"lines at the limit, CR counted", "abc\ncd\r\n", 3, {"abc", "cd", ""}, false},
        LongLineCase{"line over it within a block", "ab\nabc\nx", 2, {"ab"}, true},
        LongLineCase{"last line over it", "ab\nabc", 2, {"ab"}, true},
        LongLineCase{"line across blocks at it",
                     std::string(70000, 'v') + "\n",
                     70000,
                     {std::string(70000, 'v'), ""},
                     false},
        LongLineCase{
            "line across blocks over it", std::string(70001, 'v') + "\n", 70000, {}, true}),
    testing_support::TitleName());

} // namespace

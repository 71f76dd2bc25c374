#include "javacmd/arguments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "command_line_generator.h"
#include "test_support.h"

namespace {

using testing_support::FatalErrorCalled;
using testing_support::FatalErrorTrap;

ToolConfig configFrom(const std::string& content, const PathStyle& style) {
    const std::string dir = testing_support::makeTempDir("args");
    testing_support::writeFile(dir + style.dirSeparator + ToolConfig::kFileName, content);
    ToolConfig config(style);
    config.load(dir);
    return config;
}

// With the launcher's own command line `typed` (of which the arguments are what the C runtime
// read), the wildcards marked there.
ArgumentList argumentsFor(const std::vector<std::string>& userArguments,
                          const std::string& toolName, const ToolConfig& config,
                          const PathStyle& style, const std::string& typed = "",
                          const LeadBytes& leadBytes = LeadBytes()) {
    std::vector<const char*> argv{"se_javac"};
    for (const std::string& argument : userArguments) {
        argv.push_back(argument.c_str());
    }
    const int argc = static_cast<int>(argv.size());
    return getArguments(argc, argv.data(), toolName, config, style, leadBytes,
                        WildcardMarks::of(typed, argc, argv.data(), leadBytes));
}

const std::string kFullWindowsConfig = "JDK_HOME=C:\\jdk\nCLASSPATH=C:\\t\\a.jar\n"
                                       "VORNEX_PATH=C:\\vx\nVERSION=2.0\nBUILD=15\n";

struct CommandCase {
    const char* title;
    std::string config;
    const char* tool;
    std::vector<std::string> arguments;
    std::string commandLine; // the joined list
    // Where set, the launcher's own command line, and for each argument whether the VM's
    // launcher must read it back from the joined list as typed with a wildcard.
    std::string typed = {};
    std::vector<bool> wildcards = {};
    LeadBytes leadBytes = {}; // of the code page the command lines are in
};

void PrintTo(const CommandCase& c, std::ostream* out) {
    *out << c.title;
}

class WindowsCommandLine : public ::testing::TestWithParam<CommandCase> {};

TEST_P(WindowsCommandLine, IsExact) {
    const CommandCase& c = GetParam();
    const ToolConfig config = configFrom(c.config, kWindowsStyle);
    const std::string line = joinCommandLine(
        argumentsFor(c.arguments, c.tool, config, kWindowsStyle, c.typed, c.leadBytes));
    EXPECT_EQ(line, c.commandLine);
    if (!c.typed.empty()) {
        const std::vector<CommandLineWord> words = splitWithWildcards(line, c.leadBytes);
        const auto identity = std::find_if(words.begin(), words.end(),
                                           [&](const auto& word) { return word.text == c.tool; });
        ASSERT_TRUE(identity != words.end()) << line;
        std::vector<std::string> toolArguments;
        std::vector<bool> wildcards;
        for (auto word = identity + 1; word != words.end(); ++word) {
            toolArguments.push_back(word->text);
            wildcards.push_back(word->wildcard);
        }
        EXPECT_EQ(toolArguments, c.arguments);
        EXPECT_EQ(wildcards, c.wildcards);
    }
}

const char* const kHead = R"("C:\jdk\bin\java" -Dtovik_version="2.0" -Dtovik_build="15" )"
                          R"(-Dtovik_vornex="C:\vx" -classpath "C:\t\a.jar;C:\jdk\lib\tools.jar")";

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowsCommandLine,
    ::testing::Values(
        CommandCase{
            "worked example, compiler",
            kFullWindowsConfig,
            "se_javac",
            {"-J-Xmx256m", "-d", "out", "file1"},
            std::string(kHead) +
                R"( -Xmx256m fenmoor.zandrel.se.java.toJava.Main se_javac "-d" "out" "file1")"},
        CommandCase{
            "worked example, runner",
            kFullWindowsConfig,
            "se_java",
            {"-J-Xmx256m", "-d", "out", "file1"},
            std::string(kHead) +
                R"( -Xmx256m fenmoor.zandrel.se.java.toJava.Main se_java "-d" "out" "file1")"},
        CommandCase{"typical run",
                    "JDK_HOME=C:\\jdk\nVERSION=2.0\n",
                    "se_javac",
                    {"-J-Xmx256m", "-d", "out", "file1"},
                    R"("C:\jdk\bin\java" -Dtovik_version="2.0" -classpath "C:\jdk\lib\tools.jar" )"
                    R"(-Xmx256m fenmoor.zandrel.se.java.toJava.Main se_javac "-d" "out" "file1")"},
        CommandCase{
            "runner stops VM options at first non-option",
            "",
            "se_java",
            {"-J-Xss4m", "-v", "Prog", "-J-x", "a"},
            R"("java" -Xss4m fenmoor.zandrel.se.java.toJava.Main se_java "-v" "Prog" "-J-x" "a")"},
        CommandCase{
            "runner knows no option values",
            "",
            "se_java",
            {"-J-Xmx1m", "-cp", "lib.jar", "Prog", "-J-y"},
            R"("java" -Xmx1m fenmoor.zandrel.se.java.toJava.Main se_java "-cp" "lib.jar" "Prog" "-J-y")"},
        CommandCase{"no arguments, empty configuration",
                    "",
                    "se_javac",
                    {},
                    R"("java" fenmoor.zandrel.se.java.toJava.Main se_javac)"},
        CommandCase{"-J alone: nothing for compiler",
                    "",
                    "se_javac",
                    {"-J", "x"},
                    R"("java" fenmoor.zandrel.se.java.toJava.Main se_javac "x")"},
        CommandCase{"-J alone: dropped before, kept after first non-option",
                    "",
                    "se_java",
                    {"-J", "P", "-J"},
                    R"("java" fenmoor.zandrel.se.java.toJava.Main se_java "P" "-J")"},
        CommandCase{"lower-case -j is a tool argument",
                    "",
                    "se_javac",
                    {"-j-x"},
                    R"("java" fenmoor.zandrel.se.java.toJava.Main se_javac "-j-x")"},
        CommandCase{"compiler takes -J after a file name",
                    "",
                    "se_javac",
                    {"a.java", "-J-Xss1m"},
                    R"("java" -Xss1m fenmoor.zandrel.se.java.toJava.Main se_javac "a.java")"},
        CommandCase{"empty argument ends the runner's options",
                    "",
                    "se_java",
                    {"", "-J-x"},
                    R"("java" fenmoor.zandrel.se.java.toJava.Main se_java "" "-J-x")"},
        CommandCase{"empty argument for compiler",
                    "",
                    "se_javac",
                    {"", "-J-x"},
                    R"("java" -x fenmoor.zandrel.se.java.toJava.Main se_javac "")"},
        CommandCase{
            "class path without JDK",
            "CLASSPATH=C:\\t\\a.jar",
            "se_javac",
            {},
            R"("java" -classpath "C:\t\a.jar" fenmoor.zandrel.se.java.toJava.Main se_javac)"},
        CommandCase{
            "JDK without class path",
            "JDK_HOME=C:\\jdk",
            "se_javac",
            {},
            R"("C:\jdk\bin\java" -classpath "C:\jdk\lib\tools.jar" fenmoor.zandrel.se.java.toJava.Main se_javac)"},
        CommandCase{"empty JDK_HOME",
                    "JDK_HOME=",
                    "se_javac",
                    {},
                    R"("\bin\java" fenmoor.zandrel.se.java.toJava.Main se_javac)"},
        CommandCase{
            "JDK_HOME ending in backslash",
            "JDK_HOME=C:\\jdk\\",
            "se_javac",
            {},
            R"("C:\jdk\\bin\java" -classpath "C:\jdk\\lib\tools.jar" fenmoor.zandrel.se.java.toJava.Main se_javac)"},
        CommandCase{"-J value with a space stays unquoted",
                    "",
                    "se_javac",
                    {"-J-Dx=a b"},
                    R"("java" -Dx=a b fenmoor.zandrel.se.java.toJava.Main se_javac)"},
        CommandCase{
            "-J value with a quote keeps the entry class and the tool arguments apart",
            "",
            "se_javac",
            {"-J-Dx=a\"b", "-d", "out", "Prog.java"},
            R"("java" -Dx=a\"b fenmoor.zandrel.se.java.toJava.Main se_javac "-d" "out" "Prog.java")"},
        CommandCase{
            "-J value: backslashes before a quote doubled, others kept",
            "",
            "se_javac",
            {R"(-J-Dp=C:\a\\"b\c\)", "x"},
            R"("java" -Dp=C:\a\\\\\"b\c\ fenmoor.zandrel.se.java.toJava.Main se_javac "x")"},
        CommandCase{"-J value in quotes: a space still divides it",
                    "",
                    "se_javac",
                    {"-J-Dx=\"a b\""},
                    R"("java" -Dx=\"a b\" fenmoor.zandrel.se.java.toJava.Main se_javac)"},
        CommandCase{"-J value with a quote, runner",
                    "",
                    "se_java",
                    {"-J-Dq=\"", "P", "-J\""},
                    R"("java" -Dq=\" fenmoor.zandrel.se.java.toJava.Main se_java "P" "-J\"")"},
        CommandCase{
            "trailing backslash and quotes are escaped",
            "VORNEX_PATH=C:\\tools\\vornex\\",
            "se_javac",
            {"-d", "C:\\out\\", "Foo.java", "a\"b"},
            R"("java" -Dtovik_vornex="C:\tools\vornex\\" fenmoor.zandrel.se.java.toJava.Main )"
            R"(se_javac "-d" "C:\out\\" "Foo.java" "a\"b")"},
        CommandCase{
            "configured quotes are kept and escaped",
            "CLASSPATH=\"C:\\a b\\x.jar\"",
            "se_javac",
            {},
            R"("java" -classpath "\"C:\a b\x.jar\"" fenmoor.zandrel.se.java.toJava.Main se_javac)"},
        CommandCase{"typed wildcard",
                    "",
                    "se_javac",
                    {"*.java"},
                    R"("java" fenmoor.zandrel.se.java.toJava.Main se_javac *.java)",
                    "se_javac *.java",
                    {true}},
        CommandCase{"typed wildcard between quotes stays literal",
                    "",
                    "se_javac",
                    {R"(src dir\*.java)"},
                    R"("java" fenmoor.zandrel.se.java.toJava.Main se_javac "src dir\*.java")",
                    R"(se_javac "src dir\*.java")",
                    {false}},
        CommandCase{"typed wildcard after a quoted folder",
                    "",
                    "se_javac",
                    {R"(src dir\*.java)"},
                    R"("java" fenmoor.zandrel.se.java.toJava.Main se_javac "src dir\\"*.java)",
                    R"(se_javac "src dir"\*.java)",
                    {true}},
        CommandCase{"typed question mark",
                    "",
                    "se_javac",
                    {"a?.txt"},
                    R"("java" fenmoor.zandrel.se.java.toJava.Main se_javac a?.txt)",
                    "se_javac a?.txt",
                    {true}},
        CommandCase{"typed literal quote before a wildcard",
                    "",
                    "se_javac",
                    {"x\"*"},
                    R"("java" fenmoor.zandrel.se.java.toJava.Main se_javac x\"*)",
                    R"(se_javac x\"*)",
                    {true}},
        CommandCase{
            "typed backslashes before a quoted part and before a wildcard",
            "",
            "se_javac",
            {R"(dir\sub dir\\*.java)"},
            R"("java" fenmoor.zandrel.se.java.toJava.Main se_javac "dir\sub dir\\\\"*.java)",
            R"(se_javac dir\\"sub dir"\\*.java)",
            {true}},
        // 表 (0x95 0x5C) right before the closing quote, its second byte no backslash.
        CommandCase{"typed double-byte character before a wildcard in code page 932",
                    "",
                    "se_javac",
                    {"src \x95\x5C*.java"},
                    "\"java\" fenmoor.zandrel.se.java.toJava.Main se_javac \"src \x95\x5C\"*.java",
                    "se_javac \"src \x95\x5C\"*.java",
                    {true},
                    testing_support::codePage932()},
        // The runtime reads a doubled quote in a quoted part as a quote that ends the part, the
        // VM's launcher as a closing quote and a literal one that opens the part again.
        CommandCase{"typed words read otherwise by the runtime keep no wildcard",
                    "",
                    "se_javac",
                    {"a\"b", "c *.java"},
                    R"("java" fenmoor.zandrel.se.java.toJava.Main se_javac "a\"b" "c *.java")",
                    R"(se_javac "a""b c" *.java)",
                    {false, false}}),
    testing_support::TitleName());

TEST(PosixCommandLine, UsesSlashAndColon) {
    const ToolConfig config = configFrom(
        "JDK_HOME=/jdk\nCLASSPATH=/t/a.jar\nVORNEX_PATH=/vx\nVERSION=2.0\nBUILD=15\n", kPosixStyle);
    const ArgumentList expected{"\"/jdk/bin/java\"",
                                "-Dtovik_version=\"2.0\"",
                                "-Dtovik_build=\"15\"",
                                "-Dtovik_vornex=\"/vx\"",
                                "-classpath",
                                "\"/t/a.jar:/jdk/lib/tools.jar\"",
                                "-Xmx256m",
                                "fenmoor.zandrel.se.java.toJava.Main",
                                "se_javac",
                                "\"-d\"",
                                "\"out\"",
                                "\"file1\""};
    EXPECT_EQ(argumentsFor({"-J-Xmx256m", "-d", "out", "file1"}, "se_javac", config, kPosixStyle),
              expected);
}

TEST(ToolIdentity, UnknownToolEndsWithMessage) {
    const ToolConfig config = configFrom("", kWindowsStyle);
    FatalErrorTrap trap;
    for (const std::string tool : {"se_javax", "SE_JAVAC", "", "se_java "}) {
        try {
            argumentsFor({"a"}, tool, config, kWindowsStyle);
            FAIL() << "accepted tool '" << tool << "'";
        } catch (const FatalErrorCalled& error) {
            EXPECT_EQ(error.message, "getArguments: unknown tool:" + tool);
        }
    }
}

} // namespace

#include "javacmd/arguments.h"

#include <gtest/gtest.h>

#include <vector>

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

ArgumentList argumentsFor(const std::vector<std::string>& userArguments,
                          const std::string& toolName, const ToolConfig& config,
                          const PathStyle& style) {
    std::vector<const char*> argv{"se_javac"};
    for (const std::string& argument : userArguments) {
        argv.push_back(argument.c_str());
    }
    return getArguments(static_cast<int>(argv.size()), argv.data(), toolName, config, style);
}

const std::string kFullWindowsConfig = "JDK_HOME=C:\\jdk\nCLASSPATH=C:\\t\\a.jar\n"
                                       "VORNEX_PATH=C:\\vx\nVERSION=2.0\nBUILD=15\n";

struct CommandCase {
    const char* title;
    std::string config;
    const char* tool;
    std::vector<std::string> arguments;
    std::string commandLine; // the joined list
};

void PrintTo(const CommandCase& c, std::ostream* out) {
    *out << c.title;
}

class WindowsCommandLine : public ::testing::TestWithParam<CommandCase> {};

TEST_P(WindowsCommandLine, IsExact) {
    const CommandCase& c = GetParam();
    const ToolConfig config = configFrom(c.config, kWindowsStyle);
    EXPECT_EQ(joinCommandLine(argumentsFor(c.arguments, c.tool, config, kWindowsStyle)),
              c.commandLine);
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
            R"("java" -classpath "\"C:\a b\x.jar\"" fenmoor.zandrel.se.java.toJava.Main se_javac)"}),
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

#include "config/tool_dir.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "command_line_generator.h"
#include "test_support.h"

namespace {

struct LookupCase {
    const char* title;
    const PathStyle* style;
    const char* name;
    std::optional<std::string> path;
    std::set<std::string> files; // the candidates that open
    const char* expected;
    LeadBytes leadBytes = LeadBytes(); // of the code page the name is written in
};

void PrintTo(const LookupCase& c, std::ostream* out) {
    *out << c.title;
}

// Records every probe so the order of the search can be checked too.
struct FakeFiles {
    std::set<std::string> files;
    std::vector<std::string> probed;
    FileProbe probe() {
        return [this](const std::string& candidate) {
            probed.push_back(candidate);
            return files.count(candidate) > 0;
        };
    }
};

const PathStyle* const win = &kWindowsStyle;
const PathStyle* const nix = &kPosixStyle;

class ToolDirLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(ToolDirLookup, FindsTheDirectory) {
    const LookupCase& c = GetParam();
    FakeFiles files{c.files, {}};
    EXPECT_EQ(findToolDir(c.name, c.path, files.probe(), *c.style, c.leadBytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    WindowsStyle, ToolDirLookup,
    ::testing::Values(
        LookupCase{"full path opens",
                   win,
                   "C:\\tools\\tool.exe",
                   "C:\\bin",
                   {"C:\\tools\\tool.exe"},
                   "C:\\tools\\"},
        LookupCase{"bare name through PATH",
                   win,
                   "tool",
                   "C:\\tools;C:\\bin",
                   {"C:\\tools\\tool.exe"},
                   "C:\\tools\\"},
        LookupCase{"bare name in current directory",
                   win,
                   "tool",
                   "C:\\tools",
                   {"tool.exe", "C:\\tools\\tool.exe"},
                   ".\\"},
        LookupCase{"forward slashes separate too",
                   win,
                   "C:/tools/tool.exe",
                   std::nullopt,
                   {"C:/tools/tool.exe"},
                   "C:/tools/"},
        LookupCase{"the last of either separator ends the directory",
                   win,
                   "C:\\a/b\\c/tool",
                   std::nullopt,
                   {"C:\\a/b\\c/tool.exe"},
                   "C:\\a/b\\c/"},
        LookupCase{"forward slashes in a name not found: last PATH entry",
                   win,
                   "C:/tools/tool",
                   "C:\\b",
                   {},
                   "C:\\b\\C:/tools/"},
        LookupCase{"empty PATH pieces skipped",
                   win,
                   "tool",
                   ";;C:\\a;;C:\\b;",
                   {"C:\\a\\tool.exe"},
                   "C:\\a\\"},
        LookupCase{"nothing opens: last PATH entry", win, "tool", ";;C:\\a;;C:\\b;", {}, "C:\\b\\"},
        LookupCase{"nothing opens, no PATH", win, "tool", std::nullopt, {}, ".\\"},
        LookupCase{"nothing opens, PATH of separators only", win, "tool", ";;;", {}, ".\\"},
        LookupCase{"entry ending in separator doubles it",
                   win,
                   "tool",
                   "C:\\t\\",
                   {"C:\\t\\\\tool.exe"},
                   "C:\\t\\\\"},
        LookupCase{"quoted PATH entry loses its quotes and decides",
                   win,
                   "tool",
                   "C:\\a;\"C:\\q\"",
                   {},
                   "C:\\q\\"},
        LookupCase{"quoted PATH entry is found before a later installation",
                   win,
                   "se_javac",
                   "\"C:\\Program Files\\se javac\";C:\\other",
                   {"C:\\Program Files\\se javac\\se_javac.exe", "C:\\other\\se_javac.exe"},
                   "C:\\Program Files\\se javac\\"},
        LookupCase{"quotes inside an entry are kept",
                   win,
                   "tool",
                   "C:\\\"a b\"\\x",
                   {"C:\\\"a b\"\\x\\tool.exe", "C:\\a b\\x\\tool.exe"},
                   "C:\\\"a b\"\\x\\"},
        LookupCase{"one pair only", win, "tool", "\"\"C:\\q\"\"", {}, "\"C:\\q\"\\"},
        LookupCase{"quoted empty entry is skipped", win, "tool", "C:\\a;\"\"", {}, "C:\\a\\"},
        LookupCase{"directory part appended to entries",
                   win,
                   "C:\\a\\tool",
                   "C:\\bin",
                   {"C:\\bin\\C:\\a\\tool.exe"},
                   "C:\\bin\\C:\\a\\"},
        LookupCase{"relative name opens",
                   win,
                   "..\\tools\\tool",
                   "C:\\b",
                   {"..\\tools\\tool.exe"},
                   "..\\tools\\"},
        LookupCase{
            "tool.x gets .exe", win, "tool.x", "C:\\a;C:\\b", {"C:\\a\\tool.x.exe"}, "C:\\a\\"},
        LookupCase{"tool.bat kept", win, "tool.bat", "C:\\a;C:\\b", {"C:\\a\\tool.bat"}, "C:\\a\\"},
        LookupCase{"a.b.c.d kept", win, "a.b.c.d", "C:\\a;C:\\b", {"C:\\a\\a.b.c.d"}, "C:\\a\\"},
        LookupCase{"empty name becomes .exe", win, "", "C:\\a;C:\\b", {"C:\\a\\.exe"}, "C:\\a\\"},
        LookupCase{".bat gets .exe: four characters are too short for a name and an extension",
                   win,
                   ".bat",
                   "C:\\a;C:\\b",
                   {"C:\\a\\.bat", "C:\\b\\.bat.exe"},
                   "C:\\b\\"},
        LookupCase{"a character ending in the byte of \\ is no separator (code page 932)",
                   win,
                   "C:\\a\\x\x83\x5C",
                   "C:\\b",
                   {"C:\\a\\x\x83\x5C.exe"},
                   "C:\\a\\",
                   testing_support::codePage932()},
        LookupCase{"first opening entry wins",
                   win,
                   "t",
                   "C:\\a;C:\\b",
                   {"C:\\a\\t.exe", "C:\\b\\t.exe"},
                   "C:\\a\\"}),
    testing_support::TitleName());

INSTANTIATE_TEST_SUITE_P(
    PosixStyle, ToolDirLookup,
    ::testing::Values(
        LookupCase{"bare name through PATH, no suffix",
                   nix,
                   "tool",
                   "/opt/tools:/usr/bin",
                   {"/opt/tools/tool"},
                   "/opt/tools/"},
        LookupCase{"bare name in current directory is not looked at",
                   nix,
                   "se_javac",
                   "/opt",
                   {"se_javac", "/opt/se_javac"},
                   "/opt/"},
        LookupCase{"bare name in current directory, not on PATH",
                   nix,
                   "se_javac",
                   "/opt:/usr/bin",
                   {"se_javac"},
                   "/usr/bin/"},
        LookupCase{"name with a slash is not searched on PATH",
                   nix,
                   "/opt/se/bin/se_javac",
                   "/bin",
                   {"/bin//opt/se/bin/se_javac"},
                   "/opt/se/bin/"},
        LookupCase{"relative name with a slash as written",
                   nix,
                   "bin/se_javac",
                   "/opt",
                   {"/opt/bin/se_javac"},
                   "bin/"},
        LookupCase{"backslash is no separator", nix, "a\\b\\tool", "/p", {"/p/a\\b\\tool"}, "/p/"},
        LookupCase{"empty PATH piece is the current directory",
                   nix,
                   "tool",
                   "/a::/b",
                   {"tool", "/b/tool"},
                   "./"},
        LookupCase{"empty PATH value is the current directory", nix, "tool", "", {"tool"}, "./"},
        LookupCase{"nothing opens: last PATH entry", nix, "tool", "::/a::/b", {}, "/b/"},
        LookupCase{
            "nothing opens, trailing empty piece: current directory", nix, "tool", "/a:", {}, "./"},
        LookupCase{"PATH not set, nothing opens: last default entry",
                   nix,
                   "tool",
                   std::nullopt,
                   {"tool"},
                   "/usr/bin/"},
        LookupCase{"quotes in PATH entries are plain characters",
                   nix,
                   "tool",
                   "\"/q\"",
                   {"/q/tool"},
                   "\"/q\"/"},
        LookupCase{"no .exe rule", nix, "tool", "/a:/b", {"/a/tool.exe"}, "/b/"}),
    testing_support::TitleName());

TEST(ToolDirLookupOrder, TriesNameThenEachEntryOnceInOrder) {
    FakeFiles files;
    findToolDir("tool", std::string(";C:\\a;;C:\\b;"), files.probe(), kWindowsStyle);
    const std::vector<std::string> expected{"tool.exe", "C:\\a\\tool.exe", "C:\\b\\tool.exe"};
    EXPECT_EQ(files.probed, expected);
}

TEST(ToolDirLookupOrder, StopsAtTheFirstCandidateThatOpens) {
    FakeFiles files{{"/a/tool"}, {}};
    findToolDir("tool", std::string("/a:/b"), files.probe(), kPosixStyle);
    const std::vector<std::string> expected{"/a/tool"};
    EXPECT_EQ(files.probed, expected);
}

TEST(ToolDirLookupOrder, ExecProbesNothingForANameWithASlash) {
    FakeFiles files;
    EXPECT_EQ(findToolDir("./se_javac", std::string("/a:/b"), files.probe(), kPosixStyle), "./");
    EXPECT_TRUE(files.probed.empty());
}

TEST(ToolDirLookupOrder, ExecTriesEmptyPiecesAsTheBareName) {
    FakeFiles files;
    findToolDir("tool", std::string(":/a::"), files.probe(), kPosixStyle);
    const std::vector<std::string> expected{"tool", "/a/tool", "tool", "tool"};
    EXPECT_EQ(files.probed, expected);
}

TEST(ToolDirLookupOrder, LongPathIsSearchedCompletely) {
    std::string path;
    for (int i = 0; i < 10000; ++i) {
        path += (i > 0 ? ";" : "") + std::string("C:\\d") + std::to_string(i);
    }
    FakeFiles files{{"C:\\d9999\\t.exe"}, {}};
    EXPECT_EQ(findToolDir("t", path, files.probe(), kWindowsStyle), "C:\\d9999\\");
    EXPECT_EQ(files.probed.size(), 10001U);
}

// ---- Which directory's configuration is read ----

// A file system of launchers, links and configurations for findToolDir.
struct ConfigDirCase {
    const char* title;
    const PathStyle* style;
    const char* name;
    std::optional<std::string> path;
    std::set<std::string> launchers;          // the candidates the system would start
    std::map<std::string, std::string> links; // path -> the file it finally leads to
    std::set<std::string> configs;            // the directories that hold a configuration
    const char* expected;
    std::string ownFile = "";                    // this executable's file, resolved
    std::optional<std::string> home = "/home/u"; // HOME
};

void PrintTo(const ConfigDirCase& c, std::ostream* out) {
    *out << c.title;
}

class ConfigDirLookup : public ::testing::TestWithParam<ConfigDirCase> {};

TEST_P(ConfigDirLookup, ReadsTheLinksOrTheTargetsConfiguration) {
    const ConfigDirCase& c = GetParam();
    LookupSystem system;
    system.pathValue = c.path;
    system.home = c.home;
    system.isLauncher = [&](const std::string& p) { return c.launchers.count(p) > 0; };
    system.hasConfig = [&](const std::string& dir) { return c.configs.count(dir) > 0; };
    system.finalPath = [&](const std::string& p) {
        const auto link = c.links.find(p);
        return link == c.links.end() ? std::string() : link->second;
    };
    system.ownFile = [&] { return c.ownFile; };
    EXPECT_EQ(findToolDir(c.name, system, *c.style), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Links, ConfigDirLookup,
    ::testing::Values(
        ConfigDirCase{"link on PATH leads to the installation",
                      nix,
                      "se_javac",
                      "/home/u/bin:/usr/bin",
                      {"/home/u/bin/se_javac"},
                      {{"/home/u/bin/se_javac", "/opt/se/se_javac"}},
                      {"/opt/se/"},
                      "/opt/se/"},
        ConfigDirCase{"link with a configuration of its own keeps it",
                      nix,
                      "se_javac",
                      "/home/u/bin",
                      {"/home/u/bin/se_javac"},
                      {{"/home/u/bin/se_javac", "/opt/se/se_javac"}},
                      {"/home/u/bin/", "/opt/se/"},
                      "/home/u/bin/"},
        ConfigDirCase{"neither has one: the final file's directory is named",
                      nix,
                      "se_javac",
                      "/usr/bin",
                      {"/usr/bin/se_javac"},
                      {{"/usr/bin/se_javac", "/usr/lib/se/se_javac"}},
                      {},
                      "/usr/lib/se/"},
        ConfigDirCase{"final file unknown: the candidate's directory",
                      nix,
                      "se_javac",
                      "/usr/bin",
                      {"/usr/bin/se_javac"},
                      {},
                      {},
                      "/usr/bin/"},
        ConfigDirCase{"relative name with a slash through a link",
                      nix,
                      "bin/se_javac",
                      "/usr/bin",
                      {},
                      {{"bin/se_javac", "/opt/se/se_javac"}},
                      {"/opt/se/"},
                      "/opt/se/"},
        ConfigDirCase{"nothing found: the launcher's own file",
                      nix,
                      "se_javac",
                      "/a:/b",
                      {},
                      {{"/opt/se/se_javac", "/opt/se/se_javac"}},
                      {"/opt/se/"},
                      "/opt/se/",
                      "/opt/se/se_javac"},
        ConfigDirCase{"nothing found, own file without configuration: named",
                      nix,
                      "se_javac",
                      "/a:/b",
                      {},
                      {{"/opt/se/se_javac", "/opt/se/se_javac"}},
                      {"/b/"},
                      "/opt/se/",
                      "/opt/se/se_javac"},
        ConfigDirCase{"nothing found, own file unknown: last candidate",
                      nix,
                      "se_javac",
                      "/a:/b",
                      {},
                      {},
                      {},
                      "/b/"},
        ConfigDirCase{"~/bin in PATH is in HOME",
                      nix,
                      "se_javac",
                      "/usr/bin:~/bin",
                      {"/home/u/bin/se_javac"},
                      {},
                      {"/home/u/bin/"},
                      "/home/u/bin/"},
        ConfigDirCase{
            "~ alone is HOME", nix, "se_javac", "~", {"/home/u/se_javac"}, {}, {}, "/home/u/"},
        ConfigDirCase{"~ without HOME stays",
                      nix,
                      "se_javac",
                      "~/bin",
                      {},
                      {},
                      {},
                      "~/bin/",
                      "",
                      std::nullopt},
        // Where "~u" read as "~" or as "~/" would lead, a launcher waits in vain.
        ConfigDirCase{"~user and inner ~ stay",
                      nix,
                      "t",
                      "~u/bin:a~/b",
                      {"/home/u/bin/t", "/home/uu/bin/t"},
                      {},
                      {},
                      "a~/b/"},
        ConfigDirCase{"winget link leads to the package",
                      win,
                      "se_javac",
                      "C:\\Links;C:\\Windows",
                      {"C:\\Links\\se_javac.exe"},
                      {{"C:\\Links\\se_javac.exe", "C:\\Pkgs\\se\\se_javac.exe"}},
                      {"C:\\Pkgs\\se\\"},
                      "C:\\Pkgs\\se\\"},
        ConfigDirCase{"Windows reads no ~ in PATH",
                      win,
                      "se_javac",
                      "~",
                      {"~\\se_javac.exe", "/home/u\\se_javac.exe"},
                      {},
                      {"~\\"},
                      "~\\"}),
    testing_support::TitleName());

TEST(FinalPathPrefix, IsDroppedAndUncBecomesTwoBackslashes) {
    EXPECT_EQ(withoutFinalPathPrefix("\\\\?\\C:\\Pkgs\\se_javac.exe"), "C:\\Pkgs\\se_javac.exe");
    EXPECT_EQ(withoutFinalPathPrefix("\\\\?\\UNC\\srv\\share\\se.exe"), "\\\\srv\\share\\se.exe");
    EXPECT_EQ(withoutFinalPathPrefix("C:\\plain"), "C:\\plain");
}

TEST(ReadableRegularFile, FilesOpenDirectoriesAndMissingOnesDoNot) {
    const std::string dir = testing_support::makeTempDir("probe");
    testing_support::writeFile(dir + "present", "x");
    EXPECT_TRUE(isReadableRegularFile(dir + "present"));
    EXPECT_FALSE(isReadableRegularFile(dir + "missing"));
    EXPECT_FALSE(isReadableRegularFile(dir + "."));
    EXPECT_FALSE(isReadableRegularFile(dir.substr(0, dir.size() - 1)));
    EXPECT_TRUE(isRegularFile(dir + "present"));
    EXPECT_FALSE(isRegularFile(dir + "missing"));
    EXPECT_FALSE(isRegularFile(dir + "."));
}

} // namespace

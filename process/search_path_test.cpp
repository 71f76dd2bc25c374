#include "process/search_path.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct PathCase {
    const char* title;
    std::string path;
    std::string expected;
};

void PrintTo(const PathCase& row, std::ostream* out) {
    *out << row.title;
}

class RootedPathEntries : public ::testing::TestWithParam<PathCase> {};

TEST_P(RootedPathEntries, KeepOnlyWhatDoesNotDependOnTheCurrentDirectory) {
    EXPECT_EQ(rootedPathEntries(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RootedPathEntries,
    ::testing::Values(PathCase{"Absolute", R"(C:\jdk\bin;d:/tools;\\server\share\bin;\bin)",
                               R"(C:\jdk\bin;d:/tools;\\server\share\bin;\bin)"},
                      PathCase{"DriveLettersAtBothEndsOfTheAlphabet", R"(a:\x;z:\y;A:\x;Z:/y)",
                               R"(a:\x;z:\y;A:\x;Z:/y)"},
                      PathCase{"EmptyEntries", R"(;C:\a;;C:\b;)", R"(C:\a;C:\b)"},
                      PathCase{"Relative", R"(.;..;bin;.\bin;C:bin;C:;C:\x)", R"(C:\x)"},
                      PathCase{"Quoted", R"("C:\Program Files\jdk\bin";"bin";"C:\a;C:\b)",
                               R"(C:\Program Files\jdk\bin;C:\b)"},
                      PathCase{"NothingLeft", R"(.;;"")", ""}, PathCase{"Nothing", "", ""}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.title); });

TEST(SearchEntryOfFile, IsTheDirectoryAndADrivesRootKeepsItsSeparator) {
    EXPECT_EQ(searchEntryOfFile(R"(C:\Tools\se\se_javac.exe)"), R"(C:\Tools\se)");
    EXPECT_EQ(searchEntryOfFile(R"(R:\se_javac.exe)"), R"(R:\)");
    EXPECT_EQ(searchEntryOfFile(R"(\\srv\share\se_javac.exe)"), R"(\\srv\share)");
    EXPECT_EQ(rootedPathEntries(searchEntryOfFile(R"(R:\se_javac.exe)")), R"(R:\)");
    EXPECT_EQ(searchEntryOfFile(""), "");
}

} // namespace

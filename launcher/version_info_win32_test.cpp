// The version information of the built Windows launchers, read back the way the file's
// properties dialog reads it: GetFileVersionInfoA and VerQueryValueA.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct VersionInfo {
    std::vector<char> block;

    // A value of the string table the executable declares in its translation table.
    std::string text(const std::string& name) const {
        struct Translation {
            WORD language;
            WORD codePage;
        };
        Translation* translations = nullptr;
        UINT size = 0;
        void* data = const_cast<char*>(block.data());
        if (!VerQueryValueA(data, "\\VarFileInfo\\Translation",
                            reinterpret_cast<void**>(&translations), &size) ||
            size < sizeof(Translation)) {
            return "(no translation table)";
        }
        char path[64];
        wsprintfA(path, "\\StringFileInfo\\%04x%04x\\", translations->language,
                  translations->codePage);
        char* value = nullptr;
        if (!VerQueryValueA(data, (path + name).c_str(), reinterpret_cast<void**>(&value), &size) ||
            size == 0) {
            return "(no " + name + ")";
        }
        return std::string(value);
    }

    // The fixed part's version numbers as "a.b.c.d".
    std::string fixed(bool product) const {
        VS_FIXEDFILEINFO* info = nullptr;
        UINT size = 0;
        if (!VerQueryValueA(const_cast<char*>(block.data()), "\\", reinterpret_cast<void**>(&info),
                            &size) ||
            info->dwSignature != VS_FFI_SIGNATURE) {
            return "(no fixed version information)";
        }
        const DWORD high = product ? info->dwProductVersionMS : info->dwFileVersionMS;
        const DWORD low = product ? info->dwProductVersionLS : info->dwFileVersionLS;
        std::ostringstream text;
        text << HIWORD(high) << '.' << LOWORD(high) << '.' << HIWORD(low) << '.' << LOWORD(low);
        return text.str();
    }
};

VersionInfo versionInfoOf(const std::string& file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    VersionInfo info;
    if (size != 0) {
        info.block.resize(size);
        if (!GetFileVersionInfoA(file.c_str(), 0, size, info.block.data())) {
            info.block.clear();
        }
    }
    return info;
}

class LauncherVersionInfo : public ::testing::TestWithParam<std::string> {};

TEST_P(LauncherVersionInfo, NamesTheProjectVersionAndTheBuild) {
    const std::string identity = GetParam();
    const VersionInfo info = versionInfoOf(testing_support::launcherBuildPath(identity));
    ASSERT_FALSE(info.block.empty()) << "no version information in " << identity << ".exe";

    EXPECT_EQ(info.text("FileVersion"), SE_PROJECT_VERSION);
    EXPECT_EQ(info.text("ProductVersion"), SE_PROJECT_VERSION);
    EXPECT_EQ(info.fixed(false), SE_PROJECT_VERSION ".0");
    EXPECT_EQ(info.fixed(true), SE_PROJECT_VERSION ".0");
    EXPECT_EQ(info.text("FileDescription"),
              identity + " Java tool launcher (" + std::to_string(SE_WINDOWS_BITS) + "-bit)");
    EXPECT_EQ(info.text("ProductName"), "se_javac");
    EXPECT_EQ(info.text("InternalName"), identity);
    EXPECT_EQ(info.text("OriginalFilename"), identity + ".exe");
}

INSTANTIATE_TEST_SUITE_P(Launchers, LauncherVersionInfo, ::testing::Values("se_javac", "se_java"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

} // namespace

// Configuration streams that fail on Linux: a directory, and a read error in the middle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/tool_config.h"
#include "test_support.h"

namespace {

using testing_support::FatalErrorCalled;
using testing_support::FatalErrorTrap;

// What reading a directory gives where it can be opened as a stream.
TEST(ConfigurationFilePosix, DirectoryStreamIsAReadError) {
    const std::string dir = testing_support::makeTempDir("dirstream");
    std::FILE* stream = std::fopen(dir.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    ToolConfig config;
    FatalErrorTrap trap;
    try {
        config.parse(stream);
        ADD_FAILURE() << "a directory read as an empty configuration";
    } catch (const FatalErrorCalled& error) {
        EXPECT_EQ(error.message, "config file: read error at line: 1");
    }
    std::fclose(stream);
}

// A stream that gives its text and then fails, as a disk or network file system may.
struct FailingSource {
    std::string text;
    std::size_t position = 0;
};

TEST(ConfigurationFilePosix, ReadErrorAfterSomeLinesNamesTheLineBeingRead) {
    FailingSource source{"VERSION=1\n# comment\nBUILD=par"};
    cookie_io_functions_t functions{};
    functions.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
        auto& from = *static_cast<FailingSource*>(cookie);
        if (from.position == from.text.size()) {
            errno = EIO;
            return -1;
        }
        const std::size_t count = std::min(size, from.text.size() - from.position);
        std::memcpy(buffer, from.text.data() + from.position, count);
        from.position += count;
        return static_cast<ssize_t>(count);
    };
    std::FILE* stream = fopencookie(&source, "rb", functions);
    ASSERT_NE(stream, nullptr);
    ToolConfig config;
    FatalErrorTrap trap;
    try {
        config.parse(stream);
        ADD_FAILURE() << "the failed read was taken for the end of the file";
    } catch (const FatalErrorCalled& error) {
        EXPECT_EQ(error.message, "config file: read error at line: 3");
    }
    std::fclose(stream);
}

} // namespace

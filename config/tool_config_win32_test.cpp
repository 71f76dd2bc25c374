// Configuration streams that fail on Windows.
#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "config/tool_config.h"
#include "test_support.h"

namespace {

using testing_support::FatalErrorCalled;
using testing_support::FatalErrorTrap;

// A stream the runtime takes as readable, on a file the system only lets it write: every read
// fails, which must not read as an empty file.
TEST(ConfigurationFileWin32, ReadErrorIsReportedWithTheLine) {
    const std::string path = testing_support::makeTempDir("readerr") + "write-only.cfg";
    testing_support::writeFile(path, "BUILD=1\n");
    const int fd = _open(path.c_str(), _O_WRONLY | _O_BINARY);
    ASSERT_GE(fd, 0);
    std::FILE* stream = _fdopen(fd, "rb");
    ASSERT_NE(stream, nullptr);
    ToolConfig config;
    FatalErrorTrap trap;
    try {
        config.parse(stream);
        ADD_FAILURE() << "a stream that cannot be read was taken as an empty file";
    } catch (const FatalErrorCalled& error) {
        EXPECT_EQ(error.message, "config file: read error at line: 1");
    }
    std::fclose(stream);
}

} // namespace

// Configuration files that only Linux can make: FIFOs, and streams that fail in the middle.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "config/tool_config.h"
#include "test_support.h"

namespace {

using testing_support::FatalErrorCalled;
using testing_support::FatalErrorTrap;

// The message load() ends with, from a child process, so that a load that blocks fails the
// test instead of hanging it. Nothing when the child did not end within two seconds.
std::optional<std::string> loadMessageInChild(const std::string& dir) {
    int ends[2];
    if (pipe(ends) != 0) {
        return std::nullopt;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(ends[1], STDERR_FILENO);
        // Leave at once: the test program's exit handlers are the parent's business.
        setFatalErrorHandler([](const std::string& message) {
            std::fwrite(message.data(), 1, message.size(), stderr);
            std::fflush(stderr);
            _exit(1);
        });
        ToolConfig config;
        config.load(dir);
        _exit(0);
    }
    close(ends[1]);
    int status = 0;
    bool ended = false;
    for (int waited = 0; waited < 200 && !ended; ++waited) {
        ended = waitpid(child, &status, WNOHANG) == child;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        close(ends[0]);
        return std::nullopt;
    }
    std::string message;
    char buffer[256];
    for (ssize_t got = 0; (got = read(ends[0], buffer, sizeof buffer)) > 0;) {
        message.append(buffer, static_cast<std::size_t>(got));
    }
    close(ends[0]);
    return message;
}

TEST(ConfigurationFilePosix, FifoIsRefusedWithoutWaitingForAWriter) {
    const std::string dir = testing_support::makeTempDir("fifocfg");
    ASSERT_EQ(mkfifo((dir + "morle_tool.cfg").c_str(), 0644), 0) << std::strerror(errno);
    const std::optional<std::string> message = loadMessageInChild(dir);
    ASSERT_TRUE(message.has_value()) << "opening the FIFO blocked";
    EXPECT_EQ(*message, "cannot find config file: " + dir + "/morle_tool.cfg");
}

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

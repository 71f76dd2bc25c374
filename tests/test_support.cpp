#include "test_support.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "config/path_style.h"

#ifndef SE_USER_MODE_EMULATOR
#define SE_USER_MODE_EMULATOR ""
#endif

namespace testing_support {

namespace {
[[noreturn]] void throwFatalError(const std::string& message) {
    throw FatalErrorCalled{message};
}
} // namespace

// Removes the directories made by makeTempDir when the test program ends.
class TempDirs {
  public:
    TempDirs() = default;
    TempDirs(const TempDirs&) = delete;
    TempDirs& operator=(const TempDirs&) = delete;
    ~TempDirs() {
        for (const std::filesystem::path& dir : dirs_) {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    }
    void add(const std::filesystem::path& dir) { dirs_.push_back(dir); }

  private:
    std::vector<std::filesystem::path> dirs_;
};

TempDirs& tempDirs() {
    static TempDirs dirs;
    return dirs;
}

FatalErrorTrap::FatalErrorTrap() : previous_(setFatalErrorHandler(throwFatalError)) {}
FatalErrorTrap::~FatalErrorTrap() {
    setFatalErrorHandler(previous_);
}

std::string makeTempDir(const std::string& label) {
    static std::mt19937_64 random{std::random_device{}()};
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path dir =
            base / ("se_javac-" + label + "-" + std::to_string(random() % 1000000000));
        if (std::filesystem::create_directories(dir)) {
            tempDirs().add(dir);
            return dir.string() + kHostStyle.dirSeparator;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    if (in) {
        content << in.rdbuf();
    }
    return content.str();
}

std::vector<std::string> parseRecord(const std::string& text) {
    std::vector<std::string> entries;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t space = text.find(' ', position);
        if (space == std::string::npos || space == position ||
            text.find_first_not_of("0123456789", position) != space) {
            throw std::runtime_error("malformed record: " + text.substr(0, 200));
        }
        const std::size_t size = std::stoul(text.substr(position, space - position));
        if (space + 1 + size >= text.size() || text[space + 1 + size] != '\n') {
            throw std::runtime_error("malformed record: " + text.substr(0, 200));
        }
        entries.push_back(text.substr(space + 1, size));
        position = space + 2 + size;
    }
    return entries;
}

std::vector<std::string> expectedVmArgv(const std::string& jdk, const std::string& identity,
                                        const std::vector<std::string>& vmOptions,
                                        const std::vector<std::string>& toolArgs) {
    const char separator = kHostStyle.dirSeparator;
    std::vector<std::string> argv{jdk + separator + "bin" + separator + "java", "-classpath",
                                  jdk + separator + "lib" + separator + "tools.jar"};
    argv.insert(argv.end(), vmOptions.begin(), vmOptions.end());
    argv.emplace_back(kEntryClass);
    argv.push_back(identity);
    argv.insert(argv.end(), toolArgs.begin(), toolArgs.end());
    return argv;
}

std::string testName(const std::string& title) {
    std::string name;
    bool upper = true;
    for (const char c : title) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
            upper = false;
        } else {
            upper = true;
        }
    }
    return name;
}

ManyLineConfig manyLineConfig(const std::string& first, std::size_t lineCount,
                              const std::string& last) {
    ManyLineConfig config;
    config.content = first + "\n";
    for (std::size_t line = 2; line < lineCount; ++line) {
        const std::string number = std::to_string(line);
        switch (line % 4) {
        case 0:
            config.content += "# comment " + number + "\n";
            break;
        case 1:
            config.content += "\n";
            break;
        case 2:
            config.content += "VERSION=v" + number + "\n";
            break;
        default:
            config.build = "b" + number;
            config.content += "  BUILD = " + config.build + "  \r\n";
            break;
        }
    }
    config.content += last + "\n";
    return config;
}

std::string buildPath(const char* path) {
    std::string result = path;
    if (kHostStyle.dirSeparator == '\\' && !result.empty() && result.front() == '/') {
        // Wine shows the Unix root as drive Z:.
        for (char& c : result) {
            c = c == '/' ? '\\' : c;
        }
        result.insert(0, "Z:");
    }
    return result;
}

std::string launcherBuildPath(const std::string& identity) {
    return buildPath(identity == "se_java" ? SE_RUNNER_PATH : SE_LAUNCHER_PATH);
}

std::string userModeEmulator() {
    return SE_USER_MODE_EMULATOR;
}

bool underUserModeEmulation() {
    return !userModeEmulator().empty();
}

} // namespace testing_support

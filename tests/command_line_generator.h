#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "config/path_style.h"
#include "config/tool_config.h"
#include "javacmd/quoting.h"

namespace testing_support {

// Random texts made mostly of the characters that command-line parsers treat specially:
// blanks, double quotes and runs of backslashes, mixed with letters and bytes above 0x7F.
class CommandLineGenerator {
  public:
    explicit CommandLineGenerator(std::uint64_t seed) : random_(seed) {}

    std::string text(std::size_t maxLength);
    // A text without double quotes: what a program name may hold.
    std::string textWithoutQuotes(std::size_t maxLength);
    // About one in four begins with -J.
    std::vector<std::string> arguments(std::size_t maxCount, std::size_t maxLength);

  private:
    std::mt19937_64 random_;
};

// A configuration with the given values, written to a fresh directory and loaded.
ToolConfig loadedConfig(const std::string& jdkHome, const std::string& classPath,
                        const std::string& vornexPath, const std::string& version,
                        const std::string& build, const PathStyle& style);

// Elements that a split of the joined list must give back: what each configured value and
// each user argument must become after the VM's parser has removed quotes and escapes; a -J
// argument's value becomes its words between blanks, quotes and backslashes included.
std::vector<std::string> expectedSplit(const ToolConfig& config,
                                       const std::vector<std::string>& userArguments,
                                       const PathStyle& style);

} // namespace testing_support

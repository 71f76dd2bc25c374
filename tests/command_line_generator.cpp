#include "command_line_generator.h"

#include <algorithm>

#include "javacmd/arguments.h"
#include "test_support.h"

namespace testing_support {

std::string CommandLineGenerator::text(std::size_t maxLength) {
    static const std::string kAlphabet = "ab \t\"\\\\\\\"\xE9\xFF-J=;:/.";
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string result(length(random_), ' ');
    for (char& c : result) {
        c = kAlphabet[pick(random_)];
    }
    return result;
}

std::string CommandLineGenerator::textWithoutQuotes(std::size_t maxLength) {
    std::string result = text(maxLength);
    for (char& c : result) {
        c = c == '"' ? 'q' : c;
    }
    return result;
}

std::vector<std::string> CommandLineGenerator::arguments(std::size_t maxCount,
                                                         std::size_t maxLength) {
    std::uniform_int_distribution<std::size_t> count(0, maxCount);
    std::uniform_int_distribution<int> vmOption(0, 3);
    std::vector<std::string> result(count(random_));
    for (std::string& argument : result) {
        // About one in four a -J argument, which becomes an unquoted VM option.
        argument = (vmOption(random_) == 0 ? "-J" : "") + text(maxLength);
    }
    return result;
}

ToolConfig loadedConfig(const std::string& jdkHome, const std::string& classPath,
                        const std::string& vornexPath, const std::string& version,
                        const std::string& build, const PathStyle& style) {
    static const std::string dir = makeTempDir("generated");
    // Values with surrounding spaces, CR or LF cannot be written as configuration lines.
    writeFile(dir + style.dirSeparator + ToolConfig::kFileName,
              "JDK_HOME=" + jdkHome + "\nCLASSPATH=" + classPath + "\nVORNEX_PATH=" + vornexPath +
                  "\nVERSION=" + version + "\nBUILD=" + build + "\n");
    ToolConfig config(style);
    config.load(dir);
    return config;
}

std::vector<std::string> expectedSplit(const ToolConfig& config,
                                       const std::vector<std::string>& userArguments,
                                       const PathStyle& style) {
    std::vector<std::string> expected{config.javaExecutable()};
    const auto property = [&](const char* name, const std::string& value) {
        if (!value.empty()) {
            expected.push_back(std::string("-Dtovik_") + name + "=" + value);
        }
    };
    property("version", config.version());
    property("build", config.build());
    property("vornex", config.vornexPath());
    std::string classPath = config.classPath();
    if (!config.jdkHome().empty()) {
        classPath += (classPath.empty() ? "" : std::string(1, style.listSeparator)) +
                     config.jdkHome() + style.dirSeparator + "lib" + style.dirSeparator +
                     "tools.jar";
    }
    if (!classPath.empty()) {
        expected.emplace_back("-classpath");
        expected.push_back(classPath);
    }
    std::vector<std::string> toolArguments;
    for (const std::string& argument : userArguments) {
        if (argument.compare(0, 2, "-J") != 0) {
            toolArguments.push_back(argument);
            continue;
        }
        // A VM option's words: split at blanks, quotes and backslashes taken literally.
        std::size_t end = 2;
        for (std::size_t start = 2; start < argument.size(); start = end + 1) {
            end = std::min(argument.find_first_of(" \t", start), argument.size());
            if (end > start) {
                expected.push_back(argument.substr(start, end - start));
            }
        }
    }
    expected.emplace_back(kEntryClass);
    expected.emplace_back("se_javac");
    expected.insert(expected.end(), toolArguments.begin(), toolArguments.end());
    return expected;
}

} // namespace testing_support

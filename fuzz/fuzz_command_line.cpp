// The VM's command line from a fuzzed configuration and fuzzed user arguments, joined and
// split again by the Windows rules that the VM's runtime applies: every quoted element must
// come back exactly, and each -J value as its words between blanks.
//
// Input: byte 0 holds flags (bit 0: Windows path style, else POSIX; bit 1: the runner
// "se_java", else the compiler "se_javac"; bit 2: write empty values as "KEY=" lines too),
// the rest is split at NUL bytes: JDK_HOME, CLASSPATH, VORNEX_PATH, VERSION, BUILD, then one
// user argument per piece (command-line arguments hold no NUL). Values lose LF and CR, which
// a configuration line cannot hold, and JDK_HOME loses double quotes, which the VM's program
// name cannot hold; the configuration reader trims spaces at both ends.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/fatal_error.h"
#include "config/tool_config.h"
#include "fuzz/fuzz_support.h"
#include "javacmd/arguments.h"
#include "javacmd/quoting.h"
#include "process/split_command_line.h"

namespace {

using fuzz_support::fail;
using fuzz_support::trimSpaces;
using fuzz_support::visible;
using Strings = std::vector<std::string>;

constexpr const char* kKeys[] = {"JDK_HOME", "CLASSPATH", "VORNEX_PATH", "VERSION", "BUILD"};
constexpr std::size_t kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);

std::string without(std::string_view text, std::string_view dropped) {
    std::string result;
    for (const char c : text) {
        if (dropped.find(c) == std::string_view::npos) {
            result += c;
        }
    }
    return result;
}

Strings splitAtNul(std::string_view text) {
    Strings pieces(1);
    for (const char c : text) {
        if (c == '\0') {
            pieces.emplace_back();
        } else {
            pieces.back() += c;
        }
    }
    return pieces;
}

ToolConfig parsedConfig(const std::string& text, const PathStyle& style) {
    std::string buffer = text;
    std::FILE* stream = fmemopen(buffer.data(), buffer.size(), "rb");
    if (stream == nullptr) {
        fail("fmemopen failed");
    }
    ToolConfig config(style);
    try {
        config.parse(stream);
    } catch (const fuzz_support::FatalErrorCalled& error) {
        fail("the configuration " + visible(text) + " was refused: " + visible(error.message));
    }
    std::fclose(stream);
    return config;
}

// A -J value is handed to the VM unquoted, its double quotes escaped: the VM's parser splits
// it at blanks and gives back its quotes and backslashes as they are.
void splitAtBlanks(std::string_view text, Strings& words) {
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t start = text.find_first_not_of(" \t", position);
        if (start == std::string_view::npos) {
            break;
        }
        std::size_t end = text.find_first_of(" \t", start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        words.emplace_back(text.substr(start, end - start));
        position = end;
    }
}

// What the input asks for.
struct Case {
    const PathStyle* style = &kPosixStyle;
    bool isRunner = false;
    Strings values;              // what the configuration must hold for each of kKeys
    bool jdkHomeWritten = false; // a JDK_HOME line was written, even an empty one
    std::string configText;
    Strings userArguments;
};

Case caseOf(const std::uint8_t* data, std::size_t size) {
    Case c;
    const std::uint8_t flags = data[0];
    c.style = (flags & 1) != 0 ? &kWindowsStyle : &kPosixStyle;
    c.isRunner = (flags & 2) != 0;
    const bool writeEmpty = (flags & 4) != 0;

    Strings pieces =
        splitAtNul(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    if (pieces.size() > kKeyCount) {
        c.userArguments.assign(pieces.begin() + kKeyCount, pieces.end());
    }
    pieces.resize(kKeyCount);
    for (std::size_t i = 0; i < kKeyCount; ++i) {
        const std::string raw = without(pieces[i], i == 0 ? "\n\r\"" : "\n\r");
        c.values.emplace_back(trimSpaces(raw));
        const bool written = !raw.empty() || writeEmpty;
        if (written) {
            c.configText += std::string(kKeys[i]) + "=" + raw + "\n";
        }
        if (i == 0) {
            c.jdkHomeWritten = written;
        }
    }
    return c;
}

// The elements before the VM options: the VM, the properties and the class path.
Strings expectedHead(const Case& c) {
    const PathStyle& style = *c.style;
    const std::string& jdkHome = c.values[0];
    Strings expected{c.jdkHomeWritten
                         ? jdkHome + style.dirSeparator + "bin" + style.dirSeparator + "java"
                         : std::string("java")};
    const char* const properties[] = {"version", "build", "vornex"};
    const std::size_t propertyKeys[] = {3, 4, 2};
    for (std::size_t i = 0; i < 3; ++i) {
        if (!c.values[propertyKeys[i]].empty()) {
            expected.push_back(std::string("-Dtovik_") + properties[i] + "=" +
                               c.values[propertyKeys[i]]);
        }
    }
    std::string classPath = c.values[1];
    if (!jdkHome.empty()) {
        if (!classPath.empty()) {
            classPath += style.listSeparator;
        }
        classPath += jdkHome + style.dirSeparator + "lib" + style.dirSeparator + "tools.jar";
    }
    if (!classPath.empty()) {
        expected.emplace_back("-classpath");
        expected.push_back(classPath);
    }
    return expected;
}

// The user's arguments divided into VM options (-J, and for a runner only up to its first
// argument that is not an option) and tool arguments.
void divideArguments(const Case& c, Strings& vmWords, Strings& toolArguments) {
    bool inOptions = true;
    for (const std::string& argument : c.userArguments) {
        if (c.isRunner && (argument.empty() || argument[0] != '-')) {
            inOptions = false;
        }
        if ((!c.isRunner || inOptions) && argument.compare(0, 2, "-J") == 0) {
            splitAtBlanks(std::string_view(argument).substr(2), vmWords);
        } else {
            toolArguments.push_back(argument);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    setFatalErrorHandler(fuzz_support::throwFatalError);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const Case c = caseOf(data, size);
    const std::string toolName = c.isRunner ? "se_java" : "se_javac";

    const ToolConfig config = parsedConfig(c.configText, *c.style);
    const Strings read{config.jdkHome(), config.classPath(), config.vornexPath(), config.version(),
                       config.build()};
    if (read != c.values) {
        fail("configuration " + visible(c.configText) + " read as " + visible(read) +
             ", expected " + visible(c.values));
    }

    std::vector<const char*> argv{"se_javac"};
    for (const std::string& argument : c.userArguments) {
        argv.push_back(argument.c_str());
    }
    const std::string line = joinCommandLine(
        getArguments(static_cast<int>(argv.size()), argv.data(), toolName, config, *c.style));
    const Strings split = splitCommandLine(line);

    Strings expected = expectedHead(c);
    Strings vmWords;
    Strings toolArguments;
    divideArguments(c, vmWords, toolArguments);
    expected.insert(expected.end(), vmWords.begin(), vmWords.end());
    expected.emplace_back(kEntryClass);
    expected.push_back(toolName);
    expected.insert(expected.end(), toolArguments.begin(), toolArguments.end());
    if (split != expected) {
        fail("command line " + visible(line) + "\nsplit into " + visible(split) + "\nexpected " +
             visible(expected));
    }
    return 0;
}

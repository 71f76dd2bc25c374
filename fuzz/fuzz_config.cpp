// ToolConfig::parse on arbitrary bytes. Every input either fills the fields or ends in one of
// the reader's error messages, and the outcome is compared with a plain line-by-line reading
// of the whole text held in memory.
//
// Input: byte 0 chooses the path style (bit 0) and a padding mode (bits 1-2), byte 1 an
// offset, the rest is the file. The reader fetches the stream in 64 KiB blocks; the padding
// modes put a long first line in front of the file so that the block border falls `offset`
// bytes into it, either after a comment line or inside a value that the file's first line
// continues. Short inputs thereby exercise lines and CR LF pairs split across blocks.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "common/fatal_error.h"
#include "config/tool_config.h"
#include "fuzz/fuzz_support.h"

namespace {

using fuzz_support::fail;
using fuzz_support::trimSpaces;
using fuzz_support::visible;

// The block size of LineReader (config/line_reader.cpp).
constexpr std::size_t kReadBlock = std::size_t{64} * 1024;

// An error message alone, or the fields read.
struct Outcome {
    std::string error; // empty: read without error
    std::string jdkHome, javaExecutable, classPath, vornexPath, version, build;

    bool operator==(const Outcome& other) const {
        return error == other.error && jdkHome == other.jdkHome &&
               javaExecutable == other.javaExecutable && classPath == other.classPath &&
               vornexPath == other.vornexPath && version == other.version && build == other.build;
    }
};

Outcome failure(std::string message) {
    Outcome outcome;
    outcome.error = std::move(message);
    return outcome;
}

std::string describe(const Outcome& outcome) {
    if (!outcome.error.empty()) {
        return "error " + visible(outcome.error);
    }
    return "{JDK_HOME=" + visible(outcome.jdkHome) + " java=" + visible(outcome.javaExecutable) +
           " CLASSPATH=" + visible(outcome.classPath) +
           " VORNEX_PATH=" + visible(outcome.vornexPath) + " VERSION=" + visible(outcome.version) +
           " BUILD=" + visible(outcome.build) + "}";
}

constexpr std::string_view kUtf16Refused =
    "config file: UTF-16 is not supported, save the file as ANSI or UTF-8 at line: 1";

// The file's meaning, read the simple way: a UTF-16 mark refused and a UTF-8 mark dropped at
// the start, the text split at LF, a line holding a NUL refused, a CR before an LF dropped with
// it (a CR at the very end stays), spaces trimmed, '#' lines and blank lines skipped.
Outcome readInMemory(std::string_view text, const PathStyle& style) {
    const std::string_view head = text.substr(0, 3);
    if (head.substr(0, 2) == "\xFF\xFE" || head.substr(0, 2) == "\xFE\xFF") {
        return failure(std::string(kUtf16Refused));
    }
    if (head == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    Outcome outcome;
    unsigned long number = 0;
    std::size_t start = 0;
    bool more = true;
    while (more) {
        ++number;
        const std::size_t end = text.find('\n', start);
        std::string_view line;
        if (end == std::string_view::npos) {
            line = text.substr(start);
            more = false;
        } else {
            line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            start = end + 1;
        }
        if (line.find('\0') != std::string_view::npos) {
            return failure("config file: illegal format of assignment at line: " +
                           std::to_string(number));
        }
        line = trimSpaces(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return failure("config file: illegal format of assignment at line: " +
                           std::to_string(number));
        }
        const std::string_view name = trimSpaces(line.substr(0, equals));
        const std::string value(trimSpaces(line.substr(equals + 1)));
        if (name == "JDK_HOME") {
            outcome.jdkHome = value;
            outcome.javaExecutable =
                value + style.dirSeparator + "bin" + style.dirSeparator + "java";
        } else if (name == "CLASSPATH") {
            outcome.classPath = value;
        } else if (name == "VORNEX_PATH") {
            outcome.vornexPath = value;
        } else if (name == "VERSION") {
            outcome.version = value;
        } else if (name == "BUILD") {
            outcome.build = value;
        } else {
            return failure("config file: unknown name of variable: " + std::string(name) +
                           " at line: " + std::to_string(number));
        }
    }
    if (outcome.javaExecutable.empty()) {
        outcome.javaExecutable = "java";
    }
    return outcome;
}

bool isLineNumber(std::string_view text) {
    if (text.empty() || text.front() == '0') {
        return false;
    }
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The error forms that parse may end with, checked on their own.
bool isKnownError(std::string_view message) {
    static constexpr std::string_view kIllegal =
        "config file: illegal format of assignment at line: ";
    static constexpr std::string_view kUnknown = "config file: unknown name of variable: ";
    static constexpr std::string_view kAtLine = " at line: ";
    if (message == kUtf16Refused) {
        return true;
    }
    if (message.substr(0, kIllegal.size()) == kIllegal) {
        return isLineNumber(message.substr(kIllegal.size()));
    }
    if (message.substr(0, kUnknown.size()) == kUnknown) {
        const std::size_t at = message.rfind(kAtLine);
        return at != std::string_view::npos && at >= kUnknown.size() &&
               isLineNumber(message.substr(at + kAtLine.size()));
    }
    return false;
}

Outcome parseStream(const std::string& text, const PathStyle& style) {
    // fmemopen wants a writable buffer even for reading; an empty one is fine.
    std::string buffer = text;
    std::FILE* stream = fmemopen(buffer.data(), buffer.size(), "rb");
    if (stream == nullptr) {
        fail("fmemopen failed");
    }
    ToolConfig config(style);
    Outcome outcome;
    try {
        config.parse(stream);
        outcome = {"",
                   config.jdkHome(),
                   config.javaExecutable(),
                   config.classPath(),
                   config.vornexPath(),
                   config.version(),
                   config.build()};
    } catch (const fuzz_support::FatalErrorCalled& error) {
        outcome.error = error.message;
        if (outcome.error.empty()) {
            fail("fatalError with an empty message");
        }
    }
    std::fclose(stream);
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    setFatalErrorHandler(fuzz_support::throwFatalError);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t flags = size > 0 ? data[0] : 0;
    const std::uint8_t offset = size > 1 ? data[1] : 0;
    const std::size_t skip = size < 2 ? size : 2;
    const std::string_view file(reinterpret_cast<const char*>(data) + skip, size - skip);
    const PathStyle& style = (flags & 1) != 0 ? kWindowsStyle : kPosixStyle;

    std::string text;
    const std::size_t border = kReadBlock - offset % (file.size() + 1);
    switch ((flags >> 1) & 3) {
    case 2:
        text = "#" + std::string(border - 2, 'c') + "\n";
        break;
    case 3:
        text = "CLASSPATH=" + std::string(border - 10, 'v');
        break;
    default:
        break;
    }
    text += file;

    const Outcome parsed = parseStream(text, style);
    if (!parsed.error.empty() && !isKnownError(parsed.error)) {
        fail("unexpected error message " + visible(parsed.error));
    }
    if (parsed.error.empty() && parsed.javaExecutable.empty()) {
        fail("no Java executable after a successful read");
    }
    const Outcome expected = readInMemory(text, style);
    if (!(parsed == expected)) {
        fail("parse gave " + describe(parsed) + "\nexpected " + describe(expected));
    }
    return 0;
}

#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// Helpers shared by the libFuzzer targets in this directory.
namespace fuzz_support {

// What fatalError was called with, thrown by the handler the targets install so that an
// error ends one input instead of the fuzzing process.
struct FatalErrorCalled {
    std::string message;
};

[[noreturn]] inline void throwFatalError(const std::string& message) {
    throw FatalErrorCalled{message};
}

// The text in double quotes with every byte outside printable ASCII, the backslash and the
// double quote written as \xNN, so that a report shows blanks, quotes and control bytes
// unambiguously. Very long texts show their first and last 200 bytes and their length.
inline std::string visible(std::string_view text) {
    static const char* const kHex = "0123456789abcdef";
    static constexpr std::size_t kShown = 200;
    if (text.size() > 3 * kShown) {
        return visible(text.substr(0, kShown)) + "..(" + std::to_string(text.size()) + " bytes).." +
               visible(text.substr(text.size() - kShown));
    }
    std::string result = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '\\' && c != '"') {
            result += c;
        } else {
            result += "\\x";
            result += kHex[byte >> 4];
            result += kHex[byte & 0xf];
        }
    }
    return result + "\"";
}

inline std::string visible(const std::vector<std::string>& list) {
    std::string result = "[";
    for (std::size_t i = 0; i < list.size(); ++i) {
        result += (i == 0 ? "" : ", ") + visible(list[i]);
    }
    return result + "]";
}

// Reports a broken expectation and aborts, which libFuzzer records as a crash with the input.
[[noreturn]] inline void fail(const std::string& report) {
    std::fprintf(stderr, "\n*** fuzz check failed: %s\n", report.c_str());
    std::fflush(stderr);
    std::abort();
}

// The text without spaces at either end (tabs stay), as the configuration reader trims.
inline std::string_view trimSpaces(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace fuzz_support

#include "javacmd/quoting.h"

namespace {

// Backslashes before a double quote are doubled and the quote escaped; with
// `beforeClosingQuote`, backslashes at the end are doubled too.
std::string escapeQuotes(std::string_view text, bool beforeClosingQuote) {
    std::string escaped;
    escaped.reserve(text.size());
    std::size_t backslashes = 0;
    for (const char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            escaped.append(2 * backslashes + 1, '\\');
        } else {
            escaped.append(backslashes, '\\');
        }
        backslashes = 0;
        escaped += c;
    }
    escaped.append(beforeClosingQuote ? 2 * backslashes : backslashes, '\\');
    return escaped;
}

} // namespace

std::string escapeForQuotes(std::string_view text) {
    return escapeQuotes(text, true);
}

std::string escapeQuotesOnly(std::string_view text) {
    return escapeQuotes(text, false);
}

std::string quoteArgument(std::string_view text) {
    return '"' + escapeForQuotes(text) + '"';
}

std::string quoteProgramNameIfNeeded(std::string_view name) {
    std::string result;
    result.reserve(name.size() + 2);
    for (const char c : name) {
        if (c != '"') {
            result += c;
        }
    }
    if (result.empty() || result.find_first_of(" \t") != std::string::npos) {
        return '"' + result + '"';
    }
    return result;
}

std::string joinCommandLine(const ArgumentList& arguments) {
    std::size_t length = 0;
    for (const std::string& argument : arguments) {
        length += argument.size() + 1;
    }
    std::string line;
    line.reserve(length);
    bool first = true;
    for (const std::string& argument : arguments) {
        if (!first) {
            line += ' ';
        }
        first = false;
        line += argument;
    }
    return line;
}

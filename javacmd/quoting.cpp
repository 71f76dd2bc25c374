#include "javacmd/quoting.h"

namespace {

// Backslashes before a double quote are doubled and the quote escaped; with
// `beforeClosingQuote`, backslashes at the end are doubled too. A double-byte character, whose
// first byte is neither, is copied whole: its second byte is no backslash.
std::string escapeQuotes(std::string_view text, bool beforeClosingQuote,
                         const LeadBytes& leadBytes) {
    std::string escaped;
    escaped.reserve(text.size());
    std::size_t backslashes = 0;
    for (std::size_t position = 0; position < text.size();) {
        const char c = text[position];
        const std::size_t length = leadBytes.lengthAt(text, position);
        if (c == '\\') {
            ++backslashes;
            ++position;
            continue;
        }
        if (c == '"') {
            escaped.append(2 * backslashes + 1, '\\');
        } else {
            escaped.append(backslashes, '\\');
        }
        backslashes = 0;
        escaped.append(text.substr(position, length));
        position += length;
    }
    escaped.append(beforeClosingQuote ? 2 * backslashes : backslashes, '\\');
    return escaped;
}

} // namespace

std::string escapeForQuotes(std::string_view text, const LeadBytes& leadBytes) {
    return escapeQuotes(text, true, leadBytes);
}

std::string escapeQuotesOnly(std::string_view text, const LeadBytes& leadBytes) {
    return escapeQuotes(text, false, leadBytes);
}

std::string quoteArgument(std::string_view text, const LeadBytes& leadBytes) {
    return '"' + escapeForQuotes(text, leadBytes) + '"';
}

std::string quoteKeepingWildcards(std::string_view text, const LeadBytes& leadBytes) {
    std::string quoted;
    std::size_t partStart = 0;
    const auto addPartUpTo = [&](std::size_t end) {
        const std::string_view part = text.substr(partStart, end - partStart);
        quoted += part.find_first_of(" \t") == std::string_view::npos
                      ? escapeQuotesOnly(part, leadBytes)
                      : quoteArgument(part, leadBytes);
    };
    for (std::size_t position = 0; position < text.size();) {
        const std::size_t length = leadBytes.lengthAt(text, position);
        if (length == 1 && (text[position] == '*' || text[position] == '?')) {
            addPartUpTo(position);
            quoted += text[position];
            partStart = position + 1;
        }
        position += length;
    }
    addPartUpTo(text.size());
    return quoted;
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

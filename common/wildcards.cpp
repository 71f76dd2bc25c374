#include "common/wildcards.h"

#include <algorithm>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads the word that starts at `position` and moves `position` past it.
CommandLineWord readWord(std::string_view line, std::size_t& position, const LeadBytes& leadBytes) {
    CommandLineWord word;
    bool inQuotes = false;
    bool quoteJustClosed = false;
    while (position < line.size()) {
        const std::size_t backslashes =
            std::min(line.find_first_not_of('\\', position), line.size()) - position;
        position += backslashes;
        const bool followsClosingQuote = quoteJustClosed && backslashes == 0;
        quoteJustClosed = false;
        if (position < line.size() && line[position] == '"') {
            word.text.append(backslashes / 2, '\\');
            if (backslashes % 2 == 1) {
                word.text += '"';
            } else if (inQuotes) {
                inQuotes = false;
                quoteJustClosed = true;
            } else {
                if (followsClosingQuote) {
                    word.text += '"';
                }
                inQuotes = true;
            }
            ++position;
            continue;
        }
        word.text.append(backslashes, '\\');
        if (position == line.size() || (!inQuotes && isBlank(line[position]))) {
            break;
        }
        const std::size_t length = leadBytes.lengthAt(line, position);
        if (length == 1 && !inQuotes && (line[position] == '*' || line[position] == '?')) {
            word.wildcard = true;
        }
        word.text.append(line.substr(position, length));
        position += length;
    }
    return word;
}

} // namespace

std::vector<CommandLineWord> splitWithWildcards(std::string_view line, const LeadBytes& leadBytes) {
    std::vector<CommandLineWord> words;
    std::size_t position = 0;
    for (;;) {
        while (position < line.size() && isBlank(line[position])) {
            ++position;
        }
        if (position == line.size()) {
            return words;
        }
        words.push_back(readWord(line, position, leadBytes));
    }
}

WildcardMarks WildcardMarks::of(std::string_view commandLine, int argc, const char* const* argv,
                                const LeadBytes& leadBytes) {
    const std::vector<CommandLineWord> words = splitWithWildcards(commandLine, leadBytes);
    if (argc < 0 || words.size() != static_cast<std::size_t>(argc)) {
        return {};
    }
    WildcardMarks marks;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i].text != argv[i]) {
            return {};
        }
        marks.marked_.push_back(words[i].wildcard);
    }
    return marks;
}

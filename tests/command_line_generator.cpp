#include "command_line_generator.h"

#include "javacmd/quoting.h"

namespace testing_support {

namespace {

// The words of a text outside quotes: what lies between blanks.
std::vector<std::string> wordsOf(const std::string& text) {
    std::vector<std::string> words;
    std::size_t start = text.find_first_not_of(" \t");
    while (start != std::string::npos) {
        const std::size_t end = text.find_first_of(" \t", start);
        words.push_back(text.substr(start, end - start));
        start = text.find_first_not_of(" \t", end);
    }
    return words;
}

} // namespace

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

std::size_t CommandLineGenerator::number(std::size_t highest) {
    return std::uniform_int_distribution<std::size_t>(0, highest)(random_);
}

GeneratedCommandLine generatedCommandLine(CommandLineGenerator& generate) {
    const std::string program = generate.textWithoutQuotes(12);
    ArgumentList parts{quoteProgramNameIfNeeded(program)};
    std::vector<std::string> elements{program};
    for (std::size_t count = generate.number(6); count > 0; --count) {
        const std::string text = generate.text(10);
        switch (generate.number(2)) {
        case 0:
            parts.push_back(quoteArgument(text));
            elements.push_back(text);
            break;
        case 1:
            parts.push_back("-Dp=" + quoteArgument(text));
            elements.push_back("-Dp=" + text);
            break;
        default:
            parts.push_back(escapeQuotesOnly(text));
            for (const std::string& word : wordsOf(text)) {
                elements.push_back(word);
            }
            break;
        }
    }
    return GeneratedCommandLine{joinCommandLine(parts), elements};
}

} // namespace testing_support

#include "command_line_generator.h"

#include "javacmd/quoting.h"
#include "process/split_command_line.h"

namespace testing_support {

namespace {

// Stand-ins, one for each byte the splitter reads as a backslash, a quote or a blank, for
// the second bytes of double-byte characters while the splitter reads the line.
constexpr std::string_view kSpecialBytes = "\\\" \t";
constexpr std::string_view kStandIns = "\x01\x02\x03\x04";

// The text with each double-byte character's second byte that is one of `from` replaced by
// the byte at the same place in `to`.
std::string withSecondBytes(std::string_view text, const LeadBytes& leadBytes,
                            std::string_view from, std::string_view to) {
    std::string result(text);
    for (std::size_t position = 0; position < result.size();) {
        const std::size_t length = leadBytes.lengthAt(result, position);
        const std::size_t index = length == 2 ? from.find(result[position + 1]) : from.npos;
        if (index != from.npos) {
            result[position + 1] = to[index];
        }
        position += length;
    }
    return result;
}

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

LeadBytes codePage932() {
    LeadBytes leadBytes;
    leadBytes.add(0x81, 0x9F);
    leadBytes.add(0xE0, 0xFC);
    return leadBytes;
}

std::vector<std::string> splitAsRuntime(std::string_view line, const LeadBytes& leadBytes) {
    std::vector<std::string> elements =
        splitCommandLine(withSecondBytes(line, leadBytes, kSpecialBytes, kStandIns));
    for (std::string& element : elements) {
        element = withSecondBytes(element, leadBytes, kStandIns, kSpecialBytes);
    }
    return elements;
}

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

#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/lead_bytes.h"

namespace testing_support {

// The lead bytes of code page 932 (Japanese): 0x81 to 0x9F and 0xE0 to 0xFC.
LeadBytes codePage932();

// A command line's elements as the Microsoft C runtime reads them in a code page with these
// lead bytes: by the rules of splitCommandLine, but a lead byte and the byte after it,
// whatever that is, are one character, which is never a backslash, a quote or a blank.
std::vector<std::string> splitAsRuntime(std::string_view line, const LeadBytes& leadBytes);

// Random texts made mostly of the characters that command-line parsers treat specially:
// blanks, double quotes and runs of backslashes, mixed with letters and bytes above 0x7F.
class CommandLineGenerator {
  public:
    explicit CommandLineGenerator(std::uint64_t seed) : random_(seed) {}

    std::string text(std::size_t maxLength);
    // A text without double quotes: what a program name may hold.
    std::string textWithoutQuotes(std::size_t maxLength);
    // A number from 0 to `highest`.
    std::size_t number(std::size_t highest);

  private:
    std::mt19937_64 random_;
};

// A command line made with the launcher's quoting from generated texts, and what a split of
// it must give back: the generated texts themselves. It holds a program name (quoted only
// where needed), then in random order texts quoted as arguments, quoted after a prefix as a
// property's value is ("-Dp=<text>" comes back), and -J values escaped as VM options, of
// which each comes back as its words: the text divided at blanks, quotes and backslashes
// unchanged.
struct GeneratedCommandLine {
    std::string line;
    std::vector<std::string> elements;
};
GeneratedCommandLine generatedCommandLine(CommandLineGenerator& generate);

} // namespace testing_support

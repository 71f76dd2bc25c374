#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/lead_bytes.h"

// A word of a command line as the Java VM's launcher on Windows reads it, and whether a '*' or
// '?' of it stood outside double quotes: such a word, after the entry class, is replaced there
// by the names of the files it matches.
struct CommandLineWord {
    std::string text;
    bool wildcard = false;
};

// The words of a command line by the VM launcher's rules: blanks (space, tab) outside double
// quotes separate words; backslashes count only before a double quote, where 2n of them give n
// and the quote opens or closes a quoted part, and 2n+1 give n and a literal quote; outside
// quotes, a quote right after the quote that closed a part is a literal quote and opens
// another. The line is read by characters of the code page whose lead bytes are given.
std::vector<CommandLineWord> splitWithWildcards(std::string_view line, const LeadBytes& leadBytes);

// Which of a program's arguments were typed with a wildcard outside double quotes.
class WildcardMarks {
  public:
    // None marked.
    WildcardMarks() = default;

    // The marks of the words of `commandLine`, where they are exactly argv (as many, each the
    // same text); where the two reads of the line differ, none.
    static WildcardMarks of(std::string_view commandLine, int argc, const char* const* argv,
                            const LeadBytes& leadBytes);

    bool marked(int index) const {
        return index >= 0 && static_cast<std::size_t>(index) < marked_.size() &&
               marked_[static_cast<std::size_t>(index)];
    }

  private:
    std::vector<bool> marked_;
};

// The marks of this launcher's own arguments: on Windows those of the command line the system
// started it with; on Linux none, as the shell has expanded the wildcards already.
WildcardMarks typedWildcardMarks(int argc, const char* const* argv, const LeadBytes& leadBytes);

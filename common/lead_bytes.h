#pragma once

#include <bitset>
#include <cstddef>
#include <string_view>

// The bytes that lead a double-byte character in the ANSI code page (Windows' 932, 936, 949
// and 950): such a byte and the byte after it are one character, and that second byte may be
// the byte of '\' (ソ is 0x83 0x5C in code page 932). A lead byte with nothing after it is a
// character of its own. Single-byte code pages, and Linux, have no lead bytes: every byte is
// a character. Second bytes are 0x40 and above, so a double quote, a blank, ':', ';', '/' or
// '.' is always a character of its own; only a search for '\' (or a letter) must walk by
// characters.
class LeadBytes {
  public:
    // Bytes first to last lead double-byte characters.
    void add(unsigned char first, unsigned char last) {
        for (unsigned value = first; value <= last; ++value) {
            leads_.set(value);
        }
    }
    // The length in bytes of the character at `position` of `text`: 1 or 2.
    std::size_t lengthAt(std::string_view text, std::size_t position) const {
        const bool leads = leads_.test(static_cast<unsigned char>(text[position]));
        return leads && position + 1 < text.size() ? 2 : 1;
    }
    // Whether the last character of `text` is a lead byte with nothing after it: a text that
    // no command line can carry, as whatever follows it there becomes its second byte.
    bool endsInLoneLeadByte(std::string_view text) const {
        for (std::size_t position = 0; position < text.size();) {
            const std::size_t length = lengthAt(text, position);
            if (position + length == text.size()) {
                return length == 1 && leads_.test(static_cast<unsigned char>(text[position]));
            }
            position += length;
        }
        return false;
    }
    // Where the last character of `text` that is one of the single-byte `characters` starts;
    // npos when there is none.
    std::size_t findLastOf(std::string_view text, std::string_view characters) const {
        std::size_t found = std::string_view::npos;
        for (std::size_t position = 0; position < text.size();) {
            const std::size_t length = lengthAt(text, position);
            if (length == 1 && characters.find(text[position]) != std::string_view::npos) {
                found = position;
            }
            position += length;
        }
        return found;
    }

  private:
    std::bitset<256> leads_;
};

// The lead bytes of this system's ANSI code page, asked once per run: on Windows those that
// IsDBCSLeadByte names, on Linux none.
const LeadBytes& ansiLeadBytes();

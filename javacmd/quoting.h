#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/lead_bytes.h"

using ArgumentList = std::vector<std::string>;

// The text between double quotes that the Microsoft C runtime's command-line parser (and
// CommandLineToArgvW) reads back as exactly `text`: backslashes that precede a double quote
// or the closing quote are doubled, and each double quote is escaped with a backslash.
// Text without a double quote and without a trailing backslash comes back unchanged. The text
// is read by characters of the code page whose lead bytes are given, as those parsers read
// it there: the second byte of a double-byte character is never a backslash.
std::string escapeForQuotes(std::string_view text, const LeadBytes& leadBytes = LeadBytes());

// `text` for a place outside double quotes where a double quote must not open a quoted part:
// each double quote, with the backslashes right before it, is escaped as escapeForQuotes
// does. Nothing else changes, so blanks still divide the text into several elements and
// text without a double quote comes back unchanged.
std::string escapeQuotesOnly(std::string_view text, const LeadBytes& leadBytes = LeadBytes());

// `text` escaped and put between double quotes: one command-line element.
std::string quoteArgument(std::string_view text, const LeadBytes& leadBytes = LeadBytes());

// A tool argument that was typed with a wildcard outside double quotes, written so that the
// VM's launcher reads back the same text with the same mark (see splitWithWildcards): each '*'
// and '?' outside quotes, and each part between them as it needs: quoted as by quoteArgument
// where it holds a blank, else with only its double quotes escaped. Parts between quotes are
// never next to each other, so no quote follows a closing one.
std::string quoteKeepingWildcards(std::string_view text, const LeadBytes& leadBytes = LeadBytes());

// A program name as the first element of a command line, which parsers read by a rule of
// its own: a quoted name runs to the next quote, with backslashes taken literally, so the
// name is put between plain quotes when it is empty or holds a space or a tab, and is
// otherwise left as is. A double quote cannot pass through that rule at all; Windows file
// names have none, and one in a Linux name is dropped.
std::string quoteProgramNameIfNeeded(std::string_view name);

// The elements in order, separated by exactly one space, nothing added or escaped.
std::string joinCommandLine(const ArgumentList& arguments);

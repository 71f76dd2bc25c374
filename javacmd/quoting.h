#pragma once

#include <string>
#include <string_view>
#include <vector>

using ArgumentList = std::vector<std::string>;

// The text between double quotes that the Microsoft C runtime's command-line parser (and
// CommandLineToArgvW) reads back as exactly `text`: backslashes that precede a double quote
// or the closing quote are doubled, and each double quote is escaped with a backslash.
// Text without a double quote and without a trailing backslash comes back unchanged.
std::string escapeForQuotes(std::string_view text);

// `text` escaped and put between double quotes: one command-line element.
std::string quoteArgument(std::string_view text);

// Quotes `text` only when it is empty or holds a space or a tab; otherwise leaves it as is.
std::string quoteArgumentIfNeeded(std::string_view text);

// The elements in order, separated by exactly one space, nothing added or escaped.
std::string joinCommandLine(const ArgumentList& arguments);

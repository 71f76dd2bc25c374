#pragma once

#include <string_view>

// A Windows PATH entry with one pair of double quotes around the whole of it removed, as the
// system reads "C:\Program Files\se javac" written with its quotes.
std::string_view withoutEnclosingQuotes(std::string_view entry);

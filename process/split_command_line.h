#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits a command line into arguments by the rules that Windows programs apply to their
// command line (CommandLineToArgvW and the Microsoft C runtime):
// - the first element, the program name, is the text up to the next double quote when it
//   starts with one, else up to the first space or tab; backslashes are taken literally;
// - in every later element, 2n backslashes before a double quote give n backslashes and the
//   quote opens or closes a quoted part; 2n+1 give n backslashes and a literal quote;
//   backslashes not followed by a quote stay as they are; two quotes inside a quoted part
//   give one quote and end the part; spaces and tabs outside quotes separate elements.
// The Linux port starts programs with this, so a command line means the same on both.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

// The program name alone: the first element by the rule above, which is also how
// CreateProcessA reads the program from a command line.
std::string programNameOf(std::string_view commandLine);

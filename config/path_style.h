#pragma once

#include <string_view>

// How the platform finds a program that is started by name.
enum class ProgramSearch {
    // The name as written (relative to the current directory unless absolute) first, then the
    // name joined to each PATH entry, whatever the name holds; empty entries are skipped.
    NameThenPath,
    // As exec does: a name holding a directory separator is used as written and PATH is not
    // searched; any other name is looked up on PATH only, where an empty entry stands for the
    // current directory.
    Exec,
};

// Everything that differs between the Windows build and the Linux port in how paths and
// path lists are written. Code takes a PathStyle instead of testing the platform, so both
// styles can be exercised by the tests on every platform.
struct PathStyle {
    char dirSeparator;              // between a directory and the name inside it
    std::string_view directoryEnds; // each of these ends the directory part of a path
    char listSeparator;             // between the entries of PATH and of a class path
    std::string_view exeSuffix;     // added to the launcher's name when missing; empty: no rule
    ProgramSearch programSearch;    // how the launcher's own file is looked up
    std::string_view defaultPath;   // searched in place of PATH when PATH is not set
    bool unquotesPathEntries;       // one pair of double quotes around a PATH entry is removed
    bool expandsHomeInPath;         // a PATH entry "~" or "~/..." stands for $HOME, as in bash
};

// Windows starts a bare name from the current directory too, accepts '/' as a separator and
// quoted PATH entries. Without PATH exec searches its own default, as glibc's execvp does;
// bash, which starts most programs, reads a "~" at the start of a PATH entry as $HOME.
inline constexpr PathStyle kWindowsStyle{
    '\\',                        // dirSeparator
    "\\/",                       // directoryEnds
    ';',                         // listSeparator
    ".exe",                      // exeSuffix
    ProgramSearch::NameThenPath, // programSearch
    "",                          // defaultPath: none, only the name itself is tried
    true,                        // unquotesPathEntries
    false,                       // expandsHomeInPath
};
inline constexpr PathStyle kPosixStyle{
    '/',                 // dirSeparator
    "/",                 // directoryEnds
    ':',                 // listSeparator
    "",                  // exeSuffix
    ProgramSearch::Exec, // programSearch
    "/bin:/usr/bin",     // defaultPath: execvp's
    false,               // unquotesPathEntries
    true,                // expandsHomeInPath
};

#ifdef _WIN32
inline constexpr const PathStyle& kHostStyle = kWindowsStyle;
#else
inline constexpr const PathStyle& kHostStyle = kPosixStyle;
#endif

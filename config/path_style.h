#pragma once

#include <string_view>

// Everything that differs between the Windows build and the Linux port in how paths and
// path lists are written. Code takes a PathStyle instead of testing the platform, so both
// styles can be exercised by the tests on every platform.
struct PathStyle {
    char dirSeparator;          // between a directory and the name inside it
    char listSeparator;         // between the entries of PATH and of a class path
    std::string_view exeSuffix; // added to the launcher's name when missing; empty: no rule
};

inline constexpr PathStyle kWindowsStyle{'\\', ';', ".exe"};
inline constexpr PathStyle kPosixStyle{'/', ':', ""};

#ifdef _WIN32
inline constexpr const PathStyle& kHostStyle = kWindowsStyle;
#else
inline constexpr const PathStyle& kHostStyle = kPosixStyle;
#endif

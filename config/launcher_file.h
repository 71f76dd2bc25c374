#pragma once

#include <string>

// How the host tells which file the launcher is (launcher_file_posix.cpp,
// launcher_file_win32.cpp).

// Whether a candidate of the lookup is a file the system would start under that name: on
// Linux a regular file that this process's user may execute, as exec requires (root too
// needs an execute bit); on Windows a regular file that opens for reading.
bool isStartableFile(const std::string& path);

// The file that path finally leads to, every symbolic link followed (Linux: realpath;
// Windows: the final path of the opened file, without GetFinalPathNameByHandle's "\\?\"
// prefix). Empty when that cannot be told.
std::string finalPathOf(const std::string& path);

// This executable's file, links resolved, the lookup's last resort when its search finds
// nothing (Linux: /proc/self/exe). Empty when it cannot be read, and on Windows, which
// started the launcher under the name that the lookup searches for.
std::string ownExecutableFile();

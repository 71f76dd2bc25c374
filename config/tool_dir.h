#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/path_style.h"

// Answers whether a candidate path names the launcher's file: a regular file, on Windows one
// that also opens for reading.
using FileProbe = std::function<bool(const std::string& path)>;

// The directory of the launcher's executable, found from the name it was started under the
// way the platform found the program (see ProgramSearch): on Windows the name itself, then
// each PATH entry joined with it; on Linux a name with a '/' as written, any other on PATH
// only. When nothing is found, the last candidate tried decides. The result is the candidate
// up to its last directory separator, or "." and the separator when it has none.
// pathValue is the PATH variable's value, or nothing when PATH is not set.
std::string findToolDir(std::string_view name, const std::optional<std::string>& pathValue,
                        const FileProbe& canOpen, const PathStyle& style);

// The same with the process's own PATH, the real file system and the host's path style.
std::string findToolDir(std::string_view name);

// True when path names a regular file (not a directory, a FIFO or a device).
bool isRegularFile(const std::string& path);
// True when path names a regular file that opens for reading.
bool isReadableRegularFile(const std::string& path);

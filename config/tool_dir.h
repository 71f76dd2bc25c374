#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/path_style.h"

// Answers whether a candidate path names a regular file that can be opened for reading.
using FileProbe = std::function<bool(const std::string& path)>;

// The directory of the launcher's executable, found from the name it was started under:
// first the name itself, then each PATH entry joined with it. The result always ends in the
// style's separator ("." and the separator when the candidate has no directory part).
// pathValue is the PATH variable's value, or nothing when PATH is not set.
std::string findToolDir(std::string_view name, const std::optional<std::string>& pathValue,
                        const FileProbe& canOpen, const PathStyle& style);

// The same with the process's own PATH, the real file system and the host's path style.
std::string findToolDir(std::string_view name);

// True when path names a regular file (not a directory) that opens for reading.
bool isReadableRegularFile(const std::string& path);

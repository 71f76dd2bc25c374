#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/lead_bytes.h"
#include "config/path_style.h"

// Answers whether a candidate path names the launcher's file: a regular file that the system
// would start (see isStartableFile).
using FileProbe = std::function<bool(const std::string& path)>;

// The search alone: the directory of the launcher's executable, found from the name it was
// started under the way the platform found the program (see ProgramSearch): on Windows the name
// itself, then each PATH entry joined with it; on Linux a name with a '/' as written, any other on
// PATH only. When nothing is found, the last candidate tried decides. The result is the candidate
// up to its last directory separator (a character of the code page whose lead bytes are
// given), or "." and the separator when it has none.
// pathValue is the PATH variable's value, or nothing when PATH is not set.
std::string findToolDir(std::string_view name, const std::optional<std::string>& pathValue,
                        const FileProbe& canOpen, const PathStyle& style,
                        const LeadBytes& leadBytes = LeadBytes());

// The system as the configuration's lookup sees it; tests put fakes in its place.
struct LookupSystem {
    std::optional<std::string> pathValue; // PATH, nothing when it is not set
    std::optional<std::string> home;      // HOME, nothing when it is not set
    FileProbe isLauncher;                 // a candidate the system would start
    // Whether a directory (ending in its separator) holds a configuration file.
    std::function<bool(const std::string& directory)> hasConfig;
    // The file a path finally leads to, links followed; empty when that cannot be told.
    std::function<std::string(const std::string& path)> finalPath;
    // This executable's file, links resolved, as the system names it; empty where it does not.
    std::function<std::string()> ownFile;
    LeadBytes leadBytes; // of the code page that names files
};

// The tool directory, whose configuration the launcher reads. The search is the one above
// (on Linux with "~" in PATH read as $HOME); when it finds nothing, the launcher's own file takes
// the place of its last candidate where the system names that file. The candidate's directory
// counts when it holds a configuration, so a link on PATH may have one of its own; otherwise
// the directory of the file the candidate finally leads to, which is also the directory
// named when neither holds one.
std::string findToolDir(std::string_view name, const LookupSystem& system, const PathStyle& style);

// The same with the process's environment, the real file system, the host's path style and
// the lead bytes of the code page the name and the system's paths are written in.
std::string findToolDir(std::string_view name, const LeadBytes& leadBytes);

// A path as Windows' GetFinalPathNameByHandle gives it, in the form programs use:
// "\\?\C:\dir" becomes "C:\dir" and "\\?\UNC\server\share" "\\server\share".
std::string withoutFinalPathPrefix(std::string_view finalPath);

// True when path names a regular file (not a directory, a FIFO or a device).
bool isRegularFile(const std::string& path);
// True when path names a regular file that opens for reading.
bool isReadableRegularFile(const std::string& path);

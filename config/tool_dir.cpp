#include "config/tool_dir.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "common/path_entry.h"
#include "config/launcher_file.h"
#include "config/regular_file.h"
#include "config/tool_config.h"

namespace {

std::string executableName(std::string_view name, const PathStyle& style) {
    std::string result(name);
    if (style.exeSuffix.empty()) {
        return result;
    }
    // Only one position is looked at: the one where a three-letter extension's dot would be.
    const std::size_t suffixLength = style.exeSuffix.size();
    if (result.size() < suffixLength + 1 || result[result.size() - suffixLength] != '.') {
        result += style.exeSuffix;
    }
    return result;
}

std::string directoryOf(const std::string& candidate, const PathStyle& style,
                        const LeadBytes& leadBytes) {
    const std::size_t lastSeparator = leadBytes.findLastOf(candidate, style.directoryEnds);
    if (lastSeparator == std::string::npos) {
        return std::string(".") + style.dirSeparator;
    }
    return candidate.substr(0, lastSeparator + 1);
}

// A PATH entry as the shell reads it when it searches: "~" and "~/..." start at $HOME.
std::string expandedEntry(std::string_view entry, const std::optional<std::string>& home,
                          const PathStyle& style) {
    const bool tilde = !entry.empty() && entry.front() == '~' &&
                       (entry.size() == 1 || entry[1] == style.dirSeparator);
    if (style.expandsHomeInPath && tilde && home && !home->empty()) {
        return *home + std::string(entry.substr(1));
    }
    return std::string(entry);
}

struct SearchResult {
    std::string candidate; // the file found, or the last one tried
    bool found = false;
};

SearchResult searchLauncher(std::string_view name, const std::optional<std::string>& pathValue,
                            const std::optional<std::string>& home, const FileProbe& canOpen,
                            const PathStyle& style) {
    const std::string exeName = executableName(name, style);
    std::string candidate = exeName;
    if (style.programSearch == ProgramSearch::NameThenPath) {
        if (canOpen(candidate)) {
            return {candidate, true};
        }
    } else if (exeName.find_first_of(style.directoryEnds) != std::string::npos) {
        // exec runs such a name as written, so that is where the launcher is.
        return {candidate, true};
    }
    const std::string_view entries = pathValue ? std::string_view(*pathValue) : style.defaultPath;
    std::size_t start = 0;
    while (start <= entries.size()) {
        std::size_t end = entries.find(style.listSeparator, start);
        if (end == std::string_view::npos) {
            end = entries.size();
        }
        std::string_view entry = entries.substr(start, end - start);
        start = end + 1;
        if (style.unquotesPathEntries) {
            entry = withoutEnclosingQuotes(entry);
        }
        if (!entry.empty()) {
            candidate = expandedEntry(entry, home, style);
            candidate += style.dirSeparator;
            candidate += exeName;
        } else if (style.programSearch == ProgramSearch::Exec) {
            candidate = exeName; // the current directory, named as exec names it
        } else {
            continue;
        }
        if (canOpen(candidate)) {
            return {candidate, true};
        }
    }
    return {candidate, false};
}

std::optional<std::string> environmentVariable(const char* name) {
    if (const char* value = std::getenv(name)) {
        return std::string(value);
    }
    return std::nullopt;
}

} // namespace

std::string findToolDir(std::string_view name, const std::optional<std::string>& pathValue,
                        const FileProbe& canOpen, const PathStyle& style,
                        const LeadBytes& leadBytes) {
    return directoryOf(searchLauncher(name, pathValue, std::nullopt, canOpen, style).candidate,
                       style, leadBytes);
}

std::string findToolDir(std::string_view name, const LookupSystem& system, const PathStyle& style) {
    SearchResult result =
        searchLauncher(name, system.pathValue, system.home, system.isLauncher, style);
    if (!result.found) {
        if (std::string own = system.ownFile(); !own.empty()) {
            result.candidate = std::move(own);
        }
    }
    std::string directory = directoryOf(result.candidate, style, system.leadBytes);
    if (system.hasConfig(directory)) {
        return directory;
    }
    const std::string finalPath = system.finalPath(result.candidate);
    return finalPath.empty() ? directory : directoryOf(finalPath, style, system.leadBytes);
}

std::string withoutFinalPathPrefix(std::string_view finalPath) {
    constexpr std::string_view kUncPrefix = "\\\\?\\UNC\\";
    constexpr std::string_view kPrefix = "\\\\?\\";
    if (finalPath.substr(0, kUncPrefix.size()) == kUncPrefix) {
        return "\\\\" + std::string(finalPath.substr(kUncPrefix.size()));
    }
    if (finalPath.substr(0, kPrefix.size()) == kPrefix) {
        return std::string(finalPath.substr(kPrefix.size()));
    }
    return std::string(finalPath);
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isReadableRegularFile(const std::string& path) {
    std::FILE* file = openRegularFile(path);
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

std::string findToolDir(std::string_view name, const LeadBytes& leadBytes) {
    LookupSystem system;
    system.leadBytes = leadBytes;
    system.pathValue = environmentVariable("PATH");
    system.home = environmentVariable("HOME");
    system.isLauncher = isStartableFile;
    system.hasConfig = [](const std::string& directory) {
        return isRegularFile(ToolConfig::pathIn(directory, kHostStyle));
    };
    system.finalPath = finalPathOf;
    system.ownFile = ownExecutableFile;
    return findToolDir(name, system, kHostStyle);
}

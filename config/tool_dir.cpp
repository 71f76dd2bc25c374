#include "config/tool_dir.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "common/path_entry.h"
#include "config/regular_file.h"

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

std::string directoryOf(const std::string& candidate, const PathStyle& style) {
    const std::size_t lastSeparator = candidate.find_last_of(style.directoryEnds);
    if (lastSeparator == std::string::npos) {
        return std::string(".") + style.dirSeparator;
    }
    return candidate.substr(0, lastSeparator + 1);
}

} // namespace

std::string findToolDir(std::string_view name, const std::optional<std::string>& pathValue,
                        const FileProbe& canOpen, const PathStyle& style) {
    const std::string exeName = executableName(name, style);
    std::string candidate = exeName;
    if (style.programSearch == ProgramSearch::NameThenPath) {
        if (canOpen(candidate)) {
            return directoryOf(candidate, style);
        }
    } else if (exeName.find_first_of(style.directoryEnds) != std::string::npos) {
        // exec runs such a name as written, so that is where the launcher is.
        return directoryOf(candidate, style);
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
            candidate.assign(entry);
            candidate += style.dirSeparator;
            candidate += exeName;
        } else if (style.programSearch == ProgramSearch::Exec) {
            candidate = exeName; // the current directory, named as exec names it
        } else {
            continue;
        }
        if (canOpen(candidate)) {
            break;
        }
    }
    return directoryOf(candidate, style);
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

std::string findToolDir(std::string_view name) {
    std::optional<std::string> pathValue;
    if (const char* path = std::getenv("PATH")) {
        pathValue = path;
    }
    return findToolDir(name, pathValue,
                       kHostStyle.programMustBeReadable ? isReadableRegularFile : isRegularFile,
                       kHostStyle);
}

#include "config/tool_dir.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

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
    const std::size_t lastSeparator = candidate.rfind(style.dirSeparator);
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
    if (canOpen(candidate)) {
        return directoryOf(candidate, style);
    }
    if (pathValue) {
        const std::string& entries = *pathValue;
        std::size_t start = 0;
        while (start <= entries.size()) {
            std::size_t end = entries.find(style.listSeparator, start);
            if (end == std::string::npos) {
                end = entries.size();
            }
            if (end > start) {
                candidate.assign(entries, start, end - start);
                candidate += style.dirSeparator;
                candidate += exeName;
                if (canOpen(candidate)) {
                    break;
                }
            }
            start = end + 1;
        }
    }
    return directoryOf(candidate, style);
}

bool isReadableRegularFile(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "r");
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
    return findToolDir(name, pathValue, isReadableRegularFile, kHostStyle);
}

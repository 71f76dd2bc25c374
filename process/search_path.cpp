#include "process/search_path.h"

#include "common/path_entry.h"

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

bool isRooted(std::string_view entry) {
    if (!entry.empty() && isSeparator(entry.front())) {
        return true;
    }
    const bool driveLetter = entry.size() >= 3 && ((entry[0] >= 'A' && entry[0] <= 'Z') ||
                                                   (entry[0] >= 'a' && entry[0] <= 'z'));
    return driveLetter && entry[1] == ':' && isSeparator(entry[2]);
}

} // namespace

std::string rootedPathEntries(std::string_view pathValue) {
    std::string result;
    std::size_t start = 0;
    while (start <= pathValue.size()) {
        std::size_t end = pathValue.find(';', start);
        if (end == std::string_view::npos) {
            end = pathValue.size();
        }
        const std::string_view entry = withoutEnclosingQuotes(pathValue.substr(start, end - start));
        if (isRooted(entry)) {
            if (!result.empty()) {
                result += ';';
            }
            result += entry;
        }
        start = end + 1;
    }
    return result;
}

std::string searchEntryOfFile(std::string_view file, const LeadBytes& leadBytes) {
    const std::size_t lastSeparator = leadBytes.findLastOf(file, "\\");
    std::string_view directory = file.substr(0, lastSeparator);
    if (directory.size() == 2 && directory[1] == ':') {
        directory = file.substr(0, lastSeparator + 1);
    }
    return std::string(directory);
}

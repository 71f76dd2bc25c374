#include "common/path_entry.h"

std::string_view withoutEnclosingQuotes(std::string_view entry) {
    if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"') {
        return entry.substr(1, entry.size() - 2);
    }
    return entry;
}

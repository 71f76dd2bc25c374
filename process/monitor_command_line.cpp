#include "process/monitor_command_line.h"

#include <cctype>
#include <cstdint>
#include <limits>

#include "javacmd/quoting.h"

namespace {

// Handles travel as 32-bit numbers. Windows keeps handle values within 32 bits, sign-extended,
// so that 32- and 64-bit processes can share them; a pidfd always fits.
std::string handleText(platform::ProcessHandle handle) {
    return std::to_string(static_cast<std::int32_t>(handle.value()));
}

} // namespace

std::string monitorCommandLine(const std::string& launcherName, platform::ProcessHandle launcher,
                               platform::ProcessHandle vm) {
    return quoteProgramNameIfNeeded(launcherName) + " -monitor " + handleText(launcher) + ' ' +
           handleText(vm);
}

std::optional<platform::ProcessHandle> parseHandleText(std::string_view text) {
    std::size_t position = 0;
    while (position < text.size() &&
           std::isspace(static_cast<unsigned char>(text[position])) != 0) {
        ++position;
    }
    bool negative = false;
    if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
        negative = text[position] == '-';
        ++position;
    }
    if (position == text.size()) {
        return std::nullopt;
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kLimit) {
            return std::nullopt;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return platform::ProcessHandle(static_cast<std::intptr_t>(value));
}

// findToolDir with arbitrary names and PATH values in both path styles, against a file
// system that a hash of each candidate decides: the order of the probes and the directory
// returned must follow the lookup rules (Windows: the name first, quoted entries, '/' as a
// separator too; Linux: exec's rules).
//
// Input: byte 0 holds flags (bit 0: Windows path style, else POSIX; bit 1: PATH is set;
// bits 2-3: k, a candidate opens when its hash is divisible by 2^k), byte 1 seeds the hash,
// the rest is the name up to the first NUL byte, then the PATH value.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/tool_dir.h"
#include "fuzz/fuzz_support.h"

namespace {

using fuzz_support::fail;
using fuzz_support::visible;
using Strings = std::vector<std::string>;

std::uint64_t hashOf(const std::string& text, std::uint8_t seed) {
    std::uint64_t hash = 14695981039346656037ULL ^ seed;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash ^ (hash >> 29);
}

// The name the launcher looks for: with the style's suffix unless a dot stands where the
// dot of a suffix of that length would be.
std::string executableName(std::string_view name, const PathStyle& style) {
    const std::size_t length = style.exeSuffix.size();
    if (length == 0 || (name.size() > length && name[name.size() - length] == '.')) {
        return std::string(name);
    }
    return std::string(name) + std::string(style.exeSuffix);
}

// Whether a candidate opens: its hash is divisible by 2^rarity.
struct FakeFiles {
    std::uint8_t seed;
    unsigned rarity;
    bool opens(const std::string& candidate) const {
        return (hashOf(candidate, seed) & ((1U << rarity) - 1)) == 0;
    }
};

Strings listEntries(const std::string& list, char separator) {
    Strings entries(1);
    for (const char c : list) {
        if (c == separator) {
            entries.emplace_back();
        } else {
            entries.back() += c;
        }
    }
    return entries;
}

// Every candidate in the order the platform's program start tries them.
// Windows: the name, then each PATH entry (one pair of enclosing quotes removed, empty ones
// skipped) joined with it. exec: nothing for a name holding a '/'; otherwise each entry of
// PATH, or of "/bin:/usr/bin" when PATH is not set, joined with it, an empty entry giving the
// name alone.
Strings allCandidates(const std::string& exeName, const std::optional<std::string>& pathValue,
                      bool windows) {
    Strings candidates;
    if (windows) {
        candidates.push_back(exeName);
    } else if (exeName.find('/') != std::string::npos) {
        return candidates;
    }
    const std::string list = pathValue ? *pathValue : (windows ? "" : "/bin:/usr/bin");
    for (std::string entry : listEntries(list, windows ? ';' : ':')) {
        if (windows && entry.size() >= 2 && entry.front() == '"' && entry.back() == '"') {
            entry = entry.substr(1, entry.size() - 2);
        }
        if (!entry.empty()) {
            candidates.push_back(entry + (windows ? "\\" : "/") + exeName);
        } else if (!windows) {
            candidates.push_back(exeName);
        }
    }
    return candidates;
}

// The candidates up to the first that opens.
Strings expectedProbes(const Strings& candidates, const FakeFiles& files) {
    Strings probes;
    for (const std::string& candidate : candidates) {
        probes.push_back(candidate);
        if (files.opens(candidate)) {
            break;
        }
    }
    return probes;
}

// What holds for any result, whatever the search order.
void checkShape(const std::string& context, const std::string& found, const Strings& probed,
                const std::string& exeName, const PathStyle& style) {
    const std::string current = std::string(".") + style.dirSeparator;
    if (found.empty() || style.directoryEnds.find(found.back()) == std::string_view::npos) {
        fail(context + "result " + visible(found) + " does not end in a separator");
    }
    bool prefixOfProbe = exeName.compare(0, found.size(), found) == 0;
    for (const std::string& candidate : probed) {
        if (candidate.size() < exeName.size() ||
            candidate.compare(candidate.size() - exeName.size(), exeName.size(), exeName) != 0) {
            fail(context + "probe " + visible(candidate) + " does not end in " + visible(exeName));
        }
        prefixOfProbe = prefixOfProbe || candidate.compare(0, found.size(), found) == 0;
    }
    if (found != current && !prefixOfProbe) {
        fail(context + "result " + visible(found) + " is neither " + visible(current) +
             " nor the start of the name or a probed candidate " + visible(probed));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    const PathStyle& style = (flags & 1) != 0 ? kWindowsStyle : kPosixStyle;
    const FakeFiles files{data[1], (flags >> 2) & 3U};
    const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::size_t nul = rest.find('\0');
    const std::string_view name = rest.substr(0, nul);
    std::optional<std::string> pathValue;
    if ((flags & 2) != 0) {
        pathValue =
            nul == std::string_view::npos ? std::string() : std::string(rest.substr(nul + 1));
    }

    Strings probed;
    const FileProbe probe = [&](const std::string& candidate) {
        probed.push_back(candidate);
        return files.opens(candidate);
    };
    const std::string found = findToolDir(name, pathValue, probe, style);

    const std::string context = "name " + visible(name) + " PATH " +
                                (pathValue ? visible(*pathValue) : std::string("unset")) +
                                (&style == &kWindowsStyle ? " (Windows)" : " (POSIX)") + ": ";
    const std::string exeName = executableName(name, style);
    checkShape(context, found, probed, exeName, style);

    const bool windows = &style == &kWindowsStyle;
    const Strings expected = expectedProbes(allCandidates(exeName, pathValue, windows), files);
    if (probed != expected) {
        fail(context + "probed " + visible(probed) + ", expected " + visible(expected));
    }
    // The directory part of the last candidate probed, found or not; of the name itself when
    // nothing was probed.
    const std::string& last = expected.empty() ? exeName : expected.back();
    const std::size_t separator = last.find_last_of(windows ? "\\/" : "/");
    const std::string directory = separator == std::string::npos
                                      ? std::string(".") + style.dirSeparator
                                      : last.substr(0, separator + 1);
    if (found != directory) {
        fail(context + "result " + visible(found) + ", expected " + visible(directory));
    }
    return 0;
}

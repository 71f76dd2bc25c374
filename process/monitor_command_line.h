#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "process/platform.h"

// The monitor's command line: written by the launcher that starts a monitor from it
// (Windows), read by a monitor that was started from one.

// "<launcher> -monitor <launcher handle> <vm handle>", the launcher's name quoted when it is
// empty or holds a space or a tab, so that the monitor always sees three arguments.
// (The monitor is started from the launcher's own file; the name is only its argv[0].)
std::string monitorCommandLine(const std::string& launcherName, platform::ProcessHandle launcher,
                               platform::ProcessHandle vm);

// The handle in a text written by monitorCommandLine: optional leading blanks, an optional
// sign and decimal digits, nothing else, within the range of a 32-bit int.
std::optional<platform::ProcessHandle> parseHandleText(std::string_view text);

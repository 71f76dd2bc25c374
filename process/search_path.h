#pragma once

#include <string>
#include <string_view>

#include "common/lead_bytes.h"

// The entries of a Windows PATH value that a program search can use without ever looking
// in the current directory, joined with ';': each entry with one pair of double quotes
// around the whole of it removed, and kept only when it does not depend on the current
// directory, that is when it starts with a drive letter, a colon and a separator
// ("C:\jdk\bin", "C:/jdk/bin") or with a separator ("\\server\share\bin", "\bin"). Empty
// entries, which the system's search takes for the current directory, and relative ones
// (".", "bin", "C:bin") are left out.
std::string rootedPathEntries(std::string_view pathValue);

// The directory of a file as an entry of a search path: its path up to the last '\' (a
// character of the code page whose lead bytes are given), without that separator, but a
// drive's root keeps it ("R:\se_javac.exe" gives "R:\", which "R:" would not name: that is
// the drive's current directory).
std::string searchEntryOfFile(std::string_view file, const LeadBytes& leadBytes = LeadBytes());

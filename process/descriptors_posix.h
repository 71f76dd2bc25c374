#pragma once

namespace platform::posix {

// Closes every descriptor above the standard streams but `keep` and `alsoKeep` (-1: none):
// with close_range where the kernel has it (5.9), otherwise each one that /proc/self/fd
// lists, or, without /proc, each number up to the descriptor limit.
void closeDescriptorsBut(int keep, int alsoKeep);

} // namespace platform::posix

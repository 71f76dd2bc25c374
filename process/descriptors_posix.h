#pragma once

namespace platform::posix {

// Closes every descriptor above the standard streams but `keep` and `alsoKeep` (-1: none):
// with close_range where the kernel has it (5.9), otherwise one by one, up to the size of
// the process's descriptor table, which is bounded by the highest descriptor open (never
// up to a descriptor limit of millions).
void closeDescriptorsBut(int keep, int alsoKeep);

} // namespace platform::posix

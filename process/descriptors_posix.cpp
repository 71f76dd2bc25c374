#include "process/descriptors_posix.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <vector>

#ifndef SYS_close_range
#define SYS_close_range 436
#endif

namespace platform::posix {

namespace {

constexpr unsigned kFirst = 3;

bool closeRange(unsigned first, unsigned last) {
    return first > last || syscall(SYS_close_range, first, last, 0) == 0;
}

// Whether select() takes `fd` as lying beyond the descriptor table: it looks only at the
// descriptors below the table's size and fails with EBADF for one among them that is not
// open. The set is as long as the bit asks, beyond the C library's 1024-bit fd_set.
bool beyondTable(int fd) {
    constexpr int kBits = sizeof(unsigned long) * CHAR_BIT;
    std::vector<unsigned long> set(static_cast<std::size_t>(fd / kBits) + 1);
    set.back() = 1UL << static_cast<unsigned>(fd % kBits);
    timeval noWait{};
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): a longer fd_set
    return select(fd + 1, reinterpret_cast<fd_set*>(set.data()), nullptr, nullptr, &noWait) >= 0;
}

// A number above every open descriptor. The kernel's descriptor table only grows to hold the
// highest descriptor opened (in powers of two from 64), and a forked process gets a table
// sized for the descriptors it inherits; the first power of two that is not open and lies
// beyond the table bounds them. The descriptor limit where that cannot be told.
int descriptorsEnd() {
    rlimit limit{};
    const long last = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                          ? static_cast<long>(std::min<rlim_t>(limit.rlim_cur, INT_MAX))
                          : sysconf(_SC_OPEN_MAX);
    for (long probe = 64; probe < last; probe *= 2) {
        const int fd = static_cast<int>(probe);
        if (fcntl(fd, F_GETFD) < 0 && beyondTable(fd)) {
            return fd;
        }
    }
    return static_cast<int>(std::min<long>(last, INT_MAX));
}

} // namespace

void closeDescriptorsBut(int keep, int alsoKeep) {
    std::array<int, 2> kept = {keep, alsoKeep};
    std::sort(kept.begin(), kept.end());
    unsigned from = kFirst;
    bool closed = true;
    for (const int fd : kept) {
        if (fd >= static_cast<int>(from)) {
            closed = closed && closeRange(from, static_cast<unsigned>(fd) - 1);
            from = static_cast<unsigned>(fd) + 1;
        }
    }
    if (closed && closeRange(from, ~0U)) {
        return;
    }
    const int end = descriptorsEnd();
    for (int fd = kFirst; fd < end; ++fd) {
        if (fd != keep && fd != alsoKeep) {
            close(fd);
        }
    }
}

} // namespace platform::posix

#include "process/descriptors_posix.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#ifndef SYS_close_range
#define SYS_close_range 436
#endif

namespace platform::posix {

namespace {

constexpr unsigned kFirst = 3;

bool closeRange(unsigned first, unsigned last) {
    return first > last || syscall(SYS_close_range, first, last, 0) == 0;
}

// The descriptors /proc/self/fd lists, closed; false where /proc cannot be read.
bool closeListed(int keep, int alsoKeep) {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) {
        return false;
    }
    const int own = dirfd(directory);
    while (const dirent* entry = readdir(directory)) {
        const int fd = std::atoi(entry->d_name);
        if (fd >= static_cast<int>(kFirst) && fd != own && fd != keep && fd != alsoKeep) {
            close(fd);
        }
    }
    closedir(directory);
    return true;
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
    if (closeListed(keep, alsoKeep)) {
        return;
    }
    rlimit limit{};
    const long last = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                          ? static_cast<long>(limit.rlim_cur)
                          : sysconf(_SC_OPEN_MAX);
    for (long fd = kFirst; fd < last; ++fd) {
        if (fd != keep && fd != alsoKeep) {
            close(static_cast<int>(fd));
        }
    }
}

} // namespace platform::posix

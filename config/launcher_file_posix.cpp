#include "config/launcher_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

bool isStartableFile(const std::string& path) {
    struct stat info {};
    // AT_EACCESS: the effective ids decide, as they do for exec.
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

std::string finalPathOf(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return {};
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::string ownExecutableFile() {
    return finalPathOf("/proc/self/exe");
}

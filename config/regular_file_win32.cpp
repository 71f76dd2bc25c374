#include "config/regular_file.h"

#include <sys/stat.h>

std::FILE* openRegularFile(const std::string& path) {
    // Windows does not open a directory as a file; a named pipe or a device does open and
    // is refused here.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return nullptr;
    }
    struct _stat info {};
    if (_fstat(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

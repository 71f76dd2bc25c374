#include "config/launcher_file.h"

#include <windows.h>

#include "config/tool_dir.h"

bool isStartableFile(const std::string& path) {
    return isReadableRegularFile(path);
}

std::string finalPathOf(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string finalPath(MAX_PATH, '\0');
    DWORD length = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Too small a buffer gives the size needed, with the terminating NUL.
        length =
            GetFinalPathNameByHandleA(file, finalPath.data(), static_cast<DWORD>(finalPath.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length < finalPath.size()) {
            break;
        }
        finalPath.resize(length);
    }
    CloseHandle(file);
    if (length == 0 || length >= finalPath.size()) {
        return {};
    }
    finalPath.resize(length);
    return withoutFinalPathPrefix(finalPath);
}

std::string ownExecutableFile() {
    return {};
}

/* Records how the launcher starts the VM, so that the direct start can use the very same
   words. Linux: argv, each word followed by a NUL byte, into "argv.bin" beside this program.
   Windows: the raw command line into "cmdline.txt" beside it. */
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>

int main(void) {
    char path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    char* slash = strrchr(path, '\\');
    strcpy(slash != NULL ? slash + 1 : path, "cmdline.txt");
    FILE* file = fopen(path, "wb");
    if (file == NULL) {
        return 1;
    }
    const char* line = GetCommandLineA();
    fwrite(line, 1, strlen(line), file);
    return fclose(file) == 0 ? 0 : 1;
}
#else
#include <unistd.h>

int main(int argc, char** argv) {
    char path[4096 + 16];
    ssize_t length = readlink("/proc/self/exe", path, 4096);
    if (length <= 0) {
        return 1;
    }
    path[length] = '\0';
    char* slash = strrchr(path, '/');
    strcpy(slash != NULL ? slash + 1 : path, "argv.bin");
    FILE* file = fopen(path, "wb");
    if (file == NULL) {
        return 1;
    }
    for (int i = 0; i < argc; ++i) {
        fwrite(argv[i], 1, strlen(argv[i]) + 1, file);
    }
    return fclose(file) == 0 ? 0 : 1;
}
#endif

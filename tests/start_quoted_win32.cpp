// Starts a program the way a build tool on Windows does: with an argument vector, each
// argument quoted by the usual rules that the C runtime's parser reads back (only where
// needed: empty, or holding a blank or a double quote), through CreateProcessA, which runs a
// .cmd or .bat file through cmd.exe. Used by tools/argument-fidelity.
//
//   start_quoted FILE
//
// FILE holds the program and its arguments, each ended by a NUL byte. Prints the command line
// it passed on one line, waits for the program and exits with its exit code (127 when it
// could not be started).
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string quoteIfNeeded(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped with one more.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        quoted += c;
        backslashes = 0;
    }
    // Before the closing quote, too.
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: start_quoted FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), {}};
    std::string line;
    std::size_t start = 0;
    for (std::size_t end = content.find('\0'); end != std::string::npos;
         start = end + 1, end = content.find('\0', start)) {
        line += (start == 0 ? "" : " ") + quoteIfNeeded(content.substr(start, end - start));
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);

    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "start_quoted: cannot start: error %lu\n", GetLastError());
        return 127;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}

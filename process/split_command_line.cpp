#include "process/split_command_line.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::size_t skipBlanks(std::string_view line, std::size_t position) {
    while (position < line.size() && isBlank(line[position])) {
        ++position;
    }
    return position;
}

std::size_t readProgramName(std::string_view line, std::string& name) {
    std::size_t position = 0;
    bool inQuotes = false;
    while (position < line.size() && (inQuotes || !isBlank(line[position]))) {
        if (line[position] == '"') {
            inQuotes = !inQuotes;
        } else {
            name += line[position];
        }
        ++position;
    }
    return position;
}

std::size_t readArgument(std::string_view line, std::size_t position, std::string& argument) {
    bool inQuotes = false;
    while (position < line.size()) {
        std::size_t backslashes = 0;
        while (position < line.size() && line[position] == '\\') {
            ++backslashes;
            ++position;
        }
        if (position < line.size() && line[position] == '"') {
            argument.append(backslashes / 2, '\\');
            if (backslashes % 2 == 1) {
                argument += '"';
            } else if (inQuotes && position + 1 < line.size() && line[position + 1] == '"') {
                // A doubled quote inside a quoted part stands for one quote.
                argument += '"';
                ++position;
            } else {
                inQuotes = !inQuotes;
            }
            ++position;
            continue;
        }
        argument.append(backslashes, '\\');
        if (position == line.size() || (!inQuotes && isBlank(line[position]))) {
            break;
        }
        argument += line[position];
        ++position;
    }
    return position;
}

} // namespace

std::vector<std::string> splitCommandLine(std::string_view commandLine) {
    std::vector<std::string> arguments(1);
    std::size_t position = readProgramName(commandLine, arguments.front());
    position = skipBlanks(commandLine, position);
    while (position < commandLine.size()) {
        arguments.emplace_back();
        position = readArgument(commandLine, position, arguments.back());
        position = skipBlanks(commandLine, position);
    }
    return arguments;
}

#include "process/split_command_line.h"

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::size_t skipBlanks(std::string_view line, std::size_t position) {
    while (position < line.size() && isBlank(line[position])) {
        ++position;
    }
    return position;
}

// A program name in quotes runs to the next quote; otherwise to the first blank, and any
// quotes in it are part of the name.
std::size_t readProgramName(std::string_view line, std::string& name) {
    if (!line.empty() && line.front() == '"') {
        const std::size_t closing = line.find('"', 1);
        if (closing == std::string_view::npos) {
            name.assign(line.substr(1));
            return line.size();
        }
        name.assign(line.substr(1, closing - 1));
        return closing + 1;
    }
    std::size_t position = 0;
    while (position < line.size() && !isBlank(line[position])) {
        ++position;
    }
    name.assign(line.substr(0, position));
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
                // A doubled quote inside a quoted part stands for one quote and ends the
                // quoted part.
                argument += '"';
                inQuotes = false;
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

std::string programNameOf(std::string_view commandLine) {
    std::string name;
    readProgramName(commandLine, name);
    return name;
}

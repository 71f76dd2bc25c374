#include "config/tool_config.h"

#include <new>

#include "common/fatal_error.h"
#include "config/line_reader.h"
#include "config/regular_file.h"

namespace {

// A line that does not fit in memory, as a file of one huge line may hold.
constexpr const char* kLineTooLong = "config file: line too long";

std::string_view trimSpaces(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string atLine(unsigned long lineNumber) {
    return " at line: " + std::to_string(lineNumber);
}

// The first line without a UTF-8 byte-order mark, which editors put at the start of a file.
// A UTF-16 file cannot be read as bytes at all and is refused with a hint.
std::string_view withoutByteOrderMark(std::string_view firstLine) {
    if (startsWith(firstLine, "\xFF\xFE") || startsWith(firstLine, "\xFE\xFF")) {
        fatalError("config file: UTF-16 is not supported, save the file as ANSI or UTF-8" +
                   atLine(1));
    }
    if (startsWith(firstLine, "\xEF\xBB\xBF")) {
        firstLine.remove_prefix(3);
    }
    return firstLine;
}

} // namespace

void ToolConfig::parse(std::FILE* stream) {
    LineReader reader(stream);
    unsigned long lineNumber = 1;
    std::string_view line;
    while (reader.next(line)) {
        try {
            handleLine(lineNumber == 1 ? withoutByteOrderMark(line) : line, lineNumber);
        } catch (const std::bad_alloc&) { // the value read fits in memory once, not twice
            fatalError(kLineTooLong + atLine(lineNumber));
        }
        ++lineNumber;
    }
    if (reader.tooLong()) {
        fatalError(kLineTooLong + atLine(lineNumber));
    }
    if (reader.failed()) {
        fatalError("config file: read error" + atLine(lineNumber));
    }
    if (javaExecutable_.empty()) {
        javaExecutable_ = "java";
    }
}

void ToolConfig::load(const std::string& directory) {
    const std::string path = pathIn(directory, style_);
    std::FILE* file = openRegularFile(path);
    if (file == nullptr) {
        fatalError("cannot find config file: " + path);
    }
    parse(file);
    std::fclose(file);
}

void ToolConfig::handleLine(std::string_view line, unsigned long lineNumber) {
    // A NUL byte (UTF-16 without a mark, a binary file) would cut the VM's command line short.
    if (line.find('\0') != std::string_view::npos) {
        fatalError("config file: illegal format of assignment" + atLine(lineNumber));
    }
    const std::string_view trimmed = trimSpaces(line);
    if (trimmed.empty() || trimmed.front() == '#') {
        return;
    }
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) {
        fatalError("config file: illegal format of assignment" + atLine(lineNumber));
    }
    assign(trimSpaces(trimmed.substr(0, equals)), trimSpaces(trimmed.substr(equals + 1)),
           lineNumber);
}

void ToolConfig::assign(std::string_view name, std::string_view value, unsigned long lineNumber) {
    if (name == "JDK_HOME") {
        jdkHome_ = value;
        javaExecutable_ = jdkHome_;
        javaExecutable_ += style_.dirSeparator;
        javaExecutable_ += "bin";
        javaExecutable_ += style_.dirSeparator;
        javaExecutable_ += "java";
    } else if (name == "CLASSPATH") {
        classPath_ = value;
    } else if (name == "VORNEX_PATH") {
        vornexPath_ = value;
    } else if (name == "VERSION") {
        version_ = value;
    } else if (name == "BUILD") {
        build_ = value;
    } else {
        fatalError("config file: unknown name of variable: " + std::string(name) +
                   atLine(lineNumber));
    }
    // Whatever follows such a value on the VM's command line, a quote or a separator, would be
    // read as the second byte of its last character.
    if (leadBytes_.endsInLoneLeadByte(value)) {
        fatalError("config file: value ends in the first byte of a double-byte character: " +
                   std::string(name) + atLine(lineNumber));
    }
}

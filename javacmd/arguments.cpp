#include "javacmd/arguments.h"

#include <string_view>

#include "common/fatal_error.h"

namespace {

bool isVmOption(std::string_view argument) {
    return argument.substr(0, 2) == "-J";
}
bool isOption(std::string_view argument) {
    return !argument.empty() && argument[0] == '-';
}

void addProperty(ArgumentList& list, std::string_view name, const std::string& value,
                 const LeadBytes& leadBytes) {
    if (!value.empty()) {
        list.push_back("-Dtovik_" + std::string(name) + '=' + quoteArgument(value, leadBytes));
    }
}

std::string classPathOf(const ToolConfig& config, const PathStyle& style) {
    std::string classPath = config.classPath();
    const std::string jdkHome = config.jdkHome();
    if (!jdkHome.empty()) {
        if (!classPath.empty()) {
            classPath += style.listSeparator;
        }
        classPath += jdkHome;
        classPath += style.dirSeparator;
        classPath += "lib";
        classPath += style.dirSeparator;
        classPath += "tools.jar";
    }
    return classPath;
}

// A runner takes VM options only from the leading options; a compiler takes them anywhere.
void addVmOptions(ArgumentList& list, int argc, const char* const* argv, bool isRunner,
                  const LeadBytes& leadBytes) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (isRunner && !isOption(argument)) {
            break;
        }
        // Unquoted, so that a blank divides the value; a double quote must not open a quoted
        // part that would swallow the entry class and the tool's arguments.
        if (isVmOption(argument) && argument.size() > 2) {
            list.push_back(escapeQuotesOnly(argument.substr(2), leadBytes));
        }
    }
}

void addToolArguments(ArgumentList& list, int argc, const char* const* argv, bool isRunner,
                      const LeadBytes& leadBytes, const WildcardMarks& marks) {
    bool pastOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (isRunner && !pastOptions && !isOption(argument)) {
            pastOptions = true;
        }
        if (!pastOptions && isVmOption(argument)) {
            continue;
        }
        list.push_back(marks.marked(i) ? quoteKeepingWildcards(argument, leadBytes)
                                       : quoteArgument(argument, leadBytes));
    }
}

} // namespace

ArgumentList getArguments(int argc, const char* const* argv, const std::string& toolName,
                          const ToolConfig& config, const PathStyle& style,
                          const LeadBytes& leadBytes, const WildcardMarks& marks) {
    const bool isRunner = toolName == "se_java";
    if (!isRunner && toolName != "se_javac") {
        fatalError("getArguments: unknown tool:" + toolName);
    }
    ArgumentList list;
    // The VM's own name is read by the platform's first-token rule, which knows no escapes.
    list.push_back('"' + config.javaExecutable() + '"');
    addProperty(list, "version", config.version(), leadBytes);
    addProperty(list, "build", config.build(), leadBytes);
    addProperty(list, "vornex", config.vornexPath(), leadBytes);
    const std::string classPath = classPathOf(config, style);
    if (!classPath.empty()) {
        list.emplace_back("-classpath");
        list.push_back(quoteArgument(classPath, leadBytes));
    }
    addVmOptions(list, argc, argv, isRunner, leadBytes);
    list.emplace_back(kEntryClass);
    list.push_back(toolName);
    addToolArguments(list, argc, argv, isRunner, leadBytes, marks);
    return list;
}

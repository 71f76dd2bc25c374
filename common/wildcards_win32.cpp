#include <windows.h>

#include "common/wildcards.h"

WildcardMarks typedWildcardMarks(int argc, const char* const* argv, const LeadBytes& leadBytes) {
    const char* const commandLine = GetCommandLineA();
    return commandLine == nullptr ? WildcardMarks()
                                  : WildcardMarks::of(commandLine, argc, argv, leadBytes);
}

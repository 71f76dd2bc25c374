#include <cstring>
#include <string>

#include "common/lead_bytes.h"
#include "common/wildcards.h"
#include "config/tool_config.h"
#include "config/tool_dir.h"
#include "javacmd/arguments.h"
#include "process/supervise.h"

// The build makes one executable per tool identity from this file: se_javac, the compiler,
// and se_java, the runner.
#ifndef SE_TOOL_NAME
#error "SE_TOOL_NAME must name the tool identity of this executable"
#endif

namespace {
constexpr const char* kToolName = SE_TOOL_NAME;
} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "-monitor") == 0) {
        runMonitor(argv[2], argv[3]);
        return 0;
    }
    const std::string launcherName = argc > 0 ? argv[0] : "";
    const LeadBytes& leadBytes = ansiLeadBytes();
    ToolConfig config(kHostStyle, leadBytes);
    config.load(findToolDir(launcherName, leadBytes));
    return runSupervised(getArguments(argc, argv, kToolName, config, kHostStyle, leadBytes,
                                      typedWildcardMarks(argc, argv, leadBytes)),
                         launcherName);
}

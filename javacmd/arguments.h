#pragma once

#include <string>

#include "common/lead_bytes.h"
#include "common/wildcards.h"
#include "config/path_style.h"
#include "config/tool_config.h"
#include "javacmd/quoting.h"

// The entry class of the Java tool that every VM command line runs.
inline constexpr const char* kEntryClass = "fenmoor.zandrel.se.java.toJava.Main";

// The elements of the Java VM's command line for the tool `toolName` ("se_java" or
// "se_javac"): the VM, the system properties, the class path, the user's -J options, the
// entry class, the tool identity and the user's other arguments. Any other identity ends
// through fatalError. argv[0] is not looked at. Arguments and configuration values are
// quoted by characters of the code page whose lead bytes are given. A tool argument that
// `marks` marks keeps its wildcards outside quotes, for the VM's launcher to expand.
ArgumentList getArguments(int argc, const char* const* argv, const std::string& toolName,
                          const ToolConfig& config, const PathStyle& style = kHostStyle,
                          const LeadBytes& leadBytes = LeadBytes(),
                          const WildcardMarks& marks = WildcardMarks());

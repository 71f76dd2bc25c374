#pragma once

#include <string>

// Platform parts of the stand-in VM.
std::string rawCommandLine(int argc, char** argv);
long currentProcessId();
void ignoreInterrupt();

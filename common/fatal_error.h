#pragma once

#include <string>

// Writes the message to standard error exactly as given (no line feed is added), flushes it
// and ends the process with exit code 1 through the normal exit, so buffered standard output
// is flushed as well.
[[noreturn]] void fatalError(const std::string& message);

// Test seam: while a handler is set, fatalError hands the message to it first. A handler that
// must keep the process alive leaves by throwing; one that returns still ends the process.
using FatalErrorHandler = void (*)(const std::string& message);
FatalErrorHandler setFatalErrorHandler(FatalErrorHandler handler);

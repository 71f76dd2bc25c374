#include "common/fatal_error.h"

#include <cstdio>
#include <cstdlib>

namespace {
FatalErrorHandler currentHandler = nullptr;
}

FatalErrorHandler setFatalErrorHandler(FatalErrorHandler handler) {
    FatalErrorHandler previous = currentHandler;
    currentHandler = handler;
    return previous;
}

void fatalError(const std::string& message) {
    if (currentHandler != nullptr) {
        currentHandler(message);
    }
    // fwrite rather than fputs: a message may carry NUL bytes taken from the input.
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fflush(stderr);
    std::exit(1);
}

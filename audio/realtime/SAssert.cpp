#include "audio/realtime/SAssert.h"

#include <cstdio>
#include <cstdlib>

void SAssertionFailed(const char* source, int line, const char* text) {
    std::fprintf(stderr, "*** Assertion failure in %s:%d: %s\n", source, line, text);
    std::fflush(stderr);
    std::abort();
}

#pragma once

// Assertions of the real-time records. A failed one is a programming error:
// it prints its text with the source name and line, then aborts the process.
[[noreturn]] void SAssertionFailed(const char* source, int line, const char* text);

#define SAssert(condition, source, text)                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            SAssertionFailed(source, __LINE__, text);                                              \
        }                                                                                          \
    } while (0)

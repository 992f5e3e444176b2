#include "BenchReport.h"

#include <cstdarg>
#include <cstdio>

void BenchReport::figure(const std::string& measured, const std::string& goal, bool met) {
    if (!met) {
        ++mMisses;
    }
    std::printf("  %s\n      goal %s: %s\n", measured.c_str(), goal.c_str(), met ? "ok" : "MISSED");
    std::fflush(stdout);
}

void BenchReport::failed(const std::string& what, const std::string& why) {
    ++mMisses;
    std::printf("  %s: not measured (%s): MISSED\n", what.c_str(), why.c_str());
    std::fflush(stdout);
}

void BenchReport::heading(const std::string& text) const {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

std::string formatted(const char* pattern, ...) {
    va_list arguments;
    va_start(arguments, pattern);
    char buffer[1024];
    std::vsnprintf(buffer, sizeof(buffer), pattern, arguments);
    va_end(arguments);
    return buffer;
}

#pragma once

#include <string>

// Prints benchmark figures, each with what it measured, its goal and
// whether it met it ("ok" or "MISSED"), and remembers any miss.
class BenchReport {
public:
    // `measured` says what was measured and the numbers; `goal` the goal in
    // words; `met` whether the figure meets it.
    void figure(const std::string& measured, const std::string& goal, bool met);
    // A figure that could not be measured counts as missed.
    void failed(const std::string& what, const std::string& why);
    void heading(const std::string& text) const;

    bool allMet() const { return mMisses == 0; }
    int misses() const { return mMisses; }

private:
    int mMisses = 0;
};

// printf into a std::string.
std::string formatted(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

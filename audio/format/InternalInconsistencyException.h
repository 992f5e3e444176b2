#pragma once

#include <stdexcept>
#include <string>

// A broken internal invariant that abandons the current operation and reaches
// the caller. `what()` is the description; the source unit and line say where
// the invariant was checked.
class InternalInconsistencyException : public std::logic_error {
public:
    InternalInconsistencyException(const std::string& description, std::string sourceUnit, int line)
        : std::logic_error(description), mSourceUnit(std::move(sourceUnit)), mLine(line) {}

    std::string description() const { return what(); }
    const std::string& sourceUnit() const { return mSourceUnit; }
    int line() const { return mLine; }

private:
    std::string mSourceUnit;
    int mLine;
};

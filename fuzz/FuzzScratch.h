#pragma once

#include <string>
#include <sys/stat.h>

// A folder for the fuzz cases' files that lives in memory when it can
// (/dev/shm), so that a case costs no disk: every file a case makes is in
// RAM, and the code under test runs on real descriptors.
class FuzzScratch {
public:
    FuzzScratch();
    ~FuzzScratch();
    FuzzScratch(const FuzzScratch&) = delete;
    FuzzScratch& operator=(const FuzzScratch&) = delete;

    const std::string& folder() const { return mFolder; }
    std::string path(const std::string& name) const { return mFolder + "/" + name; }
    // Writes `bytes` as the whole of `name`; false when it cannot.
    bool put(const std::string& name, const void* bytes, size_t size) const;
    // The whole of `name`; empty when it is missing.
    std::string get(const std::string& name) const;
    // The file's identity, size and times, to tell later whether anything
    // touched it; false when it is missing.
    bool stamp(const std::string& name, struct stat* into) const;
    // Whether anything wrote to, renamed, replaced or removed `name` since
    // `before` was taken.
    bool changedSince(const std::string& name, const struct stat& before) const;
    // Removes everything in the folder.
    void clear() const;

private:
    std::string mFolder;
};

#pragma once

#include <string>

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
    // Removes everything in the folder.
    void clear() const;

private:
    std::string mFolder;
};

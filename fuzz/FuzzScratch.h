#pragma once

#include <dirent.h>
#include <string>
#include <sys/stat.h>

// A folder for the fuzz cases' files that lives in memory when it can
// (/dev/shm), so that a case costs no disk: every file a case makes is in
// RAM, and the code under test runs on real descriptors. The folder is kept
// open and its files are reached through it, so that a case builds no paths.
class FuzzScratch {
public:
    FuzzScratch();
    ~FuzzScratch();
    FuzzScratch(const FuzzScratch&) = delete;
    FuzzScratch& operator=(const FuzzScratch&) = delete;

    std::string path(const char* name) const { return mFolder + "/" + name; }
    // Writes `bytes` as the whole of `name`; false when it cannot.
    bool put(const char* name, const void* bytes, size_t size) const;
    // The whole of `name`; empty when it is missing.
    std::string get(const char* name) const;
    // The file's identity, size and times, to tell later whether anything
    // touched it; false when it is missing.
    bool stamp(const char* name, struct stat* into) const;
    // Whether anything wrote to, renamed, replaced or removed `name` since
    // `before` was taken.
    bool changedSince(const char* name, const struct stat& before) const;
    void remove(const char* name) const;
    // Calls `visit` with the name of every file in the folder.
    template <typename Visit>
    void forEachName(Visit&& visit) const;
    // Removes everything in the folder.
    void clear() const;

private:
    // The folder's entries read afresh, one at a time; nullptr at the end.
    const char* firstName() const;
    const char* nextName() const;

    std::string mFolder;
    int mFolderFd = -1;
    DIR* mEntries = nullptr;
};

template <typename Visit>
void FuzzScratch::forEachName(Visit&& visit) const {
    for (const char* name = firstName(); name; name = nextName()) {
        visit(name);
    }
}

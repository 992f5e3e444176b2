#include "FuzzScratch.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

FuzzScratch::FuzzScratch() {
    const char* const bases[] = {"/dev/shm", std::getenv("TMPDIR"), "/tmp"};
    for (const char* base : bases) {
        if (!base) {
            continue;
        }
        std::string pattern = std::string(base) + "/cassora-fuzz-XXXXXX";
        if (mkdtemp(pattern.data())) {
            mFolder = pattern;
            mFolderFd = ::open(mFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            mEntries = mFolderFd >= 0 ? fdopendir(::dup(mFolderFd)) : nullptr;
            return;
        }
    }
}

FuzzScratch::~FuzzScratch() {
    clear();
    if (mEntries) {
        closedir(mEntries);
    }
    if (mFolderFd >= 0) {
        ::close(mFolderFd);
    }
    rmdir(mFolder.c_str());
}

bool FuzzScratch::put(const char* name, const void* bytes, size_t size) const {
    const int fd = ::openat(mFolderFd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = size == 0 || ::write(fd, bytes, size) == static_cast<ssize_t>(size);
    ::close(fd);
    return written;
}

std::string FuzzScratch::get(const char* name) const {
    std::string bytes;
    const int fd = ::openat(mFolderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return bytes;
    }
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        bytes.resize(static_cast<size_t>(status.st_size));
        const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), 0);
        bytes.resize(static_cast<size_t>(got > 0 ? got : 0));
    }
    ::close(fd);
    return bytes;
}

bool FuzzScratch::stamp(const char* name, struct stat* into) const {
    return ::fstatat(mFolderFd, name, into, 0) == 0;
}

bool FuzzScratch::changedSince(const char* name, const struct stat& before) const {
    struct stat now {};
    return !stamp(name, &now) || now.st_ino != before.st_ino || now.st_size != before.st_size ||
           now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
           now.st_mtim.tv_nsec != before.st_mtim.tv_nsec ||
           now.st_ctim.tv_sec != before.st_ctim.tv_sec ||
           now.st_ctim.tv_nsec != before.st_ctim.tv_nsec;
}

void FuzzScratch::remove(const char* name) const {
    ::unlinkat(mFolderFd, name, 0);
}

const char* FuzzScratch::firstName() const {
    if (!mEntries) {
        return nullptr;
    }
    rewinddir(mEntries); // reads the folder afresh, as opening it again would
    return nextName();
}

const char* FuzzScratch::nextName() const {
    while (const dirent* entry = readdir(mEntries)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            return entry->d_name;
        }
    }
    return nullptr;
}

void FuzzScratch::clear() const {
    // Names first, then removals: removing while reading may skip entries.
    std::vector<std::string> names;
    forEachName([&](const char* name) { names.emplace_back(name); });
    for (const std::string& name : names) {
        remove(name.c_str());
    }
}

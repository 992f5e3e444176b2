#include "FuzzScratch.h"

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FuzzScratch::FuzzScratch() {
    const char* const bases[] = {"/dev/shm", std::getenv("TMPDIR"), "/tmp"};
    for (const char* base : bases) {
        if (!base) {
            continue;
        }
        std::string pattern = std::string(base) + "/cassora-fuzz-XXXXXX";
        if (mkdtemp(pattern.data())) {
            mFolder = pattern;
            return;
        }
    }
}

FuzzScratch::~FuzzScratch() {
    clear();
    rmdir(mFolder.c_str());
}

bool FuzzScratch::put(const std::string& name, const void* bytes, size_t size) const {
    const int fd = ::open(path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = size == 0 || ::write(fd, bytes, size) == static_cast<ssize_t>(size);
    ::close(fd);
    return written;
}

std::string FuzzScratch::get(const std::string& name) const {
    std::string bytes;
    const int fd = ::open(path(name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
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

void FuzzScratch::clear() const {
    DIR* directory = opendir(mFolder.c_str());
    if (!directory) {
        return;
    }
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            unlink(path(name).c_str());
        }
    }
    closedir(directory);
}

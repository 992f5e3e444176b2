#pragma once

#include <cstddef>
#include <cstdint>

// pread and pwrite of all `size` bytes at `offset`, going on after short
// transfers and interruptions. 0, or an errno value (EIO for a read that met
// the end of the file).
int preadAll(int fd, void* data, size_t size, uint64_t offset);
int pwriteAll(int fd, const void* data, size_t size, uint64_t offset);

// An open descriptor that is closed when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : mFd(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int fd() const { return mFd; }
    // Hands the descriptor over; this object no longer closes it.
    int release();

private:
    int mFd;
};

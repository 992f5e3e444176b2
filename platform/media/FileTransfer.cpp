#include "platform/media/FileTransfer.h"

#include <cerrno>
#include <unistd.h>

int preadAll(int fd, void* data, size_t size, uint64_t offset) {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t got = pread(fd, bytes, size, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (got == 0) {
            return EIO;
        }
        bytes += got;
        size -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return 0;
}

int pwriteAll(int fd, const void* data, size_t size, uint64_t offset) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (written == 0) {
            return EIO;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
        offset += static_cast<uint64_t>(written);
    }
    return 0;
}

FileDescriptor::~FileDescriptor() {
    if (mFd >= 0) {
        ::close(mFd);
    }
}

int FileDescriptor::release() {
    const int fd = mFd;
    mFd = -1;
    return fd;
}

#include "platform/media/RecordingOutput.h"

#include "platform/media/FileTransfer.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kBufferSize = 64 * 1024;

// The largest file this process may write, from RLIMIT_FSIZE.
uint64_t fileSizeLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return UINT64_MAX;
    }
    return limit.rlim_cur;
}

// Whether `status` describes the file open on `fd`.
bool isFileOf(int fd, const struct stat& status) {
    struct stat open {};
    return fstat(fd, &open) == 0 && open.st_dev == status.st_dev && open.st_ino == status.st_ino;
}

// The /proc link through which an open file can be reached (and linked).
std::string descriptorLink(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace

bool isPlainFile(const struct stat& status) {
    return S_ISREG(status.st_mode) && status.st_nlink == 1;
}

bool isPlainFile(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 && isPlainFile(status);
}

std::string pathOfDescriptor(int fd) {
    char target[PATH_MAX + 1];
    const ssize_t length = readlink(descriptorLink(fd).c_str(), target, PATH_MAX);
    if (length <= 0 || target[0] != '/') {
        return {};
    }
    std::string path(target, static_cast<size_t>(length));
    // A file whose name is gone reads as "PATH (deleted)".
    constexpr char kDeleted[] = " (deleted)";
    if (path.ends_with(kDeleted)) {
        return {};
    }
    return path;
}

RecordingOutput::~RecordingOutput() {
    close();
}

int RecordingOutput::open(const std::string& path, bool erase) {
    close();
    if (!erase) {
        const int unnamed = openUnnamed(path);
        if (unnamed != 0 && unnamed != EOPNOTSUPP) {
            close();
            return mError = unnamed;
        }
    }
    if (mFd < 0) {
        // Not O_TRUNC: a file that another recorder holds must stay as it is.
        // (Opened for reading and writing, a FIFO never makes the open wait.)
        mFd = ::open(path.c_str(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (erase ? 0 : O_EXCL), 0644);
        if (mFd < 0) {
            return mError = errno;
        }
        if (!isPlainFile(mFd)) {
            close();
            return mError = EINVAL;
        }
    }
    if (flock(mFd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        close();
        return mError = error;
    }
    if (ftruncate(mFd, 0) != 0) {
        const int error = errno;
        close();
        return mError = error;
    }
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    mContext = buffer ? avio_alloc_context(buffer, kBufferSize, 1, this, nullptr,
                                           &RecordingOutput::writePacket, &RecordingOutput::seek)
                      : nullptr;
    if (!mContext) {
        av_free(buffer);
        close();
        return mError = ENOMEM;
    }
    mContext->seekable = AVIO_SEEKABLE_NORMAL;
    return 0;
}

// A file without a name in the folder of `path`, named by giveName() once
// it holds something. EOPNOTSUPP when this file system (or a missing /proc)
// cannot do that, and the file is to be created by name.
int RecordingOutput::openUnnamed(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return EOPNOTSUPP; // the open by name says what is wrong
    }
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    mFolderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (mFolderFd < 0) {
        return errno;
    }
    struct stat existing {};
    if (fstatat(mFolderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        return EEXIST;
    }
    const int fd = ::openat(mFolderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        ::close(mFolderFd);
        mFolderFd = -1;
        return error == EOPNOTSUPP || error == EISDIR || error == EINVAL ? EOPNOTSUPP : error;
    }
    struct stat linked {};
    if (stat(descriptorLink(fd).c_str(), &linked) != 0) {
        ::close(fd);
        ::close(mFolderFd);
        mFolderFd = -1;
        return EOPNOTSUPP; // no way to name it later
    }
    mFd = fd;
    mName = name;
    mNamed = false;
    return 0;
}

// Links a file made without a name into its folder, never over anything
// there; the failure is kept as the output's error.
int RecordingOutput::giveName() {
    if (mNamed) {
        return 0;
    }
    if (linkat(AT_FDCWD, descriptorLink(mFd).c_str(), mFolderFd, mName.c_str(),
               AT_SYMLINK_FOLLOW) != 0) {
        return mError = errno;
    }
    mNamed = true;
    fsync(mFolderFd);
    // The way to the file under its name, wherever it is moved from now on.
    mNamedFd = ::openat(mFolderFd, mName.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat named {};
    if (mNamedFd >= 0 && (fstat(mNamedFd, &named) != 0 || !isFileOf(mFd, named))) {
        ::close(mNamedFd);
        mNamedFd = -1;
    }
    return 0;
}

int RecordingOutput::name() {
    if (mFd < 0) {
        return EBADF;
    }
    if (mContext) {
        avio_flush(mContext);
    }
    return mError ? mError : giveName();
}

void RecordingOutput::close() {
    if (mContext) {
        av_freep(&mContext->buffer);
        avio_context_free(&mContext);
    }
    if (mFd >= 0) {
        ::close(mFd); // releases the lock
        mFd = -1;
    }
    if (mFolderFd >= 0) {
        ::close(mFolderFd);
        mFolderFd = -1;
    }
    if (mNamedFd >= 0) {
        ::close(mNamedFd);
        mNamedFd = -1;
    }
    mNamed = true;
    mName.clear();
}

void RecordingOutput::discard() {
    if (mFd >= 0 && mNamed) {
        const std::string path = currentPath();
        struct stat named {};
        if (!path.empty() && lstat(path.c_str(), &named) == 0 && isFileOf(mFd, named)) {
            ::unlink(path.c_str());
        }
    }
    close(); // an unnamed file goes with its descriptor
}

// A file that was named after it was made has no path of its own to read
// (its descriptor still shows it nameless): it is found through the
// descriptor of its name, or else through its folder.
std::string RecordingOutput::currentPath() const {
    if (mFd < 0) {
        return {};
    }
    if (mFolderFd < 0) {
        return pathOfDescriptor(mFd);
    }
    if (mNamedFd >= 0) {
        return pathOfDescriptor(mNamedFd);
    }
    const std::string folder = pathOfDescriptor(mFolderFd);
    if (folder.empty()) {
        return folder;
    }
    const std::string path = folder + (folder == "/" ? "" : "/") + mName;
    struct stat named {};
    const bool stillOurs = lstat(path.c_str(), &named) == 0 && isFileOf(mFd, named);
    return !mNamed || stillOurs ? path : std::string();
}

int RecordingOutput::writePacket(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<RecordingOutput*>(opaque);
    const int error = self->write(data, static_cast<size_t>(size));
    return error ? AVERROR(error) : size;
}

int RecordingOutput::write(const uint8_t* data, size_t size) {
    if (mError) {
        return mError;
    }
    if (mPosition + size > fileSizeLimit()) {
        return mError = EFBIG;
    }
    if (const int error = pwriteAll(mFd, data, size, mPosition)) {
        return mError = error;
    }
    if (const int error = giveName()) {
        return error;
    }
    mPosition += size;
    mEnd = std::max(mEnd, mPosition);
    return 0;
}

int64_t RecordingOutput::seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<RecordingOutput*>(opaque);
    const int64_t target = outputSeekTarget(offset, whence, self->mPosition, self->mEnd);
    if (target >= 0 && whence != AVSEEK_SIZE) {
        self->mPosition = static_cast<uint64_t>(target);
    }
    return target;
}

int RecordingOutput::sync() {
    if (!mContext || mFd < 0) {
        return EBADF;
    }
    avio_flush(mContext);
    if (mError) {
        return mError;
    }
    if (fdatasync(mFd) != 0) {
        return mError = errno;
    }
    return 0;
}

int RecordingOutput::reserve(uint64_t bytes, uint64_t ahead) {
    if (mFd < 0) {
        return EBADF;
    }
    if (mError) {
        return mError;
    }
    const uint64_t limit = fileSizeLimit();
    const uint64_t wanted = mEnd + bytes;
    if (wanted > limit) {
        return EFBIG;
    }
    if (wanted <= mReservedEnd) {
        return 0;
    }
    // The larger step first; near a full disk, what is needed is enough.
    const uint64_t generous = std::min(wanted + ahead, limit);
    int error = generous > wanted ? allocateUpTo(generous) : ENOSPC;
    if (error == ENOSPC || error == EDQUOT) {
        error = allocateUpTo(wanted);
    }
    return error;
}

// Past the end, without growing the file: a crash leaves no padding.
int RecordingOutput::allocateUpTo(uint64_t end) {
    const uint64_t from = std::max(mEnd, mReservedEnd);
    if (end <= from) {
        mReservedEnd = std::max(mReservedEnd, end);
        return 0;
    }
    if (fallocate(mFd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                  static_cast<off_t>(end - from)) != 0) {
        const int error = errno;
        if (error == EOPNOTSUPP || error == ENOSYS) {
            mReservedEnd = end; // this file system cannot reserve; write and see
            return 0;
        }
        return error;
    }
    mReservedEnd = end;
    return 0;
}

int RecordingOutput::finish() {
    if (mFd < 0) {
        return EBADF;
    }
    if (mContext) {
        avio_flush(mContext);
    }
    int error = mError;
    if (!error) {
        error = giveName();
    }
    if (!error && ftruncate(mFd, static_cast<off_t>(mEnd)) != 0) {
        error = errno;
    }
    if (!error && fsync(mFd) != 0) {
        error = errno;
    }
    close();
    return error;
}

// FileLock

FileLock::FileLock(const std::string& path, bool writable) {
    // Opened for reading alone, a FIFO would wait for a writer: not so.
    const int nonBlocking = writable ? 0 : O_NONBLOCK;
    mFd =
        ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | nonBlocking | O_NOFOLLOW | O_CLOEXEC);
    if (mFd < 0) {
        mError = errno;
        return;
    }
    if (flock(mFd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        mError = fstat(mFd, &mStatus) == 0 && isPlainFile(mStatus) ? error : EINVAL;
        return;
    }
    // Looked at under the lock: the size is the one the last holder left.
    if (fstat(mFd, &mStatus) != 0 || !isPlainFile(mStatus) ||
        (nonBlocking && fcntl(mFd, F_SETFL, 0) != 0)) {
        mError = EINVAL;
        return;
    }
    mLocked = true;
}

FileLock::~FileLock() {
    if (mFd >= 0) {
        ::close(mFd);
    }
}

void syncParentFolder(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
}

int64_t outputSeekTarget(int64_t offset, int whence, uint64_t position, uint64_t end) {
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += static_cast<int64_t>(position);
        break;
    case SEEK_END:
        offset += static_cast<int64_t>(end);
        break;
    case AVSEEK_SIZE:
        return static_cast<int64_t>(end);
    default:
        return AVERROR(EINVAL);
    }
    return offset < 0 ? AVERROR(EINVAL) : offset;
}

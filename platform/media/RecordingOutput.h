#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>

struct AVIOContext;

// The file a recording is written to, as FFmpeg's muxer sees it: an output
// context on a descriptor of our own, so that the recording can be made
// durable as it goes.
//
// - The file is locked (flock, exclusive) for the writer's whole life, so
//   that recovery and label edits leave a live recording alone.
// - `sync` pushes everything written so far to the disk.
// - `reserve` allocates disk space past the end without growing the file,
//   so that finishing never needs space that the disk no longer has; it
//   also honours the process's file size limit.
// - The first failure (its errno) is kept; nothing is written after it.
class RecordingOutput {
public:
    RecordingOutput() = default;
    ~RecordingOutput();
    RecordingOutput(const RecordingOutput&) = delete;
    RecordingOutput& operator=(const RecordingOutput&) = delete;

    // Creates `path` and locks it. With `erase`, an existing file is emptied
    // instead (one that another process is recording into stays as it is);
    // without, an existing name fails with EEXIST, and the file gets its
    // name only with its first bytes (where the file system allows), so that
    // a process killed before then leaves no empty file behind; a name taken
    // meanwhile fails that first write with EEXIST. Links are never
    // followed, and only a regular file with one name is written. Returns 0
    // or an errno value.
    int open(const std::string& path, bool erase = true);
    AVIOContext* context() const { return mContext; }

    // Hands everything the muxer buffered to the file and the file to the
    // disk. Returns 0 or an errno value.
    int sync();
    // Hands everything the muxer buffered to the file, and gives a file made
    // without a name its name (EEXIST when the name was taken meanwhile).
    int name();
    // Makes sure `bytes` past the current end are allocated. ENOSPC, EDQUOT
    // or EFBIG when they are not to be had. When it has to allocate, it takes
    // `ahead` bytes more if it can, so that the next calls need not.
    int reserve(uint64_t bytes, uint64_t ahead = 0);
    // Cuts the file after its last written byte (dropping the reservation),
    // syncs it and releases the lock. Returns 0 or an errno value.
    int finish();
    // Releases everything without touching the file further.
    void close();
    // Removes the file, if its name still leads to it, and releases it.
    void discard();

    uint64_t end() const { return mEnd; }
    int error() const { return mError; }
    int descriptor() const { return mFd; }
    // Where the file is now, whatever happened to its folder since it was
    // opened; empty when that cannot be told.
    std::string currentPath() const;

private:
    static int writePacket(void* opaque, uint8_t* data, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);
    int write(const uint8_t* data, size_t size);
    int allocateUpTo(uint64_t end);
    int openUnnamed(const std::string& path);
    int giveName();

    int mFd = -1;
    // For a file made without a name: its folder and the name it gets.
    int mFolderFd = -1;
    std::string mName;
    bool mNamed = true;
    int mNamedFd = -1; // O_PATH, once named: follows the file when it is moved
    AVIOContext* mContext = nullptr;
    uint64_t mPosition = 0;
    uint64_t mEnd = 0;
    uint64_t mReservedEnd = 0;
    int mError = 0;
};

// Holds an exclusive lock on a file while it lives; `locked()` tells whether
// the lock was had without waiting.
class FileLock {
public:
    // Links are not followed, and only a regular file with one name is
    // locked; anything else fails with EINVAL (ELOOP for a link).
    explicit FileLock(const std::string& path, bool writable = true);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool locked() const { return mLocked; }
    // Why not: an errno value (EWOULDBLOCK when someone else holds it).
    int error() const { return mError; }
    int descriptor() const { return mFd; }
    // The file as it was when the lock was taken.
    const struct stat& status() const { return mStatus; }

private:
    int mFd = -1;
    struct stat mStatus {};
    bool mLocked = false;
    int mError = 0;
};

// fsync of the folder that holds `path`, so that a rename or an unlink in it
// survives a power cut.
void syncParentFolder(const std::string& path);

// Where an FFmpeg output context's seek lands, from its offset and whence,
// the current position and the end; AVSEEK_SIZE answers the end. Negative
// (an AVERROR) for a seek that makes no sense.
int64_t outputSeekTarget(int64_t offset, int whence, uint64_t position, uint64_t end);

// Whether an open descriptor is a regular file with exactly one name (no
// hard link elsewhere that a write would reach).
bool isPlainFile(int fd);
bool isPlainFile(const struct stat& status);

// The path an open descriptor's file has now; empty when it has none.
std::string pathOfDescriptor(int fd);

#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class MP4MemoryAtom;
class MP4FileAtom;

// The atoms (boxes) of an MPEG-4 file: a big-endian 32-bit size, a
// four-character type and a payload, containers holding further atoms.
// File atoms are positions in an open file, read on demand and edited in
// place; memory atoms are built to be written into a file. Every failure is
// an InternalInconsistencyException that abandons the operation.
class MP4Atom {
public:
    static constexpr uint64_t NotFound = ~uint64_t{0};

    virtual ~MP4Atom() = default;

    virtual uint32_t type() const = 0;
    // The whole atom: header and everything after it.
    virtual QByteArray data() const = 0;
    // The size field, header included.
    virtual uint32_t length() const = 0;
    virtual void setLength(uint32_t length) = 0;
    virtual uint64_t offset() const = 0;
    // The bytes after the header (and after the version word of 'meta').
    virtual QByteArray childData() const = 0;

    // Each returns how many bytes this atom grew (negative when it shrank).
    virtual int32_t addChild(const MP4MemoryAtom& child);
    virtual int32_t replaceChildAtomOfType(uint32_t type, const MP4MemoryAtom& atom);
    virtual std::unique_ptr<MP4Atom> childAtomWithType(uint32_t type) const;
    virtual std::unique_ptr<MP4Atom> findChildAtomWithType(uint32_t type) const;

    // "{(<length>),('<type>')}"
    QString description() const;

    static std::unique_ptr<MP4FileAtom> fileAtomWithType(uint32_t type, int fileHandle);
    static std::unique_ptr<MP4MemoryAtom> memoryAtomWithType(uint32_t type, const QByteArray& data);
};

class MP4MemoryAtom : public MP4Atom {
public:
    MP4MemoryAtom(uint32_t type, QByteArray childData);

    uint32_t type() const override { return mType; }
    QByteArray data() const override;
    uint32_t length() const override;
    void setLength(uint32_t length) override;
    uint64_t offset() const override;
    QByteArray childData() const override { return mChildData; }

    int32_t addChild(const MP4MemoryAtom& child) override;
    int32_t replaceChildAtomOfType(uint32_t type, const MP4MemoryAtom& atom) override;
    std::unique_ptr<MP4Atom> childAtomWithType(uint32_t type) const override;

private:
    uint32_t mType;
    QByteArray mChildData;
    std::vector<MP4MemoryAtom> mChildArray;
};

// A view of the atom whose header is at `offset` in an open file. The file
// descriptor is borrowed. Atoms with a 64-bit size (size field 1) and a last
// atom of size 0 (running to the end of the file) are walked correctly;
// editing such an atom's size is refused.
class MP4FileAtom : public MP4Atom {
public:
    MP4FileAtom(uint64_t offset, int fileHandle) : mFileHandle(fileHandle), mOffset(offset) {}
    static std::unique_ptr<MP4FileAtom> fileAtomWithOffset(uint64_t offset, int fileHandle);

    uint32_t type() const override;
    QByteArray data() const override;
    uint32_t length() const override;
    void setLength(uint32_t length) override;
    uint64_t offset() const override { return mOffset; }
    void setOffset(uint64_t offset) { mOffset = offset; }
    QByteArray childData() const override;
    void setChildData(const QByteArray& data);
    uint32_t childDataOffset() const;

    // The atom's real extent: the 64-bit size when it has one, the rest of
    // the file for size 0.
    uint64_t extent() const;
    bool hasPlainSize() const;

    int32_t addChild(const MP4MemoryAtom& child) override;
    int32_t replaceChildAtomOfType(uint32_t type, const MP4MemoryAtom& atom) override;
    std::unique_ptr<MP4Atom> childAtomWithType(uint32_t type) const override;
    std::unique_ptr<MP4Atom> findChildAtomWithType(uint32_t type) const override;
    std::unique_ptr<MP4FileAtom> childFileAtomWithType(uint32_t type) const;
    std::unique_ptr<MP4FileAtom> findChildFileAtomWithType(uint32_t type) const;

    // The ordered walk and the byte scan over [start, end).
    uint64_t offsetOfChildAtom(uint32_t type, uint64_t start, uint64_t end) const;
    uint64_t findOffsetOfChildAtom(uint32_t type, uint64_t start, uint64_t end) const;
    uint32_t readUIntAtOffset(uint64_t offset) const;
    void writeUIntAtOffset(uint32_t value, uint64_t offset) const;

    // Whether the atom lies within the file and its children (from the
    // child data on) tile it exactly, each with a plain 32-bit size.
    bool isWellFormedContainer() const;

    int fileHandle() const { return mFileHandle; }
    uint64_t fileLength() const;

private:
    void requirePlainSize(const char* operation) const;

    int mFileHandle;
    uint64_t mOffset;
};

// While one lives, reads of atoms in its file come from blocks of up to
// 64 KB read once, and the file's size is asked once, instead of many small
// reads. For read-only walks; any write through the editor drops what it
// holds. A cache made while another for the same file lives leaves the work
// to that one.
class MP4ReadCache {
public:
    explicit MP4ReadCache(int fileHandle);
    ~MP4ReadCache();
    MP4ReadCache(const MP4ReadCache&) = delete;
    MP4ReadCache& operator=(const MP4ReadCache&) = delete;

    // Serves a read when a cache for `fileHandle` is active; false otherwise.
    static bool read(int fileHandle, char* data, size_t size, uint64_t offset);
    // The file's size, when a cache for `fileHandle` is active.
    static std::optional<uint64_t> size(int fileHandle);
    static void invalidate(int fileHandle);

private:
    static MP4ReadCache* activeFor(int fileHandle);

    int mFileHandle;
    MP4ReadCache* mOuter;
    bool mDeferred = false; // an outer cache serves this file
    uint64_t mBlockOffset = 0;
    size_t mBlockSize = 0;
    size_t mBlockCapacity = 0;
    std::unique_ptr<char[]> mBlock;
    std::optional<uint64_t> mFileSize;
};

// Big-endian 32-bit fields of atom payloads. Reading past the end gives 0.
uint32_t mp4ReadUInt32(const QByteArray& bytes, qsizetype at);
QByteArray mp4UInt32(uint32_t value);

// The 16 bytes of a UUID written as text ("400006E8-76A0-...") in text order.
QByteArray dataWithUUID(const QString& uuid);

// Inserts `count` bytes at `offset`, moving the rest of the file up one page
// at a time. Returns the bytes written, or -1 when the file could not be
// grown or a move failed (errno tells why); space is reserved before anything
// moves, so a full disk fails before the file changes.
int64_t velk_insertdata(int fileHandle, const char* data, uint64_t count, uint64_t offset);
// Removes `length` bytes at `offset`, moving the rest down one page at a
// time, then truncates. Returns false on any failure.
bool velk_reducefile(int fileHandle, uint64_t offset, uint64_t length);

// The same moves at a descriptor's current position.
void insertDataAtCurrentPosition(int fileHandle, const QByteArray& data);
void removeDataOfLengthAtCurrentPosition(int fileHandle, uint32_t length);

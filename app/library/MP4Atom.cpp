#include "app/library/MP4Atom.h"

#include "platform/media/FileTransfer.h"

#include "audio/format/InternalInconsistencyException.h"
#include "platform/audio/FourCharCode.h"

#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void report(const char* message, const char* source) {
    throw InternalInconsistencyException(message, source, 0);
}

// Moves of file data read straight from the file, past any cache.
bool readDirect(int fd, char* data, size_t size, uint64_t offset) {
    return preadAll(fd, data, size, offset) == 0;
}

bool readFully(int fd, char* data, size_t size, uint64_t offset) {
    if (MP4ReadCache::read(fd, data, size, offset)) {
        return true;
    }
    return readDirect(fd, data, size, offset);
}

bool writeFully(int fd, const char* data, size_t size, uint64_t offset) {
    MP4ReadCache::invalidate(fd);
    return pwriteAll(fd, data, size, offset) == 0;
}

uint64_t fileSize(int fd) {
    if (const auto cached = MP4ReadCache::size(fd)) {
        return *cached;
    }
    struct stat status {};
    return fstat(fd, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

size_t pageSize() {
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<size_t>(size) : 4096;
}

// Grows the file to `length`, reserving the space so later writes cannot
// run out of it.
bool growFile(int fd, uint64_t length) {
    MP4ReadCache::invalidate(fd);
    const uint64_t current = fileSize(fd);
    if (length <= current) {
        return true;
    }
    const int reserved =
        posix_fallocate(fd, static_cast<off_t>(current), static_cast<off_t>(length - current));
    if (reserved == 0) {
        return true;
    }
    if (reserved != EOPNOTSUPP && reserved != EINVAL) {
        errno = reserved;
        return false;
    }
    return ftruncate(fd, static_cast<off_t>(length)) == 0; // no reservation on this file system
}

} // namespace

// MP4Atom

int32_t MP4Atom::addChild(const MP4MemoryAtom&) {
    report("Must call addChild: on concrete subclass", "MP4Atom");
}

int32_t MP4Atom::replaceChildAtomOfType(uint32_t, const MP4MemoryAtom&) {
    report("Must call replaceChildAtomOfType:withAtom: on concrete subclass", "MP4Atom");
}

std::unique_ptr<MP4Atom> MP4Atom::childAtomWithType(uint32_t) const {
    report("Must call childAtomWithType: on concrete subclass", "MP4Atom");
}

std::unique_ptr<MP4Atom> MP4Atom::findChildAtomWithType(uint32_t) const {
    report("Must call findChildAtomWithType: on concrete subclass", "MP4Atom");
}

QString MP4Atom::description() const {
    return QStringLiteral("{(%1),('%2')}")
        .arg(length())
        .arg(QString::fromLatin1(QByteArray::fromStdString(FourCCString(type()))));
}

std::unique_ptr<MP4FileAtom> MP4Atom::fileAtomWithType(uint32_t type, int fileHandle) {
    const MP4FileAtom probe(0, fileHandle);
    const uint64_t offset = probe.offsetOfChildAtom(type, 0, probe.fileLength());
    return offset == NotFound ? nullptr : MP4FileAtom::fileAtomWithOffset(offset, fileHandle);
}

std::unique_ptr<MP4MemoryAtom> MP4Atom::memoryAtomWithType(uint32_t type, const QByteArray& data) {
    return std::make_unique<MP4MemoryAtom>(type, data);
}

// MP4MemoryAtom

MP4MemoryAtom::MP4MemoryAtom(uint32_t type, QByteArray childData)
    : mType(type), mChildData(std::move(childData)) {}

uint32_t MP4MemoryAtom::length() const {
    uint64_t length = 8 + static_cast<uint64_t>(mChildData.size());
    for (const MP4MemoryAtom& child : mChildArray) {
        length += child.length();
    }
    return static_cast<uint32_t>(length);
}

QByteArray MP4MemoryAtom::data() const {
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(length()));
    bytes.append(mp4UInt32(length()));
    bytes.append(mp4UInt32(mType));
    bytes.append(mChildData);
    for (const MP4MemoryAtom& child : mChildArray) {
        bytes.append(child.data());
    }
    return bytes;
}

void MP4MemoryAtom::setLength(uint32_t) {
    report("Can't set length of a memory atom", "MP4MemoryAtom");
}

uint64_t MP4MemoryAtom::offset() const {
    report("Looking for offset of memory atom!", "MP4MemoryAtom");
}

int32_t MP4MemoryAtom::addChild(const MP4MemoryAtom& child) {
    mChildArray.push_back(child);
    return static_cast<int32_t>(child.length());
}

int32_t MP4MemoryAtom::replaceChildAtomOfType(uint32_t type, const MP4MemoryAtom& atom) {
    const auto found =
        std::find_if(mChildArray.begin(), mChildArray.end(),
                     [&](const MP4MemoryAtom& child) { return child.type() == type; });
    if (found == mChildArray.end()) {
        return addChild(atom);
    }
    const auto oldLength = static_cast<int64_t>(found->length());
    mChildArray.erase(found);
    mChildArray.push_back(atom);
    return static_cast<int32_t>(static_cast<int64_t>(atom.length()) - oldLength);
}

std::unique_ptr<MP4Atom> MP4MemoryAtom::childAtomWithType(uint32_t type) const {
    for (const MP4MemoryAtom& child : mChildArray) {
        if (child.type() == type) {
            return std::make_unique<MP4MemoryAtom>(child);
        }
    }
    return nullptr;
}

// MP4FileAtom

std::unique_ptr<MP4FileAtom> MP4FileAtom::fileAtomWithOffset(uint64_t offset, int fileHandle) {
    return std::make_unique<MP4FileAtom>(offset, fileHandle);
}

uint64_t MP4FileAtom::fileLength() const {
    return fileSize(mFileHandle);
}

uint32_t MP4FileAtom::readUIntAtOffset(uint64_t offset) const {
    unsigned char bytes[4];
    if (!readFully(mFileHandle, reinterpret_cast<char*>(bytes), 4, offset)) {
        report("Did not read 4 bytes successfully.", "MP4FileAtom");
    }
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

void MP4FileAtom::writeUIntAtOffset(uint32_t value, uint64_t offset) const {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    if (!writeFully(mFileHandle, bytes, 4, offset)) {
        report("Did not write 4 bytes successfully.", "MP4FileAtom");
    }
}

uint32_t MP4FileAtom::length() const {
    return readUIntAtOffset(mOffset);
}

void MP4FileAtom::setLength(uint32_t length) {
    requirePlainSize("setLength:");
    writeUIntAtOffset(length, mOffset);
}

uint32_t MP4FileAtom::type() const {
    return readUIntAtOffset(mOffset + 4);
}

bool MP4FileAtom::hasPlainSize() const {
    const uint32_t size = length();
    return size != 0 && size != 1;
}

uint64_t MP4FileAtom::extent() const {
    const uint32_t size = length();
    if (size == 1) {
        return uint64_t{readUIntAtOffset(mOffset + 8)} << 32 | readUIntAtOffset(mOffset + 12);
    }
    if (size == 0) {
        const uint64_t end = fileLength();
        return end > mOffset ? end - mOffset : 0;
    }
    return size;
}

void MP4FileAtom::requirePlainSize(const char* operation) const {
    if (!hasPlainSize()) {
        throw InternalInconsistencyException(std::string("Cannot ") + operation +
                                                 " an atom without a 32-bit size",
                                             "MP4FileAtom", 0);
    }
}

uint32_t MP4FileAtom::childDataOffset() const {
    const uint32_t header = length() == 1 ? 16 : 8;
    return type() == FourCC("meta") ? header + 4 : header;
}

QByteArray MP4FileAtom::data() const {
    const uint64_t size = extent();
    if (size > fileLength() || size > (uint64_t{1} << 31)) {
        report("Did not read data successfully.", "MP4FileAtom");
    }
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (!readFully(mFileHandle, bytes.data(), bytes.size(), mOffset)) {
        report("Did not read data successfully.", "MP4FileAtom");
    }
    return bytes;
}

QByteArray MP4FileAtom::childData() const {
    const uint64_t size = extent();
    const uint32_t start = childDataOffset();
    if (size < start || size > fileLength() || size > (uint64_t{1} << 31)) {
        report("Did not read child data successfully.", "MP4FileAtom");
    }
    QByteArray bytes(static_cast<qsizetype>(size - start), Qt::Uninitialized);
    if (!readFully(mFileHandle, bytes.data(), bytes.size(), mOffset + start)) {
        report("Did not read child data successfully.", "MP4FileAtom");
    }
    return bytes;
}

void MP4FileAtom::setChildData(const QByteArray& data) {
    const uint64_t size = extent();
    const uint32_t start = childDataOffset();
    if (size < start || static_cast<uint64_t>(data.size()) != size - start) {
        report("Trying to set larger child data on a file atom than what fits", "MP4FileAtom");
    }
    if (!writeFully(mFileHandle, data.constData(), data.size(), mOffset + start)) {
        report("Did not write child data successfully", "MP4FileAtom");
    }
}

uint64_t MP4FileAtom::offsetOfChildAtom(uint32_t type, uint64_t start, uint64_t end) const {
    end = std::min(end, fileLength());
    uint64_t p = start;
    while (p + 8 <= end) {
        const MP4FileAtom atom(p, mFileHandle);
        const uint32_t size = atom.length();
        // The type first: a box whose size runs past the end (the audio of
        // a cut-off file) is still found.
        if (atom.type() == type && size != 0 && (size >= 8 || size == 1)) {
            return p;
        }
        const uint64_t step = size == 0 ? end - p : size == 1 ? atom.extent() : size;
        if (step < 8 || step > end - p) {
            return NotFound; // a damaged size: stop rather than loop or run off
        }
        if (atom.type() == type) {
            return p;
        }
        if (size == 0) {
            return NotFound; // the last atom, running to the end: nothing after it
        }
        p += step;
    }
    return NotFound;
}

uint64_t MP4FileAtom::findOffsetOfChildAtom(uint32_t type, uint64_t start, uint64_t end) const {
    end = std::min(end, fileLength());
    if (end < start + 4 || start < 4) {
        return NotFound;
    }
    const QByteArray bytes = [&] {
        QByteArray window(static_cast<qsizetype>(end - start), Qt::Uninitialized);
        if (!readFully(mFileHandle, window.data(), window.size(), start)) {
            report("Did not read data successfully.", "MP4FileAtom");
        }
        return window;
    }();
    const char wanted[4] = {static_cast<char>(type >> 24), static_cast<char>(type >> 16),
                            static_cast<char>(type >> 8), static_cast<char>(type)};
    for (qsizetype i = 0; i + 4 < bytes.size(); ++i) {
        if (std::equal(wanted, wanted + 4, bytes.constData() + i)) {
            return start + static_cast<uint64_t>(i) - 4;
        }
    }
    return NotFound;
}

bool MP4FileAtom::isWellFormedContainer() const {
    const uint64_t size = extent();
    const uint64_t end = mOffset + size;
    if (!hasPlainSize() || end > fileLength()) {
        return false;
    }
    uint64_t p = mOffset + childDataOffset();
    while (p < end) {
        if (end - p < 8) {
            return false;
        }
        const uint32_t child = readUIntAtOffset(p);
        if (child < 8 || child > end - p) {
            return false;
        }
        p += child;
    }
    return p == end;
}

std::unique_ptr<MP4FileAtom> MP4FileAtom::childFileAtomWithType(uint32_t type) const {
    const uint64_t found = offsetOfChildAtom(type, mOffset + childDataOffset(), mOffset + extent());
    return found == NotFound ? nullptr : fileAtomWithOffset(found, mFileHandle);
}

std::unique_ptr<MP4FileAtom> MP4FileAtom::findChildFileAtomWithType(uint32_t type) const {
    const uint64_t found =
        findOffsetOfChildAtom(type, mOffset + childDataOffset(), mOffset + extent());
    return found == NotFound ? nullptr : fileAtomWithOffset(found, mFileHandle);
}

std::unique_ptr<MP4Atom> MP4FileAtom::childAtomWithType(uint32_t type) const {
    return childFileAtomWithType(type);
}

std::unique_ptr<MP4Atom> MP4FileAtom::findChildAtomWithType(uint32_t type) const {
    return findChildFileAtomWithType(type);
}

int32_t MP4FileAtom::addChild(const MP4MemoryAtom& child) {
    requirePlainSize("add a child to");
    const uint32_t n = child.length();
    const uint32_t L = length();
    const QByteArray bytes = child.data();
    if (velk_insertdata(mFileHandle, bytes.constData(), static_cast<uint64_t>(bytes.size()),
                        mOffset + L) != bytes.size()) {
        report("Did not write atom data successfully.", "MP4FileAtom");
    }
    setLength(L + n);
    return static_cast<int32_t>(n);
}

int32_t MP4FileAtom::replaceChildAtomOfType(uint32_t type, const MP4MemoryAtom& atom) {
    requirePlainSize("replace a child of");
    const auto old = childFileAtomWithType(type);
    if (!old) {
        return addChild(atom);
    }
    old->requirePlainSize("replace");
    const uint64_t o = old->offset();
    const int64_t d = static_cast<int64_t>(atom.length()) - old->length();
    const uint32_t L = length();
    const QByteArray bytes = atom.data();
    if (d < 0) {
        if (!velk_reducefile(mFileHandle, o, static_cast<uint64_t>(-d))) {
            report("Could not reduce file properly.", "MP4FileAtom");
        }
    } else if (d > 0) {
        if (velk_insertdata(mFileHandle, bytes.constData(), static_cast<uint64_t>(d), o) != d) {
            report("Could not increase file size properly.", "MP4FileAtom");
        }
    }
    if (!writeFully(mFileHandle, bytes.constData(), bytes.size(), o)) {
        report("Could not write new child data properly.", "MP4FileAtom");
    }
    setLength(static_cast<uint32_t>(static_cast<int64_t>(L) + d));
    return static_cast<int32_t>(d);
}

// Read cache

namespace {
thread_local MP4ReadCache* tActiveCache = nullptr;
constexpr size_t kCacheBlock = 64 * 1024;
} // namespace

MP4ReadCache::MP4ReadCache(int fileHandle) : mFileHandle(fileHandle), mOuter(tActiveCache) {
    mDeferred = activeFor(fileHandle) != nullptr;
    tActiveCache = this;
}

MP4ReadCache::~MP4ReadCache() {
    tActiveCache = mOuter;
}

MP4ReadCache* MP4ReadCache::activeFor(int fileHandle) {
    MP4ReadCache* cache = tActiveCache;
    while (cache && (cache->mFileHandle != fileHandle || cache->mDeferred)) {
        cache = cache->mOuter;
    }
    return cache;
}

std::optional<uint64_t> MP4ReadCache::size(int fileHandle) {
    MP4ReadCache* cache = activeFor(fileHandle);
    if (!cache) {
        return std::nullopt;
    }
    if (!cache->mFileSize) {
        struct stat status {};
        if (fstat(fileHandle, &status) != 0) {
            return std::nullopt;
        }
        cache->mFileSize = static_cast<uint64_t>(status.st_size);
    }
    return cache->mFileSize;
}

bool MP4ReadCache::read(int fileHandle, char* data, size_t size, uint64_t offset) {
    MP4ReadCache* cache = activeFor(fileHandle);
    if (!cache || size > kCacheBlock / 2) {
        return false;
    }
    const bool inBlock = cache->mBlockSize > 0 && offset >= cache->mBlockOffset &&
                         offset + size <= cache->mBlockOffset + cache->mBlockSize;
    if (!inBlock) {
        // As large as the rest of the file, up to a block; not zeroed, as
        // only what pread fills is ever read.
        const auto fileLength = MP4ReadCache::size(fileHandle).value_or(kCacheBlock);
        const size_t wanted = offset < fileLength
                                  ? static_cast<size_t>(std::min<uint64_t>(kCacheBlock,
                                                                          fileLength - offset))
                                  : 0;
        if (wanted < size) {
            return false; // past the end: the direct read reports it
        }
        if (wanted > cache->mBlockCapacity) {
            cache->mBlock.reset(new char[wanted]);
            cache->mBlockCapacity = wanted;
        }
        const ssize_t got =
            pread(fileHandle, cache->mBlock.get(), wanted, static_cast<off_t>(offset));
        cache->mBlockOffset = offset;
        cache->mBlockSize = got > 0 ? static_cast<size_t>(got) : 0;
        if (cache->mBlockSize < size) {
            return false;
        }
    }
    std::memcpy(data, cache->mBlock.get() + (offset - cache->mBlockOffset), size);
    return true;
}

void MP4ReadCache::invalidate(int fileHandle) {
    for (MP4ReadCache* cache = tActiveCache; cache; cache = cache->mOuter) {
        if (cache->mFileHandle == fileHandle) {
            cache->mBlockSize = 0;
            cache->mFileSize.reset();
        }
    }
}

// Supporting pieces

uint32_t mp4ReadUInt32(const QByteArray& bytes, qsizetype at) {
    if (at < 0 || at + 4 > bytes.size()) {
        return 0;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

QByteArray mp4UInt32(uint32_t value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    return QByteArray(bytes, 4);
}

QByteArray dataWithUUID(const QString& uuid) {
    return QUuid::fromString(uuid).toRfc4122();
}

int64_t velk_insertdata(int fileHandle, const char* data, uint64_t count, uint64_t offset) {
    if (!data) {
        throw InternalInconsistencyException("Invalid parameter not satisfying: inData",
                                             "MP4FileAtom", 0);
    }
    if (count == 0) {
        return 0;
    }
    const size_t chunk = pageSize();
    uint64_t e = fileSize(fileHandle);
    if (offset > e || !growFile(fileHandle, e + count)) {
        return -1;
    }
    std::vector<char> buffer(chunk);
    while (e > offset) {
        const uint64_t s = std::max(e - std::min<uint64_t>(e, chunk), offset);
        const auto k = static_cast<size_t>(std::min<uint64_t>(chunk, e - s));
        if (!readDirect(fileHandle, buffer.data(), k, s) ||
            !writeFully(fileHandle, buffer.data(), k, s + count)) {
            return -1;
        }
        e = s;
    }
    return writeFully(fileHandle, data, static_cast<size_t>(count), offset)
               ? static_cast<int64_t>(count)
               : -1;
}

bool velk_reducefile(int fileHandle, uint64_t offset, uint64_t length) {
    const size_t chunk = pageSize();
    const uint64_t F = fileSize(fileHandle);
    if (F < length || offset + length > F) {
        return false;
    }
    std::vector<char> buffer(chunk);
    for (uint64_t w = offset; w < F - length;) {
        const auto k = static_cast<size_t>(std::min<uint64_t>(chunk, F - (w + length)));
        if (!readDirect(fileHandle, buffer.data(), k, w + length) ||
            !writeFully(fileHandle, buffer.data(), k, w)) {
            return false;
        }
        w += k;
    }
    MP4ReadCache::invalidate(fileHandle);
    return ftruncate(fileHandle, static_cast<off_t>(F - length)) == 0;
}

void insertDataAtCurrentPosition(int fileHandle, const QByteArray& data) {
    if (data.isEmpty()) {
        return;
    }
    const off_t position = lseek(fileHandle, 0, SEEK_CUR);
    if (position < 0 ||
        velk_insertdata(fileHandle, data.constData(), static_cast<uint64_t>(data.size()),
                        static_cast<uint64_t>(position)) != data.size()) {
        throw InternalInconsistencyException("Could not insert data", "NSFileHandle_Insertion", 0);
    }
    lseek(fileHandle, position + data.size(), SEEK_SET);
}

void removeDataOfLengthAtCurrentPosition(int fileHandle, uint32_t length) {
    if (length == 0) {
        return;
    }
    const off_t position = lseek(fileHandle, 0, SEEK_CUR);
    if (position < 0 || fileSize(fileHandle) < length) {
        throw InternalInconsistencyException("Trying to delete beyond the file's length.",
                                             "NSFileHandle_Insertion", 0);
    }
    if (!velk_reducefile(fileHandle, static_cast<uint64_t>(position), length)) {
        throw InternalInconsistencyException("Could not remove data", "NSFileHandle_Insertion", 0);
    }
}

#include "app/library/MP4LabelWriter.h"

#include "platform/media/FileTransfer.h"

#include "app/library/MP4Atom.h"
#include "app/library/MP4MovieBox.h"
#include "audio/format/InternalInconsistencyException.h"
#include "platform/audio/FourCharCode.h"
#include "platform/desktop/FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::function<void(const char*)>& stepObserver() {
    static std::function<void(const char*)> observer;
    return observer;
}

void step(const char* name) {
    if (stepObserver()) {
        stepObserver()(name);
    }
}

// A movie box larger than this is not a tape's; reading it whole would be unwise.
constexpr uint64_t kLargestMovieBox = 256ull << 20;

bool isFree(uint32_t type) {
    return type == FourCC("free") || type == FourCC("skip");
}

// A box placed at `offset` starts 8-byte aligned, so that its 4-byte type
// field never straddles a disk sector; the gap before it is a 'free' box of
// at least 8 bytes.
uint64_t leadBefore(uint64_t offset) {
    return offset % 8 == 0 ? 0 : 8 + (8 - offset % 8);
}

QByteArray freeHeader(uint64_t size) {
    return mp4UInt32(static_cast<uint32_t>(size)) + QByteArray("free");
}

uint32_t readUInt32(int fd, uint64_t offset) {
    unsigned char b[4];
    if (!MP4ReadCache::read(fd, reinterpret_cast<char*>(b), 4, offset) &&
        preadAll(fd, reinterpret_cast<char*>(b), 4, offset)) {
        throw InternalInconsistencyException("Did not read 4 bytes successfully.", "MP4LabelWriter",
                                             __LINE__);
    }
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

uint64_t fileLength(int fd) {
    if (const auto cached = MP4ReadCache::size(fd)) {
        return *cached;
    }
    struct stat status {};
    return fstat(fd, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

// Copies [from, from + length) of `in` to `to` in `out`, in the kernel when it can.
bool copyBytes(int in, uint64_t from, int out, uint64_t to, uint64_t length) {
    auto inAt = static_cast<off_t>(from);
    auto outAt = static_cast<off_t>(to);
    while (length > 0) {
        const ssize_t copied =
            copy_file_range(in, &inAt, out, &outAt, std::min<uint64_t>(length, 1u << 30), 0);
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied <= 0) {
            break; // not supported here, or the source ended early: copy by hand
        }
        length -= static_cast<uint64_t>(copied);
    }
    const auto bufferSize = static_cast<size_t>(std::min<uint64_t>(length, 1 << 20));
    const std::unique_ptr<char[]> buffer(length > 0 ? new char[bufferSize] : nullptr);
    while (length > 0) {
        const auto chunk = static_cast<size_t>(std::min<uint64_t>(length, bufferSize));
        const ssize_t got = pread(in, buffer.get(), chunk, inAt);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 ||
            pwriteAll(out, buffer.get(), static_cast<size_t>(got), static_cast<uint64_t>(outAt))) {
            return false;
        }
        inAt += got;
        outAt += got;
        length -= static_cast<uint64_t>(got);
    }
    return true;
}

// The same, leaving the source's holes as holes, so that a sparse file
// costs no disk to copy. The target range must read as zeros (it lies past
// the end of the file being made); the target is at least `to + length` long.
bool copyRange(int in, uint64_t from, int out, uint64_t to, uint64_t length) {
    const uint64_t end = from + length;
    for (uint64_t at = from; at < end;) {
        // ENXIO: only a hole is left; any other failure: copy the rest.
        const off_t data = lseek(in, static_cast<off_t>(at), SEEK_DATA);
        const uint64_t dataAt = data >= 0 ? static_cast<uint64_t>(data) : errno == ENXIO ? end : at;
        if (dataAt >= end) {
            break;
        }
        const off_t hole = lseek(in, static_cast<off_t>(dataAt), SEEK_HOLE);
        const uint64_t holeAt = hole > static_cast<off_t>(dataAt)
                                    ? std::min<uint64_t>(static_cast<uint64_t>(hole), end)
                                    : end;
        if (!copyBytes(in, dataAt, out, to + (dataAt - from), holeAt - dataAt)) {
            return false;
        }
        at = holeAt;
    }
    struct stat status {};
    return fstat(out, &status) == 0 && (static_cast<uint64_t>(status.st_size) >= to + length ||
                                        ftruncate(out, static_cast<off_t>(to + length)) == 0);
}

void syncFolder(const QString& folder) {
    const int fd =
        ::open(FileNames::encode(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
}

} // namespace

void MP4LabelWriter::setStepObserver(std::function<void(const char*)> observer) {
    stepObserver() = std::move(observer);
}

MP4LabelWriter::MP4LabelWriter(QString path) : mPath(std::move(path)) {}

MP4LabelWriter::~MP4LabelWriter() {
    if (mFileHandle >= 0) {
        ::close(mFileHandle);
    }
    for (const int fd : mRetiredHandles) {
        ::close(fd);
    }
}

bool MP4LabelWriter::fail(const QString& message) {
    mError = message;
    return false;
}

// Locking

bool MP4LabelWriter::lock(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    const QByteArray path = FileNames::encode(mPath);
    for (;;) {
        // (Opened for reading and writing, a FIFO never makes the open wait.)
        const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            const int cause = errno;
            if (cause == ENOENT) {
                return fail(QStringLiteral("%1 does not exist").arg(mPath));
            }
            if (cause == EACCES || cause == EROFS || cause == EPERM) {
                return fail(QStringLiteral("%1 is read-only").arg(mPath));
            }
            return fail(QStringLiteral("cannot open %1: %2").arg(mPath, strerror(cause)));
        }
        struct stat opened {};
        if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            return fail(QStringLiteral("%1 is not a regular file").arg(mPath));
        }
        while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                const int cause = errno;
                ::close(fd);
                return fail(QStringLiteral("cannot lock %1: %2").arg(mPath, strerror(cause)));
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                ::close(fd);
                return fail(
                    QStringLiteral("%1 is being edited by another program; try again").arg(mPath));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // The path may now name another file (a commit renamed one over
        // it) or none (a tape renamed after its title): read it again.
        struct stat named {};
        if (::stat(path.constData(), &named) != 0) {
            ::close(fd);
            return fail(QStringLiteral("%1 was moved or deleted by another program").arg(mPath));
        }
        if (named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
            mFileHandle = fd;
            return true;
        }
        ::close(fd);
    }
}

// Surveying the top level

MP4LabelWriter::Layout MP4LabelWriter::survey() const {
    Layout layout;
    const uint64_t length = fileLength(mFileHandle);
    uint64_t p = 0;
    while (length - p >= 8) {
        const uint32_t size32 = readUInt32(mFileHandle, p);
        const uint32_t type = readUInt32(mFileHandle, p + 4);
        uint64_t size = size32;
        if (size32 == 1) {
            if (length - p < 16) {
                break;
            }
            size = uint64_t{readUInt32(mFileHandle, p + 8)} << 32 | readUInt32(mFileHandle, p + 12);
            if (size < 16) {
                break;
            }
        } else if (size32 == 0) {
            layout.boxes.push_back({p, length - p, type});
            layout.openEnded = true;
            layout.end = length;
            return layout;
        } else if (size < 8) {
            break; // damage: nothing after it can be found
        }
        if (size > length - p) {
            if (type == FourCC("mdat")) {
                // A cut-off file: its audio runs to the end.
                layout.boxes.push_back({p, size, type});
                layout.openEnded = true;
                layout.end = length;
                return layout;
            }
            break; // a box cut short at the end, such as an interrupted append
        }
        layout.boxes.push_back({p, size, type});
        p += size;
    }
    layout.end = p;
    if (length - p >= 8) {
        const uint32_t type = readUInt32(mFileHandle, p + 4);
        layout.reclaimableTail = type == FourCC("moov") || type == FourCC("free");
    }
    return layout;
}

// Committing

bool MP4LabelWriter::commit(const MP4LabelEdit& edit) {
    mError.clear();
    mMovedAudio = false;
    if (mFileHandle < 0) {
        return fail(QStringLiteral("%1 is not locked for writing").arg(mPath));
    }
    try {
        return commitLocked(edit);
    } catch (const InternalInconsistencyException& failure) {
        return fail(QString::fromUtf8(failure.what()));
    } catch (const std::bad_alloc&) {
        return fail(QStringLiteral("not enough memory to edit %1").arg(mPath));
    }
}

bool MP4LabelWriter::commitLocked(const MP4LabelEdit& edit) {
    // Box headers are read from one block; every write drops it.
    const MP4ReadCache cache(mFileHandle);
    const Layout layout = survey();
    const auto isType = [](uint32_t type) {
        return [type](const Box& b) { return b.type == type; };
    };
    const auto liveAt =
        std::find_if(layout.boxes.begin(), layout.boxes.end(), isType(FourCC("moov")));
    if (liveAt == layout.boxes.end()) {
        return fail(QStringLiteral("%1 has no movie box (moov)").arg(mPath));
    }
    const Box live = *liveAt;
    if (std::any_of(layout.boxes.begin(), layout.boxes.end(), isType(FourCC("moof")))) {
        return fail(
            QStringLiteral("%1 is a fragmented MPEG-4 file, which cannot be labelled").arg(mPath));
    }
    if (readUInt32(mFileHandle, live.offset) != live.size || live.size > kLargestMovieBox ||
        (layout.openEnded && live.offset == layout.boxes.back().offset)) {
        return fail(QStringLiteral("%1 has a movie box the editor cannot change").arg(mPath));
    }
    QByteArray bytes(static_cast<qsizetype>(live.size), Qt::Uninitialized);
    if (preadAll(mFileHandle, bytes.data(), bytes.size(), live.offset)) {
        return fail(QStringLiteral("cannot read %1").arg(mPath));
    }
    MP4MovieBox moov = MP4MovieBox::parse(bytes);
    if (moov.child(FourCC("mvex"))) {
        return fail(
            QStringLiteral("%1 is a fragmented MPEG-4 file, which cannot be labelled").arg(mPath));
    }
    if (!moov.everyTrackHasChunkOffsets()) {
        return fail(QStringLiteral("a track of %1 has no chunk offsets").arg(mPath));
    }
    // Every chunk the index points at must lie in the audio data, where no
    // commit writes; otherwise the commit could overwrite audio.
    std::vector<Box> audio;
    std::copy_if(layout.boxes.begin(), layout.boxes.end(), std::back_inserter(audio),
                 isType(FourCC("mdat")));
    for (const auto& chunk : moov.chunkExtents()) {
        const bool inAudio = std::any_of(audio.begin(), audio.end(), [&](const Box& b) {
            return chunk.offset >= b.offset + 8 && chunk.offset < b.offset + b.size &&
                   chunk.size <= b.offset + b.size - chunk.offset;
        });
        if (!inAudio) {
            return fail(QStringLiteral("the audio of %1 is not where its index says").arg(mPath));
        }
    }
    edit.applyTo(moov);
    const QByteArray newMovie = moov.serialized();

    const bool inFront = !audio.empty() && live.offset < audio.front().offset;
    const uint64_t frontLimit =
        inFront ? audio.front().offset : std::numeric_limits<uint64_t>::max();
    retireStaleMovieBoxes(live.offset);

    // Room in front of the audio keeps a file ready for streaming; any
    // other room will do; otherwise the new box goes at the end of the file,
    // and the audio moves only when nothing may follow it (a cut-off file).
    std::optional<Slot> best = bestSlot(layout, static_cast<uint64_t>(newMovie.size()), frontLimit);
    if (!best) {
        best = bestSlot(layout, static_cast<uint64_t>(newMovie.size()),
                        std::numeric_limits<uint64_t>::max());
    }
    const bool canAppend = !layout.openEnded && layout.reclaimableTail;
    bool written = false;
    if (best) {
        written = writeIntoSlot(layout, *best, live, newMovie);
    } else if (canAppend) {
        written = appendAtEnd(layout, live, newMovie);
    } else {
        written = rewriteBeside(layout, live, moov);
    }
    if (written) {
        tidy();
    }
    return written;
}

std::optional<MP4LabelWriter::Slot> MP4LabelWriter::bestSlot(const Layout& layout, uint64_t size,
                                                             uint64_t limit) const {
    // The smallest run of neighbouring 'free' boxes, ending before `limit`,
    // that the box fits in (exactly, or leaving room for a 'free' header).
    std::optional<Slot> best;
    const auto usable = [&](size_t j) {
        return isFree(layout.boxes[j].type) &&
               !(layout.openEnded && j + 1 == layout.boxes.size()) &&
               readUInt32(mFileHandle, layout.boxes[j].offset) != 1;
    };
    for (size_t i = 0; i < layout.boxes.size(); ++i) {
        Slot slot{layout.boxes[i].offset, 0, i, 0};
        for (size_t j = i; j < layout.boxes.size() && usable(j); ++j) {
            slot.size += layout.boxes[j].size;
            slot.boxCount = j - i + 1;
            const uint64_t needed = leadBefore(slot.offset) + size;
            if ((slot.size == needed || slot.size >= needed + 8) &&
                slot.offset + slot.size <= limit &&
                slot.size <= std::numeric_limits<uint32_t>::max()) {
                if (!best || slot.size < best->size) {
                    best = slot;
                }
                break;
            }
        }
    }
    return best;
}

void MP4LabelWriter::retireStaleMovieBoxes(uint64_t keep) {
    // Left by a commit that stopped before it retired the old box; only the
    // first movie box is ever read.
    bool retired = false;
    for (const Box& box : survey().boxes) {
        if (box.type == FourCC("moov") && box.offset != keep) {
            step("retire stale");
            writeAt(box.offset + 4, "free");
            retired = true;
        }
    }
    if (retired) {
        sync();
    }
}

bool MP4LabelWriter::writeIntoSlot(const Layout&, const Slot& slot, const Box& live,
                                   const QByteArray& moov) {
    const uint64_t f = slot.offset;
    const uint64_t lead = leadBefore(f);
    const uint64_t g = f + lead;
    const auto b = static_cast<uint64_t>(moov.size());
    const uint64_t rest = slot.size - lead - b;
    const bool before = f < live.offset;

    // One 'free' box over the whole slot: the same bytes, read the same way.
    // It must be on disk before the headers it covers are overwritten.
    if (slot.boxCount > 1) {
        step("join");
        if (!writeAt(f, mp4UInt32(static_cast<uint32_t>(slot.size))) || !sync()) {
            return fail(QStringLiteral("cannot write %1: %2").arg(mPath, strerror(errno)));
        }
    }
    // Staged inside the slot, where nothing reads it. In front of the live
    // box it is staged as 'free', since the first movie box is the one read.
    QByteArray staged = moov;
    if (before) {
        staged.replace(4, 4, "free");
    }
    step("stage");
    const bool stagedWhole = (lead == 0 ? writeAt(f + 8, staged.mid(8)) : writeAt(g, staged)) &&
                             (rest == 0 || writeAt(g + b, freeHeader(rest))) && (!before || sync());
    // Behind the live box, the new one is never read while the live one is
    // there: it needs no barrier before it shows.
    if (!stagedWhole) {
        return fail(QStringLiteral("cannot write %1: %2").arg(mPath, strerror(errno)));
    }
    // Exposed: a single size write splits the slot around the new box. In
    // whichever order these two writes reach the disk, the file reads as
    // before until both have.
    step("expose");
    const bool exposed =
        lead == 0 ? writeAt(f, staged.left(8)) : writeAt(f, mp4UInt32(static_cast<uint32_t>(lead)));
    if (!exposed || (before && !writeAt(g + 4, "moov")) || !sync()) {
        return fail(QStringLiteral("cannot write %1: %2").arg(mPath, strerror(errno)));
    }
    // The new box is durable before the old one goes. The commit need not be
    // durable when this returns: a power cut then leaves the old label.
    step("retire");
    if (!writeAt(live.offset + 4, "free")) {
        return fail(QStringLiteral("cannot write %1: %2").arg(mPath, strerror(errno)));
    }
    return true;
}

bool MP4LabelWriter::appendAtEnd(const Layout& layout, const Box& live, const QByteArray& moov) {
    const uint64_t end = layout.end;
    if (fileLength(mFileHandle) > end && !truncateTo(end)) {
        return fail(QStringLiteral("cannot write %1: %2").arg(mPath, strerror(errno)));
    }
    const uint64_t lead = leadBefore(end);
    QByteArray tail;
    if (lead > 0) {
        tail = freeHeader(lead) + QByteArray(static_cast<qsizetype>(lead - 8), 0);
    }
    tail.append(moov);
    // After the live box, a second movie box is never read; a crash part
    // way leaves a cut-off box at the end, which nothing reads either.
    step("append");
    if (!writeAt(end, tail) || !sync()) {
        const int cause = errno;
        (void)truncateTo(end);
        return fail(QStringLiteral("cannot write %1: %2").arg(mPath, strerror(cause)));
    }
    step("retire");
    if (!writeAt(live.offset + 4, "free")) {
        return fail(QStringLiteral("cannot write %1: %2").arg(mPath, strerror(errno)));
    }
    return true;
}

bool MP4LabelWriter::rewriteBeside(const Layout&, const Box& live, MP4MovieBox& moov) {
    struct stat status {};
    fstat(mFileHandle, &status);
    if (status.st_nlink > 1) {
        return fail(QStringLiteral("%1 has other names (hard links); its audio would have to "
                                   "move to label it, which would part them, so it is left as "
                                   "it is")
                        .arg(mPath));
    }
    // A link keeps pointing at the tape: the copy is made beside the file
    // the link names, and replaces that.
    const QString target = resolvedPath();
    if (target.isEmpty()) {
        return fail(QStringLiteral("cannot find the file behind %1").arg(mPath));
    }
    const QFileInfo info(target);
    QByteArray pattern = FileNames::encode(
        info.dir().filePath(QStringLiteral(".%1.cassora-XXXXXX").arg(info.fileName())));
    // Copies left by commits that were stopped part way: no commit on this
    // file runs while the lock is held, so they are stale.
    const QString stalePrefix = QStringLiteral(".%1.cassora-").arg(info.fileName());
    for (const QString& name : FileNames::entries(info.absolutePath())) {
        if (name.startsWith(stalePrefix) && name.size() == stalePrefix.size() + 6) {
            ::unlink(FileNames::encode(info.dir().filePath(name)).constData());
        }
    }
    const int out = mkostemp(pattern.data(), O_CLOEXEC);
    if (out < 0) {
        return fail(QStringLiteral("cannot make room for the label of %1: the folder is not "
                                   "writable (%2)")
                        .arg(mPath, strerror(errno)));
    }
    const auto discard = [&](const QString& message) {
        ::close(out);
        ::unlink(pattern.constData());
        return fail(message);
    };
    // Locked from the start, so that nothing takes it for a stale copy.
    if (flock(out, LOCK_EX | LOCK_NB) != 0) {
        return discard(QStringLiteral("cannot lock the new copy of %1").arg(mPath));
    }
    // Room for the next commits, so that they need not move the audio again.
    const uint64_t oldRest = live.offset + live.size;
    const auto restAfter = [&](const MP4MovieBox& movie) {
        const uint64_t size = movie.size();
        return live.offset + size + (size + size / 2 + 16384 + 7) / 8 * 8;
    };
    // Audio moved past 4 GiB needs 64-bit chunk offsets; the wider tables
    // make the box larger, which moves the audio further still.
    if (moov.shiftNeedsWideChunkOffsets(oldRest, static_cast<int64_t>(restAfter(moov) - oldRest))) {
        moov.widenChunkOffsets();
    }
    const uint64_t movie = moov.size();
    const uint64_t newRest = restAfter(moov);
    const uint64_t padding = newRest - live.offset - movie;
    try {
        moov.shiftChunkOffsets(oldRest, static_cast<int64_t>(newRest - oldRest));
    } catch (const InternalInconsistencyException& failure) {
        return discard(QString::fromUtf8(failure.what()));
    }
    const QByteArray bytes = moov.serialized();
    const uint64_t length = fileLength(mFileHandle);
    step("rewrite");
    const bool copied =
        copyRange(mFileHandle, 0, out, 0, live.offset) &&
        pwriteAll(out, bytes.constData(), bytes.size(), live.offset) == 0 &&
        pwriteAll(out, freeHeader(padding).constData(), 8, live.offset + movie) == 0 &&
        ftruncate(out, static_cast<off_t>(newRest)) == 0 &&
        copyRange(mFileHandle, oldRest, out, newRest, length - oldRest);
    fchmod(out, status.st_mode & 07777);
    (void)!fchown(out, status.st_uid, status.st_gid); // only root may give a file away
    if (!copied || fsync(out) != 0) {
        return discard(QStringLiteral("cannot write beside %1: %2").arg(mPath, strerror(errno)));
    }
    step("rename");
    if (::rename(pattern.constData(), FileNames::encode(target).constData()) != 0) {
        return discard(QStringLiteral("cannot replace %1: %2").arg(mPath, strerror(errno)));
    }
    syncFolder(info.absolutePath());
    mRetiredHandles.push_back(mFileHandle);
    mFileHandle = out;
    mMovedAudio = true;
    return true;
}

QString MP4LabelWriter::resolvedPath() const {
    char resolved[PATH_MAX];
    if (!realpath(FileNames::encode(mPath).constData(), resolved)) {
        return {};
    }
    return FileNames::decode(QByteArray(resolved));
}

void MP4LabelWriter::tidy() {
    // Neighbouring 'free' boxes become one, and those at the very end go.
    // Each step is one size write or a truncation: the file reads the same
    // at every moment.
    step("tidy");
    const Layout layout = survey();
    const auto& boxes = layout.boxes;
    for (size_t i = 0; i < boxes.size();) {
        size_t j = i;
        uint64_t joined = 0;
        while (j < boxes.size() && isFree(boxes[j].type) && boxes[j].size < (1ull << 31) &&
               readUInt32(mFileHandle, boxes[j].offset) != 1 &&
               !(layout.openEnded && j + 1 == boxes.size())) {
            joined += boxes[j].size;
            ++j;
        }
        if (j == boxes.size() && j > i && !layout.openEnded && layout.reclaimableTail) {
            (void)truncateTo(boxes[i].offset);
            break;
        }
        if (j > i + 1 && joined <= std::numeric_limits<uint32_t>::max()) {
            writeAt(boxes[i].offset, mp4UInt32(static_cast<uint32_t>(joined)));
        }
        i = j > i ? j : i + 1;
    }
    if (!layout.openEnded && layout.reclaimableTail && fileLength(mFileHandle) > layout.end) {
        (void)truncateTo(layout.end); // a cut-off box at the end
    }
}

bool MP4LabelWriter::writeAt(uint64_t offset, const QByteArray& bytes) {
    MP4ReadCache::invalidate(mFileHandle);
    return pwriteAll(mFileHandle, bytes.constData(), static_cast<size_t>(bytes.size()), offset) ==
           0;
}

bool MP4LabelWriter::truncateTo(uint64_t length) {
    MP4ReadCache::invalidate(mFileHandle);
    return ftruncate(mFileHandle, static_cast<off_t>(length)) == 0;
}

bool MP4LabelWriter::sync() {
    return fdatasync(mFileHandle) == 0;
}

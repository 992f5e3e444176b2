#include "platform/media/Mp4Boxes.h"

#include "platform/audio/FourCharCode.h"
#include "platform/media/FileTransfer.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads an expandable descriptor length (1 to 4 bytes of 7 bits each).
std::optional<uint32_t> descriptorLength(const Mp4BoxReader& reader, uint64_t& offset) {
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        const auto byte = reader.u8(offset++);
        if (!byte) {
            return std::nullopt;
        }
        length = (length << 7) | (*byte & 0x7F);
        if ((*byte & 0x80) == 0) {
            return length;
        }
    }
    return length;
}

void readEsds(const Mp4BoxReader& reader, const Mp4Box& esds, Mp4AudioTrackInfo& info) {
    uint64_t at = esds.payloadOffset() + 4; // version and flags
    if (reader.u8(at) != 0x03) {
        return;
    }
    ++at;
    if (!descriptorLength(reader, at)) {
        return;
    }
    at += 2; // ES_ID
    const auto flags = reader.u8(at++);
    if (!flags) {
        return;
    }
    if (*flags & 0x80) {
        at += 2;
    }
    if (*flags & 0x40) {
        const auto urlLength = reader.u8(at);
        if (!urlLength) {
            return;
        }
        at += 1 + *urlLength;
    }
    if (*flags & 0x20) {
        at += 2;
    }
    if (reader.u8(at) != 0x04) {
        return;
    }
    ++at;
    if (!descriptorLength(reader, at)) {
        return;
    }
    at += 1 + 1 + 3; // object type, stream type, buffer size
    const auto maxBitrate = reader.u32(at);
    const auto avgBitrate = reader.u32(at + 4);
    if (maxBitrate && avgBitrate && at + 8 <= esds.end()) {
        info.esdsMaxBitrate = *maxBitrate;
        info.esdsAvgBitrate = *avgBitrate;
        info.esdsAvgBitrateOffset = at + 4;
    }
}

void readSampleEntry(const Mp4BoxReader& reader, const Mp4Box& stsd, Mp4AudioTrackInfo& info) {
    const auto entries = reader.children(stsd.payloadOffset() + 8, stsd.end());
    if (entries.empty()) {
        return;
    }
    const Mp4Box& entry = entries.front();
    info.sampleEntryType = entry.type;
    const uint64_t fields = entry.payloadOffset() + 8; // reserved and data reference
    const auto version = reader.u16(fields);
    info.channels = reader.u16(fields + 8).value_or(0);
    uint64_t childrenStart = entry.payloadOffset() + 28;
    if (version == 1) {
        childrenStart += 16;
    } else if (version == 2) {
        childrenStart += 36;
    }
    for (const Mp4Box& box : reader.children(childrenStart, entry.end())) {
        if (box.type == FourCC("esds")) {
            readEsds(reader, box, info);
        } else if (box.type == FourCC("alac") && box.size >= 12 + 24) {
            const uint64_t config = box.payloadOffset() + 4;
            info.alacFrameLength = reader.u32(config).value_or(0);
            info.alacBitDepth = reader.u8(config + 5).value_or(0);
        }
    }
}

void readSampleTable(const Mp4BoxReader& reader, const Mp4Box& stbl, Mp4AudioTrackInfo& info) {
    for (const Mp4Box& box : reader.children(stbl.payloadOffset(), stbl.end())) {
        if (box.type == FourCC("stsd")) {
            readSampleEntry(reader, box, info);
        } else if (box.type == FourCC("stts")) {
            const uint32_t entries = reader.u32(box.payloadOffset() + 4).value_or(0);
            uint64_t at = box.payloadOffset() + 8;
            for (uint32_t i = 0; i < entries && at + 8 <= box.end(); ++i, at += 8) {
                const uint64_t count = reader.u32(at).value_or(0);
                const uint32_t delta = reader.u32(at + 4).value_or(0);
                if (i == 0) {
                    info.firstSampleDelta = delta;
                }
                info.totalSampleDuration += count * delta;
            }
        } else if (box.type == FourCC("stsz")) {
            info.sampleCount = reader.u32(box.payloadOffset() + 8).value_or(0);
        } else if (box.type == FourCC("stz2")) {
            info.sampleCount = reader.u32(box.payloadOffset() + 8).value_or(0);
        }
    }
}

void readEditList(const Mp4BoxReader& reader, const Mp4Box& edts, Mp4AudioTrackInfo& info) {
    const auto elst = reader.child(edts, FourCC("elst"));
    if (!elst) {
        return;
    }
    const auto version = reader.u8(elst->payloadOffset());
    const uint32_t entries = reader.u32(elst->payloadOffset() + 4).value_or(0);
    const bool wide = version == 1;
    const uint64_t entrySize = wide ? 20 : 12;
    uint64_t at = elst->payloadOffset() + 8;
    for (uint32_t i = 0; i < entries && at + entrySize <= elst->end(); ++i, at += entrySize) {
        const uint64_t duration = wide ? reader.u64(at).value_or(0) : reader.u32(at).value_or(0);
        const int64_t mediaTime = wide ? static_cast<int64_t>(reader.u64(at + 8).value_or(0))
                                       : static_cast<int32_t>(reader.u32(at + 4).value_or(0));
        if (mediaTime == -1) {
            continue; // an empty edit: a delay before the media starts
        }
        info.hasEdit = true;
        info.editMediaTime = mediaTime;
        info.editDuration = duration;
        info.editDurationOffset = at;
        info.editIsVersion1 = wide;
        return;
    }
}

bool isSoundTrack(const Mp4BoxReader& reader, const Mp4Box& mdia) {
    const auto hdlr = reader.child(mdia, FourCC("hdlr"));
    return hdlr && reader.u32(hdlr->payloadOffset() + 8) == FourCC("soun");
}

uint32_t timescaleOf(const Mp4BoxReader& reader, const Mp4Box& header, uint64_t* duration) {
    const auto version = reader.u8(header.payloadOffset());
    if (version == 1) {
        if (duration) {
            *duration = reader.u64(header.payloadOffset() + 24).value_or(0);
        }
        return reader.u32(header.payloadOffset() + 20).value_or(0);
    }
    if (duration) {
        *duration = reader.u32(header.payloadOffset() + 16).value_or(0);
    }
    return reader.u32(header.payloadOffset() + 12).value_or(0);
}

bool patch(int fd, uint64_t offset, const uint8_t* bytes, size_t size) {
    return fd >= 0 &&
           pwrite(fd, bytes, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// A descriptor for writing, for a FileDescriptor to close.
int openForWriting(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
}

} // namespace

Mp4BoxReader::Mp4BoxReader(const std::string& path)
    : Mp4BoxReader(::open(path.c_str(), O_RDONLY | O_CLOEXEC), true) {}

Mp4BoxReader::Mp4BoxReader(int fd, bool owns) : mFd(fd), mOwnsFd(owns) {
    struct stat status {};
    if (mFd >= 0 && fstat(mFd, &status) == 0) {
        mFileSize = static_cast<uint64_t>(status.st_size);
    }
}

Mp4BoxReader::Mp4BoxReader(int fd, bool owns, uint64_t fileSize)
    : mFd(fd), mOwnsFd(owns), mFileSize(fd >= 0 ? fileSize : 0) {}

Mp4BoxReader::~Mp4BoxReader() {
    if (mFd >= 0 && mOwnsFd) {
        ::close(mFd);
    }
}

bool Mp4BoxReader::read(uint64_t offset, void* data, size_t size) const {
    if (mFd < 0 || offset > mFileSize || size > mFileSize - offset) {
        return false;
    }
    if (size > kWindow / 4) {
        return pread(mFd, data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
    }
    // Box headers and fields come from one window read at a time.
    if (offset < mWindowOffset || offset + size > mWindowOffset + mWindowSize) {
        const auto wanted = static_cast<size_t>(std::min<uint64_t>(kWindow, mFileSize - offset));
        const ssize_t got = pread(mFd, mWindow.data(), wanted, static_cast<off_t>(offset));
        mWindowOffset = offset;
        mWindowSize = got > 0 ? static_cast<size_t>(got) : 0;
        if (mWindowSize < size) {
            return false;
        }
    }
    std::memcpy(data, mWindow.data() + (offset - mWindowOffset), size);
    return true;
}

std::optional<uint8_t> Mp4BoxReader::u8(uint64_t offset) const {
    uint8_t value = 0;
    return read(offset, &value, 1) ? std::optional<uint8_t>(value) : std::nullopt;
}

std::optional<uint16_t> Mp4BoxReader::u16(uint64_t offset) const {
    uint8_t b[2];
    if (!read(offset, b, 2)) {
        return std::nullopt;
    }
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

std::optional<uint32_t> Mp4BoxReader::u32(uint64_t offset) const {
    uint8_t b[4];
    if (!read(offset, b, 4)) {
        return std::nullopt;
    }
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

std::optional<uint64_t> Mp4BoxReader::u64(uint64_t offset) const {
    const auto high = u32(offset);
    const auto low = u32(offset + 4);
    if (!high || !low) {
        return std::nullopt;
    }
    return (uint64_t{*high} << 32) | *low;
}

std::optional<Mp4Box> Mp4BoxReader::boxAt(uint64_t at, uint64_t end) const {
    if (at + 8 > end) {
        return std::nullopt;
    }
    const auto size32 = u32(at);
    const auto type = u32(at + 4);
    if (!size32 || !type) {
        return std::nullopt;
    }
    Mp4Box box;
    box.offset = at;
    box.type = *type;
    box.headerSize = 8;
    if (*size32 == 1) {
        const auto size64 = u64(at + 8);
        if (!size64) {
            return std::nullopt;
        }
        box.size = *size64;
        box.headerSize = 16;
    } else if (*size32 == 0) {
        box.size = end - at; // runs to the end of its parent
    } else {
        box.size = *size32;
    }
    if (box.size < box.headerSize || box.size > end - at) {
        return std::nullopt;
    }
    return box;
}

std::vector<Mp4Box> Mp4BoxReader::children(uint64_t begin, uint64_t end) const {
    std::vector<Mp4Box> boxes;
    firstChildWhere(begin, end, [&](const Mp4Box& box) {
        boxes.push_back(box);
        return false;
    });
    return boxes;
}

std::optional<Mp4Box> Mp4BoxReader::child(const Mp4Box& parent, uint32_t type,
                                          uint64_t skip) const {
    return firstChildWhere(parent.payloadOffset() + skip, parent.end(),
                           [type](const Mp4Box& box) { return box.type == type; });
}

std::optional<Mp4Box> Mp4BoxReader::topLevelBox(uint32_t type) const {
    return firstChildWhere(0, mFileSize, [type](const Mp4Box& box) { return box.type == type; });
}

std::optional<Mp4AudioTrackInfo> readMp4AudioTrackInfo(const std::string& path) {
    return readMp4AudioTrackInfo(Mp4BoxReader(path));
}

std::optional<Mp4AudioTrackInfo> readMp4AudioTrackInfo(int fd) {
    return readMp4AudioTrackInfo(Mp4BoxReader(fd, false));
}

std::optional<Mp4AudioTrackInfo> readMp4AudioTrackInfo(const Mp4BoxReader& reader) {
    if (!reader.isOpen()) {
        return std::nullopt;
    }
    const auto moov = reader.topLevelBox(FourCC("moov"));
    if (!moov) {
        return std::nullopt;
    }
    Mp4AudioTrackInfo info;
    if (const auto mvhd = reader.child(*moov, FourCC("mvhd"))) {
        info.movieTimescale = timescaleOf(reader, *mvhd, &info.movieDuration);
        info.movieHeaderIsVersion1 = reader.u8(mvhd->payloadOffset()) == 1;
        info.movieDurationOffset = mvhd->payloadOffset() + (info.movieHeaderIsVersion1 ? 24 : 16);
    }
    for (const Mp4Box& trak : reader.children(moov->payloadOffset(), moov->end())) {
        if (trak.type != FourCC("trak")) {
            continue;
        }
        const auto mdia = reader.child(trak, FourCC("mdia"));
        if (!mdia || !isSoundTrack(reader, *mdia)) {
            continue;
        }
        if (const auto mdhd = reader.child(*mdia, FourCC("mdhd"))) {
            info.mediaTimescale = timescaleOf(reader, *mdhd, &info.mediaDuration);
        }
        if (const auto tkhd = reader.child(trak, FourCC("tkhd"))) {
            info.trackHeaderIsVersion1 = reader.u8(tkhd->payloadOffset()) == 1;
            info.trackDurationOffset =
                tkhd->payloadOffset() + (info.trackHeaderIsVersion1 ? 28 : 20);
        }
        if (const auto edts = reader.child(trak, FourCC("edts"))) {
            readEditList(reader, *edts, info);
        }
        const auto minf = reader.child(*mdia, FourCC("minf"));
        const auto stbl = minf ? reader.child(*minf, FourCC("stbl")) : std::nullopt;
        if (stbl) {
            readSampleTable(reader, *stbl, info);
        }
        return info;
    }
    return std::nullopt;
}

bool patchMp4UInt32(int fd, uint64_t offset, uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return patch(fd, offset, bytes, sizeof(bytes));
}

bool patchMp4UInt64(int fd, uint64_t offset, uint64_t value) {
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (56 - 8 * i));
    }
    return patch(fd, offset, bytes, sizeof(bytes));
}

bool patchMp4UInt32(const std::string& path, uint64_t offset, uint32_t value) {
    return patchMp4UInt32(FileDescriptor(openForWriting(path)).fd(), offset, value);
}

bool patchMp4UInt64(const std::string& path, uint64_t offset, uint64_t value) {
    return patchMp4UInt64(FileDescriptor(openForWriting(path)).fd(), offset, value);
}

bool correctMp4AudioTrackTiming(const std::string& path, int64_t frames, int sampleRate,
                                uint32_t nominalBitRate) {
    return correctMp4AudioTrackTiming(FileDescriptor(openForWriting(path)).fd(), frames, sampleRate,
                                      nominalBitRate);
}

bool correctMp4AudioTrackTiming(int fd, int64_t frames, int sampleRate, uint32_t nominalBitRate) {
    const auto track = readMp4AudioTrackInfo(fd);
    if (!track) {
        return false;
    }
    bool patched = true;
    const auto patchDuration = [&](uint64_t offset, bool wide, uint64_t duration) {
        if (offset != 0 && patched) {
            patched = wide ? patchMp4UInt64(fd, offset, duration)
                           : patchMp4UInt32(fd, offset, static_cast<uint32_t>(duration));
        }
    };
    if (track->movieTimescale > 0 && sampleRate > 0 && frames >= 0) {
        const auto duration = static_cast<uint64_t>(
            (static_cast<__int128>(frames) * track->movieTimescale + sampleRate / 2) / sampleRate);
        if (track->hasEdit && duration != track->editDuration) {
            patchDuration(track->editDurationOffset, track->editIsVersion1, duration);
        }
        if (duration != track->movieDuration) {
            patchDuration(track->movieDurationOffset, track->movieHeaderIsVersion1, duration);
            patchDuration(track->trackDurationOffset, track->trackHeaderIsVersion1, duration);
        }
    }
    if (patched && nominalBitRate != 0 && track->esdsAvgBitrateOffset) {
        patched = patchMp4UInt32(fd, track->esdsAvgBitrateOffset, nominalBitRate);
    }
    return patched;
}

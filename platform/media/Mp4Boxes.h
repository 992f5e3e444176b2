#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A small reader of MPEG-4 boxes: enough to find a file's audio track and
// the fields that FFmpeg does not report (edit list, sample table totals,
// the decoder configuration's bit rates), and to patch fixed-size fields in
// place. It understands 64-bit box sizes and a last box of size 0 (to the end
// of its parent), and never reads outside the file.

struct Mp4Box {
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t type = 0;
    uint32_t headerSize = 0;

    uint64_t payloadOffset() const { return offset + headerSize; }
    uint64_t end() const { return offset + size; }
};

class Mp4BoxReader {
public:
    // Reads the file at `path`; `isOpen()` tells whether it could be opened.
    explicit Mp4BoxReader(const std::string& path);
    // Reads an open file, closing it at the end only when it `owns` it.
    Mp4BoxReader(int fd, bool owns);
    // The same for a file whose size is known (one that nobody else changes).
    Mp4BoxReader(int fd, bool owns, uint64_t fileSize);
    ~Mp4BoxReader();
    Mp4BoxReader(const Mp4BoxReader&) = delete;
    Mp4BoxReader& operator=(const Mp4BoxReader&) = delete;

    bool isOpen() const { return mFd >= 0; }
    uint64_t fileSize() const { return mFileSize; }

    // The boxes that lie in [begin, end), in order; stops at the first box
    // whose header does not fit.
    std::vector<Mp4Box> children(uint64_t begin, uint64_t end) const;
    std::vector<Mp4Box> topLevel() const { return children(0, mFileSize); }
    // The first child of `parent` with `type`, its children starting `skip`
    // bytes into the payload.
    std::optional<Mp4Box> child(const Mp4Box& parent, uint32_t type, uint64_t skip = 0) const;
    std::optional<Mp4Box> topLevelBox(uint32_t type) const;

    bool read(uint64_t offset, void* data, size_t size) const;
    std::optional<uint8_t> u8(uint64_t offset) const;
    std::optional<uint16_t> u16(uint64_t offset) const;
    std::optional<uint32_t> u32(uint64_t offset) const;
    std::optional<uint64_t> u64(uint64_t offset) const;

private:
    static constexpr size_t kWindow = 4096;
    static constexpr size_t kMaxChildren = 100000; // a bound for damaged files

    // The box whose header is at `at`, when it fits in [at, end).
    std::optional<Mp4Box> boxAt(uint64_t at, uint64_t end) const;
    // The first of the boxes in [begin, end), walked in order, for which
    // `wanted` says yes.
    template <typename Wanted>
    std::optional<Mp4Box> firstChildWhere(uint64_t begin, uint64_t end, Wanted&& wanted) const {
        end = std::min(end, mFileSize);
        uint64_t at = begin;
        for (size_t walked = 0; walked < kMaxChildren; ++walked) {
            const std::optional<Mp4Box> box = boxAt(at, end);
            if (!box) {
                break;
            }
            if (wanted(*box)) {
                return box;
            }
            at += box->size;
        }
        return std::nullopt;
    }

    int mFd = -1;
    bool mOwnsFd = true;
    uint64_t mFileSize = 0;
    // The last bytes read, for the many small reads of a walk; a reader
    // sees the file as it was when it read them.
    mutable std::array<uint8_t, kWindow> mWindow;
    mutable uint64_t mWindowOffset = 0;
    mutable size_t mWindowSize = 0;
};

// What the audio track of an MPEG-4 file says about its timing and codec.
struct Mp4AudioTrackInfo {
    uint32_t movieTimescale = 0;
    uint32_t mediaTimescale = 0;
    uint64_t mediaDuration = 0;    // in the media timescale
    uint64_t sampleCount = 0;      // packets
    uint32_t firstSampleDelta = 0; // frames per packet, in the media timescale
    uint64_t totalSampleDuration = 0;
    bool hasEdit = false;
    int64_t editMediaTime = 0;       // media timescale
    uint64_t editDuration = 0;       // movie timescale
    uint64_t editDurationOffset = 0; // where the duration field is, for patching
    bool editIsVersion1 = false;
    // The duration fields of the movie and track headers (movie timescale).
    uint64_t movieDuration = 0;
    uint64_t movieDurationOffset = 0;
    bool movieHeaderIsVersion1 = false;
    uint64_t trackDurationOffset = 0;
    bool trackHeaderIsVersion1 = false;
    uint32_t sampleEntryType = 0; // 'mp4a', 'alac', ...
    uint16_t channels = 0;
    uint32_t esdsMaxBitrate = 0;
    uint32_t esdsAvgBitrate = 0;
    uint64_t esdsAvgBitrateOffset = 0; // 0 when there is no esds
    uint32_t alacFrameLength = 0;
    uint8_t alacBitDepth = 0;
};

// The first sound track of the file; nothing when the file is not a readable
// MPEG-4 file with one.
std::optional<Mp4AudioTrackInfo> readMp4AudioTrackInfo(const std::string& path);
std::optional<Mp4AudioTrackInfo> readMp4AudioTrackInfo(int fd);
std::optional<Mp4AudioTrackInfo> readMp4AudioTrackInfo(const Mp4BoxReader& reader);

// Overwrites a big-endian field in place. False when the file cannot be
// written there.
bool patchMp4UInt32(const std::string& path, uint64_t offset, uint32_t value);
bool patchMp4UInt64(const std::string& path, uint64_t offset, uint64_t value);
bool patchMp4UInt32(int fd, uint64_t offset, uint32_t value);
bool patchMp4UInt64(int fd, uint64_t offset, uint64_t value);

// Makes the movie, the track and the edit list of the file's audio track
// last exactly `frames` frames at `sampleRate`, and, when `nominalBitRate` is
// not 0, writes it as the 'esds' average bit rate. False when the file cannot
// be read or patched.
bool correctMp4AudioTrackTiming(const std::string& path, int64_t frames, int sampleRate,
                                uint32_t nominalBitRate);
// The same on an open, writable file (wherever its folder has gone).
bool correctMp4AudioTrackTiming(int fd, int64_t frames, int sampleRate, uint32_t nominalBitRate);

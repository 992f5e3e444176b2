#include "platform/media/LostStretchScan.h"

#include "platform/media/FileTransfer.h"

#include <algorithm>
#include <numeric>

namespace {

// Packets that must decode one after another at an offset; fewer than the
// least is too little to be sure of.
constexpr size_t kPacketsMatched = 8;
constexpr size_t kLeastPacketsMatched = 4;
// Packets of the run decoded, one after another, at an offset where the
// first ones decode: a steady tone makes a stream that nearly repeats, so a
// few packets can fit a second place, but a long run does not.
// Bounded in packets and bytes; and a stream where many places fit a few
// packets (silence, which is the same packet again and again) is not one
// whose packets can be placed for certain.
constexpr size_t kPacketsConfirmed = 256;
constexpr uint64_t kBytesConfirmed = 4 << 20;
constexpr int kMostConfirmations = 64;
// Offsets tried per read of the file.
constexpr uint64_t kBlock = 1 << 20;

} // namespace

uint64_t LostStretchScan::largestRange(const RecordingJournalHeader& header) {
    return header.codec == "aac" ? 512 << 10 : 8 << 20;
}

uint64_t LostStretchScan::mostOffsets(const RecordingJournalHeader& header) {
    return 2 * largestRange(header);
}

LostStretchScan::LostStretchScan(int fd, const RecordingJournalHeader& header, uint64_t fileSize)
    : mFd(fd), mHeader(header), mFileSize(fileSize), mOffsetsLeft(mostOffsets(header)),
      mDecoder(header) {}

std::optional<uint64_t> LostStretchScan::find(uint64_t lostFrom, uint64_t lostPackets,
                                              const std::vector<uint32_t>& sizes) {
    const size_t matched = std::min(sizes.size(), kPacketsMatched);
    const uint64_t largest = PacketDecoder::largestPacket(mHeader);
    const uint64_t runBytes = std::accumulate(sizes.begin(), sizes.end(), uint64_t{0});
    if (!mDecoder.isOpen() || matched < kLeastPacketsMatched || lostPackets == 0 ||
        lostPackets > largestRange(mHeader) || runBytes > mFileSize) {
        return std::nullopt;
    }
    // Each lost packet took at least a byte and at most the largest packet,
    // and every packet named after them is in the file.
    const uint64_t first = lostFrom + lostPackets;
    const uint64_t last = std::min(lostFrom + lostPackets * largest, mFileSize - runBytes);
    if (first > last || last - first >= largestRange(mHeader) || last - first >= mOffsetsLeft) {
        return std::nullopt;
    }
    mOffsetsLeft -= last - first + 1;
    const uint64_t matchedBytes =
        std::accumulate(sizes.begin(), sizes.begin() + static_cast<long>(matched), uint64_t{0});
    std::optional<uint64_t> found;
    int confirmations = 0;
    for (uint64_t block = first; block <= last; block += kBlock) {
        const uint64_t blockLast = std::min(last, block + kBlock - 1);
        mBlock.resize(blockLast - block + matchedBytes);
        if (preadAll(mFd, mBlock.data(), mBlock.size(), block) != 0) {
            return std::nullopt;
        }
        for (uint64_t at = block; at <= blockLast; ++at) {
            if (!decodesAt(mBlock.data() + (at - block), sizes, matched)) {
                continue;
            }
            if (++confirmations > kMostConfirmations) {
                return std::nullopt;
            }
            if (runDecodesAt(at, sizes)) {
                if (found) {
                    return std::nullopt; // two places fit: neither is certain
                }
                found = at;
            }
        }
    }
    return found;
}

bool LostStretchScan::runDecodesAt(uint64_t offset, const std::vector<uint32_t>& sizes) {
    size_t count = 0;
    uint64_t bytes = 0;
    for (; count < std::min(sizes.size(), kPacketsConfirmed); ++count) {
        if (count >= kPacketsMatched && bytes + sizes[count] > kBytesConfirmed) {
            break;
        }
        bytes += sizes[count];
    }
    std::vector<uint8_t> run(bytes);
    return preadAll(mFd, run.data(), run.size(), offset) == 0 &&
           decodesAt(run.data(), sizes, count);
}

bool LostStretchScan::decodesAt(const uint8_t* at, const std::vector<uint32_t>& sizes,
                                size_t count) {
    // Every packet must start as one before any is decoded.
    const uint8_t* start = at;
    for (size_t i = 0; i < count; ++i) {
        if (!mDecoder.mayStartPacket(start, sizes[i])) {
            return false;
        }
        start += sizes[i];
    }
    for (size_t i = 0; i < count; ++i) {
        if (!mDecoder.decodesWhole(at, sizes[i], i > 0)) {
            return false;
        }
        at += sizes[i];
    }
    return true;
}

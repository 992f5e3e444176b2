#include "platform/media/PacketWalk.h"

#include "platform/media/FileTransfer.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// Bytes read at a time; each read reaches a largest packet past the last
// offset it is used for.
constexpr uint64_t kBlock = 1 << 20;
// The fewest bytes that show whether they can start a packet.
constexpr uint64_t kStartBytes = 3;

} // namespace

PacketWalk::PacketWalk(int fd, const RecordingJournalHeader& header, uint64_t fileSize,
                       uint64_t from)
    : mFd(fd), mHeader(header), mFileSize(fileSize), mFrom(std::max(from, header.dataOffset)),
      mDecoder(header) {}

std::vector<uint32_t> PacketWalk::sizes() {
    std::vector<uint32_t> found;
    if (!mDecoder.isOpen() || mFrom >= mFileSize) {
        return found;
    }
    // A packet and the start of the next one.
    const uint64_t reach = PacketDecoder::largestPacket(mHeader) + kStartBytes;
    const uint64_t blockSize = std::min(kBlock + reach, mFileSize - mFrom);
    const std::unique_ptr<uint8_t[]> block(new uint8_t[blockSize]);
    uint64_t blockStart = 0;
    uint64_t blockEnd = 0;
    uint64_t lastStart = 0;
    for (uint64_t at = mFrom; at < mFileSize;) {
        const uint64_t available = std::min(reach, mFileSize - at);
        if (at + available > blockEnd) {
            blockStart = at;
            blockEnd = std::min(at + blockSize, mFileSize);
            if (preadAll(mFd, block.get(), blockEnd - blockStart, blockStart) != 0) {
                break;
            }
        }
        const uint32_t size = packetAt(block.get() + (at - blockStart), available);
        if (size == 0) {
            break;
        }
        found.push_back(size);
        lastStart = at;
        at += size;
    }
    if (!found.empty() && !mDecoder.isAac()) {
        trimLast(found, lastStart);
    }
    return found;
}

uint32_t PacketWalk::packetAt(const uint8_t* data, uint64_t available) {
    if (!mDecoder.mayStartPacket(data, static_cast<uint32_t>(available))) {
        return 0;
    }
    const uint64_t most = std::min(available, PacketDecoder::largestPacket(mHeader));
    if (!mDecoder.isAac()) {
        if (const uint64_t size = firstEndBeforeAStart(data, available, most); size > 0) {
            return static_cast<uint32_t>(size);
        }
    }
    if (mDecoder.isAac()) {
        // With a byte less it does not decode, so the decoder took every
        // byte up to its end: nothing is left over.
        const uint64_t size = firstDecodingEnd(data, available, most);
        const bool whole = size > 1 || (size == 1 && tryWhole(data, size));
        return whole && data[size - 1] != 0 ? static_cast<uint32_t>(size) : 0;
    }
    // The last packet of a lossless recording, followed by bytes that start
    // none.
    const uint64_t size = shortestDecodingStretch(data, most);
    if (size == 0 || data[size - 1] == 0 || !tryWhole(data, size)) {
        return 0;
    }
    return static_cast<uint32_t>(size);
}

uint64_t PacketWalk::firstEndBeforeAStart(const uint8_t* data, uint64_t available,
                                          uint64_t most) {
    for (uint64_t size = 1; size <= most; ++size) {
        if (mayEndAt(data, available, size) && tryWhole(data, size)) {
            return size;
        }
    }
    return 0;
}

uint64_t PacketWalk::firstDecodingEnd(const uint8_t* data, uint64_t available, uint64_t most) {
    mEnds.clear();
    for (uint64_t size = 1; size < most; ++size) {
        if (mayEndAt(data, available, size)) {
            mEnds.push_back(size);
        }
    }
    size_t first = 0;
    size_t last = mEnds.size();
    while (first < last) {
        const size_t middle = first + (last - first) / 2;
        if (tryFirstPacket(data, mEnds[middle])) {
            last = middle;
        } else if (spent()) {
            return 0;
        } else {
            first = middle + 1;
        }
    }
    uint64_t end = most;
    if (first < mEnds.size()) {
        end = mEnds[first];
    } else if (!tryFirstPacket(data, most)) {
        return 0; // not a packet, or one cut short
    }
    const uint64_t failed = first > 0 ? mEnds[first - 1] : 0; // 0: none tried
    // The packet may end sooner, where bytes that start no packet follow it.
    if (end - 1 > failed && tryFirstPacket(data, end - 1)) {
        return shortestBetween(data, failed + 1, end - 1);
    }
    return spent() ? 0 : end;
}

uint64_t PacketWalk::shortestDecodingStretch(const uint8_t* data, uint64_t most) {
    return tryFirstPacket(data, most) ? shortestBetween(data, 1, most) : 0;
}

uint64_t PacketWalk::shortestBetween(const uint8_t* data, uint64_t shortest, uint64_t longest) {
    while (shortest < longest) {
        const uint64_t middle = shortest + (longest - shortest) / 2;
        if (tryFirstPacket(data, middle)) {
            longest = middle;
        } else if (spent()) {
            return 0;
        } else {
            shortest = middle + 1;
        }
    }
    return longest;
}

void PacketWalk::trimLast(std::vector<uint32_t>& found, uint64_t lastStart) {
    const uint32_t size = found.back();
    std::vector<uint8_t> packet(size);
    if (size < 2 || preadAll(mFd, packet.data(), packet.size(), lastStart) != 0 ||
        !tryFirstPacket(packet.data(), size - 1)) {
        return; // one byte less does not decode: it ends where it was found
    }
    const uint64_t shortest = shortestDecodingStretch(packet.data(), size - 1);
    if (shortest > 0 && packet[shortest - 1] != 0) {
        found.back() = static_cast<uint32_t>(shortest);
    }
}

bool PacketWalk::tryWhole(const uint8_t* data, uint64_t size) {
    if (!spend(size)) {
        return false;
    }
    return mDecoder.decodesWhole(data, static_cast<uint32_t>(size));
}

bool PacketWalk::tryFirstPacket(const uint8_t* data, uint64_t size) {
    if (!spend(size)) {
        return false;
    }
    return mDecoder.decodesFirstPacket(data, static_cast<uint32_t>(size));
}

bool PacketWalk::spend(uint64_t bytes) {
    if (spent() || bytes > mBytesLeft) {
        mTriesLeft = 0;
        return false;
    }
    --mTriesLeft;
    mBytesLeft -= bytes;
    return true;
}

bool PacketWalk::spent() const {
    return mTriesLeft == 0;
}

bool PacketWalk::mayEndAt(const uint8_t* data, uint64_t available, uint64_t size) const {
    const uint64_t after = available - size;
    // Too few bytes after it to tell: the start of a packet the recording
    // was cut short in.
    return data[size - 1] != 0 &&
           (after < kStartBytes ||
            mDecoder.mayStartPacket(data + size, static_cast<uint32_t>(after)));
}

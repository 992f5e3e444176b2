#pragma once

#include "platform/media/PacketDecoder.h"
#include "platform/media/RecordingJournal.h"

#include <cstdint>
#include <vector>

// Finds the packets of a recording that its journal does not name: all of
// them when it names none (every batch lost, or the recording cut short
// before its first), or those written after its last batch. Raw AAC and ALAC carry neither a frame sync nor a length, so
// the decoder is the judge. A packet ends with the element that closes it,
// so its last byte is never 0; cut short, it does not decode, and with bytes
// after it, it does: so a packet is the shortest stretch that decodes.
//
// Bounded: the file is read a block at a time, and the decoding tried in all
// is capped, so a long or hostile file costs some seconds at most. The walk
// stops at the first stretch that is not a packet; whatever follows stays
// for the caller to keep.
class PacketWalk {
public:
    // Decodings tried, and bytes decoded, in all: at least fifteen minutes of
    // CD-rate AAC (about eight decodings of half a packet each per packet)
    // or of lossless audio (one decoding a packet), and a few seconds' work.
    static constexpr uint64_t kMostTries = 600'000;
    static constexpr uint64_t kMostBytes = 256ull << 20;

    // A walk from `from`, where a packet starts: the audio's start unless
    // given.
    PacketWalk(int fd, const RecordingJournalHeader& header, uint64_t fileSize,
               uint64_t from = 0);

    // The sizes of the packets found one after another from where the walk
    // starts; empty when not even the first decodes.
    std::vector<uint32_t> sizes();

private:
    // The size of the packet that starts `data`, with `available` bytes of
    // the file from there; 0 when no stretch of it is one.
    uint32_t packetAt(const uint8_t* data, uint64_t available);
    // The first length after which a packet can start and up to which the
    // packet decodes: a lossless packet's end, found with one decoding or
    // so. (A lossless decoder takes bytes after a packet with it, so where
    // none can start, the length may run past the end.)
    uint64_t firstEndBeforeAStart(const uint8_t* data, uint64_t available, uint64_t most);
    // Where the first packet in `data` ends, found by halving: the shortest
    // stretch of at most `most` bytes whose first packet decodes; 0 when
    // none does. Ten decodings or so instead of one for every length.
    uint64_t shortestDecodingStretch(const uint8_t* data, uint64_t most);
    // The same for an AAC packet, with fewer decodings: the halving runs
    // over the lengths after which a packet can start (about one in eight),
    // and one more decoding tells whether the packet ends sooner. Either
    // way, one byte less than the length found is known not to decode
    // (unless it is a single byte).
    uint64_t firstDecodingEnd(const uint8_t* data, uint64_t available, uint64_t most);
    // The shortest stretch from `shortest` to `longest` bytes whose first
    // packet decodes, when `longest` bytes do.
    uint64_t shortestBetween(const uint8_t* data, uint64_t shortest, uint64_t longest);
    // Shortens the last packet found to where it really ends, when bytes
    // that start no packet follow it.
    void trimLast(std::vector<uint32_t>& found, uint64_t lastStart);
    // Whether a packet can end `size` bytes into `data`: its last byte is
    // not 0, and the file ends there or what follows can start a packet.
    bool mayEndAt(const uint8_t* data, uint64_t available, uint64_t size) const;
    // Takes one decoding of `bytes` from what the walk may still spend;
    // false once it is spent.
    bool spend(uint64_t bytes);
    bool spent() const;
    // Decodings, each counted against the walk's bound.
    bool tryWhole(const uint8_t* data, uint64_t size);
    bool tryFirstPacket(const uint8_t* data, uint64_t size);

    int mFd;
    const RecordingJournalHeader& mHeader;
    uint64_t mFileSize;
    uint64_t mFrom;
    uint64_t mTriesLeft = kMostTries;
    uint64_t mBytesLeft = kMostBytes;
    PacketDecoder mDecoder;
    std::vector<uint32_t> mEnds; // where a packet may end, tried by halving
};

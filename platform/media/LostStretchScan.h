#pragma once

#include "platform/media/PacketDecoder.h"
#include "platform/media/RecordingJournal.h"

#include <cstdint>
#include <optional>
#include <vector>

// Finds where packets start in a recording when its journal lost the
// stretch before them: the journal still gives their sizes, and how many
// packets were lost, but not how many bytes those took. Every offset the
// lost packets can end at is tried, and the packets are decoded there; an
// offset counts only when it is the one place where several of them decode,
// each exactly at its size. Raw AAC and ALAC have no frame sync to look for,
// so the decoder is the only judge.
//
// Bounded: the range tried for a stretch and the offsets tried in all are
// capped, and the file is read a block at a time.
class LostStretchScan {
public:
    // The most offsets tried for one lost stretch and for all of them: a
    // few seconds of decoding each. A lossless decoder rejects an offset
    // some fifteen times faster than an AAC one.
    static uint64_t largestRange(const RecordingJournalHeader& header);
    static uint64_t mostOffsets(const RecordingJournalHeader& header);

    LostStretchScan(int fd, const RecordingJournalHeader& header, uint64_t fileSize);

    // Where `sizes` start, given that `lostPackets` packets were written from
    // `lostFrom` on before them. Nothing when no offset, or more than one,
    // fits, or when the range is beyond the scan's bounds.
    std::optional<uint64_t> find(uint64_t lostFrom, uint64_t lostPackets,
                                 const std::vector<uint32_t>& sizes);

private:
    // Whether the first `count` of `sizes` decode one after another from `at`.
    bool decodesAt(const uint8_t* at, const std::vector<uint32_t>& sizes, size_t count);
    // Whether the whole run (or a long start of it) does, read from `offset`.
    bool runDecodesAt(uint64_t offset, const std::vector<uint32_t>& sizes);

    int mFd;
    const RecordingJournalHeader& mHeader;
    uint64_t mFileSize;
    uint64_t mOffsetsLeft;
    PacketDecoder mDecoder;
    std::vector<uint8_t> mBlock;
};

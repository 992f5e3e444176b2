#pragma once

#include "platform/media/RecordingJournal.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

// Decodes single packets of a recording's audio with the encoder's set-up
// that its journal gives, to tell whether bytes of the file are whole
// packets of that recording.
class PacketDecoder {
public:
    explicit PacketDecoder(const RecordingJournalHeader& header);
    ~PacketDecoder();
    PacketDecoder(const PacketDecoder&) = delete;
    PacketDecoder& operator=(const PacketDecoder&) = delete;

    bool isOpen() const { return mOpened && mFrame && mPacket; }

    // Whether `size` bytes decode as exactly one packet: no error, one frame
    // of at most a packet's frames, and nothing left over. With `continuing`
    // the decoder goes on from the packet before (the one just before these
    // bytes in the file); otherwise it starts afresh.
    bool decodesWhole(const uint8_t* data, uint32_t size, bool continuing = false);
    // Whether the first packet in `size` bytes decodes, whatever follows it
    // (a fresh start). An AAC decoder that runs out of bytes before the
    // packet's end fails, so for AAC the shortest stretch that passes ends
    // where the packet does. (A lossless decoder also fails on bytes that
    // follow a packet.)
    bool decodesFirstPacket(const uint8_t* data, uint32_t size);
    bool isAac() const { return mAac; }
    // Whether `size` bytes start as a packet of the recording's encoder
    // does: its first syntax element is the channel element the channel
    // count gives (or, in AAC, the fill element the encoder puts in front
    // now and then), for instance 0. Cheap, and true of every real packet,
    // so a scan decodes only where it holds.
    bool mayStartPacket(const uint8_t* data, uint32_t size) const;

    // The largest packet the recording's encoder can make, in bytes.
    static uint64_t largestPacket(const RecordingJournalHeader& header);

private:
    // The decoder for the set-up, flushed when `afresh` and it may hold
    // state; nothing when it cannot be had or there is nothing to decode.
    AVCodecContext* readyDecoder(uint32_t size, bool afresh);
    // Sends `size` bytes and takes the first frame: whether it is one
    // packet's worth of the recording's channels; nothing when none decodes.
    std::optional<bool> firstFrameFits(AVCodecContext* decoder, const uint8_t* data,
                                       uint32_t size);
    // Copies `size` bytes into the decoder's own padded buffer, which the
    // packet refers to: a packet without a buffer of its own would be copied
    // into a newly allocated one on every decoding.
    bool stage(const uint8_t* data, uint32_t size);
    // Whether a packet's first byte can be `first` (its first element).
    bool mayStartWith(uint8_t first) const;

    const RecordingJournalHeader& mHeader;
    bool mAac;                       // else lossless
    std::array<bool, 256> mStarts{}; // the first bytes a packet can have
    std::string mSetUp;              // what a decoder is opened with
    bool mOpened = false;
    bool mDecoded = true; // the decoder may hold state from the last packet
    AVFrame* mFrame = nullptr;
    AVPacket* mPacket = nullptr;
    AVBufferRef* mBuffer = nullptr;
};

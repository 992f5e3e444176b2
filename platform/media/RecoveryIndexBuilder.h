#pragma once

#include "platform/media/RecordingJournal.h"

#include <cstdint>
#include <string>
#include <vector>

// Writes the index of a recording that was cut short, around its audio as
// it lies in the file: FFmpeg's muxer runs over the packets the journal
// names, and only what it writes before and after the audio reaches the
// file, which is cut after the last of those packets first.
// Where the packets that are to play lie in the file: one after another
// from the audio's start, but for stretches of bytes whose packets are not
// known, which are stepped over and stay in the file, unplayed.
struct PacketLayout {
    struct Gap {
        size_t beforePacket; // `sizes.size()` for bytes after the last packet
        uint64_t bytes;
    };
    std::vector<uint32_t> sizes;
    std::vector<Gap> gaps; // in order
};

namespace RecoveryIndexBuilder {

// Finishes the open, locked file `fd`, whose audio ends at `audioEnd`. False
// (with `error`) when it could not; the file may then have been cut after
// the audio.
bool finish(int fd, const RecordingJournalHeader& header, const PacketLayout& packets,
            uint64_t audioEnd, std::string* error);

// What our recorder's muxers write before any audio, one for each file type.
const std::vector<std::vector<uint8_t>>& bareHeaders();
// The same for one muxer ("ipod" or "mp4"); empty for any other.
const std::vector<uint8_t>& bareHeader(const std::string& muxer);

} // namespace RecoveryIndexBuilder

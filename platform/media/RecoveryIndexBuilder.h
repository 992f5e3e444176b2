#pragma once

#include "platform/media/RecordingJournal.h"

#include <cstdint>
#include <string>
#include <vector>

// Writes the index of a recording that was cut short, around its audio as
// it lies in the file: FFmpeg's muxer runs over the packets the journal
// names, and only what it writes before and after the audio reaches the
// file, which is cut after the last of those packets first.
namespace RecoveryIndexBuilder {

// Finishes the open, locked file `fd`. False (with `error`) when it could
// not; the file may then have been cut after the packets.
bool finish(int fd, const RecordingJournalHeader& header, const std::vector<uint32_t>& packets,
            uint64_t audioEnd, std::string* error);

// What our recorder's muxers write before any audio, one for each file type.
const std::vector<std::vector<uint8_t>>& bareHeaders();

} // namespace RecoveryIndexBuilder

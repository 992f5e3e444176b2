#pragma once

#include "platform/media/RecordingJournal.h"

#include <string>
#include <vector>

// The encoder set-ups this program's recorder writes files with, as their
// journals would give them: used to finish a recording whose journal lost
// its header, when the audio shows which one it was made with.
class RecorderSetUps {
public:
    // Every set-up whose muxer is `muxer` ("ipod" or "mp4"), with the encoder's
    // configuration and priming as the encoder gives them. Only set-ups that
    // decoding can tell apart are listed: none for lossless files.
    static std::vector<RecordingJournalHeader> forMuxer(const std::string& muxer);
};

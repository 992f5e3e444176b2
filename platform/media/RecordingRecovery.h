#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Finishes recordings that were cut short (a crash, a kill, a power cut),
// from the journal their writer kept beside them. The audio stays where it
// is: the file is cut after the last packet that the journal names, and the
// index that the muxer would have written at the end is added after it. A
// file that a live recorder still holds is never touched.
struct RecoveredRecording {
    enum class Outcome {
        Recovered,  // the file plays, holding every packet the journal named
        Finished,   // the file was already complete; only the journal went
        Empty,      // nothing had reached the disk: file and journal removed
        Abandoned,  // the recording's file is gone: the stale journal went
        InUse,      // a recorder is still writing it: left alone
        Failed,     // left as it was; `error` says why
    };
    Outcome outcome = Outcome::Failed;
    std::string path;        // the recording
    int64_t frames = 0;      // frames that play, at `sampleRate`
    int sampleRate = 0;
    int64_t startedAt = 0;   // seconds since the epoch
    std::string error;
};

class RecordingRecovery {
public:
    // The journals in `folder` (not its subfolders), in name order.
    static std::vector<std::string> journalsIn(const std::string& folder);
    // Whether `path` (a recording) has a journal, so may need recovery.
    static bool needsRecovery(const std::string& recordingPath);
    // Recovers the recording that `journalPath` belongs to.
    static RecoveredRecording recover(const std::string& journalPath);
};

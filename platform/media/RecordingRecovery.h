#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Finishes recordings that were cut short (a crash, a kill, a power cut),
// from the journal their writer kept beside them. The audio stays where it
// is: the file is cut after the last packet that the journal names, and the
// index that the muxer would have written at the end is added after it.
//
// A journal is a claim, checked before anything is touched: it must be a
// plain file that parses whole, naming a plain ".m4a" file beside it (links
// are never followed) that has no finished index, whose start is the one the
// journal gives and whose audio the journal's packets describe; and the
// recording's lock must be free. A journal that fails a check changes
// nothing but itself: it is moved aside (".NAME.m4a.journal.unrecoverable")
// so that it is reported once, and removed only when it certainly is ours
// and stale. A recording is removed only when it certainly is an empty
// leftover of ours: nothing but our header, or nothing at all.
struct RecoveredRecording {
    enum class Outcome {
        Recovered, // the file plays, holding every packet the journal named
        Complete,  // the file was finished; its journal is left for the labeller
        Finished,  // the file was finished and labelled; only the journal went
        Empty,     // nothing had reached the disk: file and journal removed
        Abandoned, // the recording's file is gone: the stale journal went
        InUse,     // a recorder is still writing it: left alone
        Failed,    // the recording was left as it was; `error` says why
    };
    Outcome outcome = Outcome::Failed;
    std::string path;      // the recording
    int64_t frames = 0;    // frames that play, at `sampleRate`
    int sampleRate = 0;
    int64_t startedAt = 0; // seconds since the epoch
    std::string error;
    bool journalSetAside = false; // the journal was moved aside, to be reported once
};

class RecordingRecovery {
public:
    // The journals in `folder` (not its subfolders), in name order.
    static std::vector<std::string> journalsIn(const std::string& folder);
    // Whether `path` (a recording) has a journal, so may need recovery.
    static bool needsRecovery(const std::string& recordingPath);
    // Recovers the recording that `journalPath` belongs to.
    static RecoveredRecording recover(const std::string& journalPath);

    // What interrupted work left in `folder` that is certainly ours and no
    // longer in use, removed: recordings that never got past their header
    // (a file of nothing but our header, or an empty file with a generated
    // name, with no journal), and the temporary copies of interrupted
    // imports and label commits. Returns the paths removed.
    static std::vector<std::string> removeLeftovers(const std::string& folder);
    // Whether `bytes` are exactly what our recorder writes before any audio.
    static bool isBareRecordingHeader(const std::vector<uint8_t>& bytes);
};

#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// Finds recordings that a crash, a kill or a power cut interrupted, finishes
// each one into a playable tape and labels it as the deck labels a new
// recording ("Untitled", dated when the recording started, letter A), with a
// note that it was recovered. A recording that was finished but not yet
// labelled is labelled. Recordings still being made are left alone, and so
// is anything a journal names that is not certainly one of ours.
class TapeRecovery {
public:
    struct Result {
        enum class Outcome {
            Recovered, // finished (or only labelled) into a tape
            Removed,   // an empty leftover of a recording, removed
            Tidied,    // a temporary copy of an interrupted import or label edit, removed
            InUse,     // still being recorded
            Failed     // left as it was; `error` says why
        };
        Outcome outcome = Outcome::Failed;
        QString filename;    // the tape's file, after any renaming
        double duration = 0; // seconds
        QString error;
    };

    // The note a recovered tape carries.
    static QString recoveredNote();

    // Every interrupted recording in `folder`, and what interrupted work
    // left there.
    static QList<Result> recoverFolder(const QString& folder, const QString& author);
    // The recording in `filename`, when it was interrupted; nothing when it
    // needs no recovery.
    static QList<Result> recoverFile(const QString& filename, const QString& author);

    // A recording finished by this program has been labelled: its journal,
    // kept until now so that a crash could not leave the tape unlabelled,
    // goes. `recordedPath` is where the recording was finished.
    static void releaseFinishedRecording(const QString& recordedPath);

private:
    static QList<Result> recoverJournal(const QString& journal, const QString& author);
};

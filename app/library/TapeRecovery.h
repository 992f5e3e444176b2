#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// Finds recordings that a crash, a kill or a power cut interrupted, finishes
// each one into a playable tape and labels it as the deck labels a new
// recording ("Untitled", dated when the recording started, letter A), with a
// note that it was recovered. Recordings still being made are left alone.
class TapeRecovery {
public:
    struct Result {
        enum class Outcome { Recovered, Removed, InUse, Failed };
        Outcome outcome = Outcome::Failed;
        QString filename;  // the tape's file, after any renaming
        double duration = 0; // seconds
        QString error;
    };

    // The note a recovered tape carries.
    static QString recoveredNote();

    // Every interrupted recording in `folder`.
    static QList<Result> recoverFolder(const QString& folder, const QString& author);
    // The recording in `filename`, when it was interrupted; nothing when it
    // needs no recovery.
    static QList<Result> recoverFile(const QString& filename, const QString& author);

private:
    static QList<Result> recoverJournal(const QString& journal, const QString& author);
};

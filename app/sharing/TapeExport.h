#pragma once

#include "app/sharing/ExportTags.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

// One export of a tape to a file of the format people share: the tape's own
// MPEG-4 (a copy), WAV, FLAC, Opus (in Ogg) or MP3, converted by FFmpeg's
// encoders, with the tape's label in the new file's own tags.
//
// The new file is made under a hidden name beside its destination and given
// its name only when whole, tags included; an existing file is replaced only
// when the export is told so (after the user confirmed it). A failed or
// stopped export leaves nothing behind.
//
// `run` works on the calling thread (a worker's, in the deck); `cancel` may
// come from any thread.
class TapeExport {
public:
    enum class Format { MPEG4, WAV, FLAC, Opus, MP3 };

    struct FormatInfo {
        Format format;
        QString name;        // on the command line: "m4a", "wav", "flac", "opus", "mp3"
        QString extension;   // without the point
        QString description; // for the file-type chooser
        int defaultBitRate;  // bits a second; 0 for the lossless and the copy
    };
    static const QList<FormatInfo>& formats();
    static const FormatInfo& info(Format format);
    static std::optional<Format> formatNamed(const QString& name);
    // The format whose extension `path` has, if any.
    static std::optional<Format> formatOfFilename(const QString& path);
    // `path` with the format's extension: added when missing, put in place
    // of another sound format's, kept when right (in any case).
    static QString correctedFilename(const QString& path, Format format);

    enum class Outcome { Exported, AlreadyThere, Stopped, Failed };
    struct Result {
        Outcome outcome = Outcome::Failed;
        QString destination;
        QString error; // in words, when it failed
    };

    // `source` is the tape's file; `tags` its label (`ExportTags::ofTape`).
    TapeExport(QString source, ExportTags tags, QString destination, Format format);

    // Bits a second for the lossy formats; the format's default otherwise.
    void setBitRate(int bitRate) { mBitRate = bitRate; }
    void setReplacesExistingFile(bool replaces) { mReplaces = replaces; }

    // Called now and then with the share done (0 to 1), on the running thread.
    Result run(const std::function<void(double progress)>& progress = {});
    void cancel() { mCancelled = true; }

private:
    Result convert(const std::function<void(double)>& progress);

    QString mSource;
    ExportTags mTags;
    QString mDestination;
    Format mFormat;
    int mBitRate = 0;
    bool mReplaces = false;
    std::atomic<bool> mCancelled{false};
};

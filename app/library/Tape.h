#pragma once

#include "app/library/MP4LabelEdit.h"
#include "app/library/TapeLetter.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QMimeData;

// One recording: its MPEG-4 file, the label people edit (title, artist,
// notes, date, tape letter) and what the file says about itself (duration,
// bit rate, channels, rate, quality). Label edits mark the attribute dirty;
// `commitAttributes` writes the dirty ones into the file, renders the cover
// art and renames the file after the title.
class Tape : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString filename READ filename WRITE setFilename NOTIFY filenameChanged)
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)
    Q_PROPERTY(QString artist READ artist WRITE setArtist NOTIFY artistChanged)
    Q_PROPERTY(QString notes READ notes WRITE setNotes NOTIFY notesChanged)
    Q_PROPERTY(QDateTime date READ date WRITE setDate NOTIFY dateChanged)
    Q_PROPERTY(double duration READ duration NOTIFY headersChanged)
    Q_PROPERTY(uint bitrate READ bitrate NOTIFY headersChanged)
    Q_PROPERTY(bool stereo READ stereo NOTIFY headersChanged)
    Q_PROPERTY(uint samplerate READ samplerate NOTIFY headersChanged)
    Q_PROPERTY(QString quality READ quality NOTIFY headersChanged)
    Q_PROPERTY(bool dirty READ dirty NOTIFY dirtyChanged)

public:
    // Loads the file's label and headers, reading only; a path with no file
    // is allowed (nothing is loaded, and no file is made).
    explicit Tape(const QString& filename, QObject* parent = nullptr);
    // A tape for a new recording: its file is created (empty, 0600). Null
    // when something is already there under that name.
    static std::shared_ptr<Tape> forNewRecording(const QString& filename);
    // Commits what is dirty first, unless told not to.
    ~Tape() override;
    // A tape only looked at (a listing, an info query) leaves its file alone.
    void setCommitsOnDestruction(bool commits) { mCommitsOnDestruction = commits; }
    // A tape that keeps its file name commits its label without renaming the
    // file after a title change (a recording made to a name the user chose).
    // Off by default.
    void setKeepsFileName(bool keeps) { mKeepsFileName = keeps; }
    bool keepsFileName() const { return mKeepsFileName; }

    const QString& filename() const { return mFilename; }
    void setFilename(const QString& filename);
    const QString& title() const { return mTitle; }
    void setTitle(const QString& title);
    const QString& artist() const { return mArtist; }
    void setArtist(const QString& artist);
    const QString& notes() const { return mNotes; }
    // A null string is stored as an empty one.
    void setNotes(const QString& notes);
    const QDateTime& date() const { return mDate; }
    void setDate(const QDateTime& date);
    std::shared_ptr<TapeLetter> tapeLetter() const { return mTapeLetter; }
    // Keeps a copy (sharing the colour scheme).
    void setTapeLetter(const std::shared_ptr<TapeLetter>& letter);

    double duration() const { return mDuration; }
    uint bitrate() const { return mBitrate; }
    bool stereo() const { return mStereo; }
    uint samplerate() const { return mSamplerate; }
    const QString& quality() const { return mQuality; }
    // What a recording is being made in, shown until the finished file's
    // headers are read; not part of the label, so nothing becomes dirty.
    void setQuality(const QString& quality);

    bool titleDirty() const { return mTitleDirty; }
    bool artistDirty() const { return mArtistDirty; }
    bool notesDirty() const { return mNotesDirty; }
    bool dateDirty() const { return mDateDirty; }
    // Also set while the file stores no letter, so that a commit stores one.
    bool tapeLetterDirty() const { return mTapeLetterDirty || mLetterMissing; }
    // Whether the file stores a letter of its own (else the default shows).
    bool hasStoredLetter() const { return !mLetterMissing; }
    bool dirty() const;

    // Reads the label and headers again without marking anything dirty.
    void loadAttributes();
    // Forgets the label edits not written yet: the label is read again from
    // the file and nothing is dirty.
    void discardChanges();
    void parseMP4FileHeaders();
    void parseESDS(const QByteArray& payload);
    // Writes everything dirty in one commit, under the file's lock, then
    // renames the file when the title changed (unless it keeps its name).
    // False when the commit was refused (flags kept, the file unchanged,
    // `lastError` says why), or when the label was written but the rename
    // failed (flags cleared; `lastError` says so).
    bool commitAttributes();
    // Renames the file to "[date] title" (a number added on collisions).
    bool renameFile(const QString& title);
    // Control characters, bidirectional marks and runs of spaces become one
    // space, ':' and '/' become '_', the ends are trimmed and leading dots
    // become '_'.
    static QString fileFriendlyName(const QString& name);
    // The file name (without extension) for a title: "[date] title", or the
    // title alone for an undated tape, cut to fit a file name.
    QString fileNameForTitle(const QString& title) const;
    QString lastError() const { return mLastError; }

    bool isEqualToTape(const Tape& other) const { return mFilename == other.mFilename; }
    QString description() const;
    // The tape as a dragged or copied item: its file.
    QMimeData* pasteboardData() const;

    // Draws the cover art stored in the file; replaceable by the cassette view.
    using CoverArtRenderer = std::function<QImage(const Tape&)>;
    static void setCoverArtRenderer(CoverArtRenderer renderer);
    static QImage renderCoverArt(const Tape& tape);
    static QImage drawLabel(const Tape& tape);
    // The start of the notes, as much as a cover can show: laying out
    // megabytes of notes for a few lines would hold the file's lock for long.
    QString notesForCover() const;

signals:
    void filenameChanged();
    void titleChanged();
    void artistChanged();
    void notesChanged();
    void dateChanged();
    void tapeLetterChanged();
    void headersChanged();
    void dirtyChanged();

private:
    enum class Fields { All, NotEditedHere };
    // Takes the file's label, all of it or only what this tape has not edited.
    void adoptStoredLabel(const class MP4Tags& tags, Fields fields);
    void parseMP4FileHeaders(int fd);
    void markDirty(bool& flag);
    MP4LabelEdit labelEdit() const;
    bool nameFitsTitle(const QString& title) const;
    void setHeaders(double duration, uint bitrate, bool stereo, uint samplerate);

    QString mFilename;
    QString mTitle;
    QString mArtist;
    QString mNotes;
    QDateTime mDate;
    std::shared_ptr<TapeLetter> mTapeLetter;
    double mDuration = 0;
    uint mBitrate = 0;
    bool mStereo = false;
    uint mSamplerate = 0;
    QString mQuality = QStringLiteral("HQ");
    bool mTitleDirty = false;
    bool mArtistDirty = false;
    bool mNotesDirty = false;
    bool mDateDirty = false;
    bool mTapeLetterDirty = false;
    bool mLetterMissing = false;
    bool mLoading = false;
    bool mCommitsOnDestruction = true;
    bool mKeepsFileName = false;
    QString mLastError;
};

inline bool operator==(const Tape& a, const Tape& b) {
    return a.isEqualToTape(b);
}

inline size_t qHash(const Tape& tape, size_t seed = 0) {
    return qHash(tape.filename(), seed);
}

#pragma once

#include "app/library/MP4LabelEdit.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// Commits a label into an MPEG-4 file so that a crash or power cut at any
// moment leaves the old label or the new one, and the audio as it was.
//
// The new movie box is written where nothing reads it (a 'free' box, or the
// end of the file), made durable, and only then made the file's first movie
// box by a single 4-byte write; the old one becomes 'free'. The audio never
// moves, except in a file whose audio runs to its very end (a cut-off file),
// where nothing can follow it: that file is copied beside itself with the new
// label and room for later edits, and renamed over the old one. Commits hold
// an exclusive lock on the file (the same lock for every Cassora process) and
// read the file again under it.
class MP4LabelWriter {
public:
    explicit MP4LabelWriter(QString path);
    ~MP4LabelWriter();
    MP4LabelWriter(const MP4LabelWriter&) = delete;
    MP4LabelWriter& operator=(const MP4LabelWriter&) = delete;

    // Opens the file for writing and takes its lock, waiting at most `wait`
    // for another commit to end. False (with `error`) when the file is
    // missing, read-only, or stays locked.
    bool lock(std::chrono::milliseconds wait = std::chrono::seconds(5));
    // Writes the edit under the lock. False (with `error`) when the file is
    // refused; it is then unchanged.
    bool commit(const MP4LabelEdit& edit);
    const QString& error() const { return mError; }
    // The locked descriptor (the new file's after a commit that moved the audio).
    int fileHandle() const { return mFileHandle; }
    // Whether the last commit had to move the audio.
    bool movedAudio() const { return mMovedAudio; }

    // Called with a step's name before each step that changes the file; for
    // tests that stop a commit part way.
    static void setStepObserver(std::function<void(const char* step)> observer);

private:
    struct Box {
        uint64_t offset;
        uint64_t size;
        uint32_t type;
    };
    struct Layout {
        std::vector<Box> boxes;
        uint64_t end = 0;       // where the last whole box ends
        bool openEnded = false; // the last box runs to (or past) the end of the file
        // Whether bytes after `end` are at most what an interrupted commit leaves.
        bool reclaimableTail = true;
    };
    struct Slot {
        uint64_t offset;
        uint64_t size;
        size_t firstBox;
        size_t boxCount;
    };

    Layout survey() const;
    std::optional<Slot> bestSlot(const Layout& layout, uint64_t size, uint64_t limit) const;
    bool commitLocked(const MP4LabelEdit& edit);
    bool writeIntoSlot(const Layout& layout, const Slot& slot, const Box& live,
                       const QByteArray& moov);
    bool appendAtEnd(const Layout& layout, const Box& live, const QByteArray& moov);
    bool rewriteBeside(const Layout& layout, const Box& live, class MP4MovieBox& moov);
    void retireStaleMovieBoxes(uint64_t keep);
    // The file itself, with every link on the way resolved.
    QString resolvedPath() const;
    void tidy();
    bool fail(const QString& message);
    bool writeAt(uint64_t offset, const QByteArray& bytes);
    bool sync();
    bool truncateTo(uint64_t length);

    QString mPath;
    int mFileHandle = -1;
    std::vector<int> mRetiredHandles; // old files' descriptors, locked until the end
    QString mError;
    bool mMovedAudio = false;
};

#pragma once

#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class AudioTrackReader;
class MovieWriter;
class Tape;
class TapeLetter;

// What went wrong with a movie: the movie's own failures have the domain
// `TapeMovie::errorDomain()` and code -1 (-2 for a cancelled export); a tape
// that cannot be read or a file that cannot be made are passed on with the
// reader's or writer's words.
struct TapeMovieError {
    QString domain;
    int code = -1;
    QString description;
    bool isCancellation() const;
};

// Turns one tape into a QuickTime movie to publish it: the deck's cassette,
// drawn off screen at twice its size and spinning, centred on a 1280 × 720
// picture at 24 frames a second (H.264), with the tape's own sound (decoded
// at 44.1 kHz, 16 bit, and written as stereo AAC).
//
// Only the spools turn between frames, so only they are drawn again, and
// only the rows they cross are converted for the encoder; the rest of the
// picture is made once.
//
// One object renders one movie, once, on a thread of its own. The progress
// block is called there before every frame with frame ÷ frames (its false
// ends the picture early; the sound still runs to the end of the tape and
// the movie completes), and with 1.0 after a successful completion. The
// completion block is called once: on the starting thread when the export
// cannot start, else on the movie's thread. Callers hand user-interface work
// to the main thread themselves, and must not destroy the object from
// inside its own blocks' threads while they wait on it.
//
// A movie that fails (a full disk, an unreadable tape) or is cancelled is
// removed; a finished one stays until `disposeMovieFile`.
class TapeMovie {
public:
    using ProgressUpdateBlock = std::function<bool(double progress)>;
    using CompletionBlock = std::function<void(const std::optional<TapeMovieError>& error)>;

    static constexpr int FramesPerSecond = 24;
    static constexpr int MaximumKeyFrameInterval = 1000;
    static QSize movieSize() { return {1280, 720}; }
    static QString errorDomain();
    static constexpr int CancelledErrorCode = -2;

    // The movie goes to a new temporary file unless `filename` is given.
    explicit TapeMovie(std::shared_ptr<Tape> tape, const QString& filename = {});
    // Stops a running export (its file is removed, its completion is not called).
    ~TapeMovie();

    TapeMovie(const TapeMovie&) = delete;
    TapeMovie& operator=(const TapeMovie&) = delete;

    std::shared_ptr<Tape> tape() const { return mTape; }
    QString filename() const { return mFilename; }

    // The temporary folder, a new UUID and the extension: ".../UUID.mov".
    static QString temporaryMovieURLWithExtension(const QString& extension);

    void setProgressUpdateBlock(ProgressUpdateBlock block) { mProgressUpdateBlock = std::move(block); }
    // Starts the export and returns at once. Called on the thread that owns
    // the tape (the main thread).
    void performMovieExport(CompletionBlock completion);
    // Stops the whole export: the file is removed and the completion block
    // gets a cancellation error. Any thread; nothing happens after the end.
    void cancel();
    // Deletes the movie file; a failure is ignored.
    void disposeMovieFile();
    // True from a successful start until the completion block has run.
    bool isRunning() const { return mRunning.load(); }
    // Waits until the movie's thread has ended: after the completion block
    // and the final progress call. Not from inside the blocks.
    void waitUntilFinished();

    // `image` (its pixels, whatever its device-pixel ratio) centred on a
    // black picture of `size` pixels: a larger image is cropped evenly, a
    // smaller one leaves a black border. Format RGB32.
    static QImage newPixelBuffer(const QSize& size, const QImage& image);

private:
    struct Snapshot {
        QString title;
        QDateTime date;
        double duration = 0;
        QString quality;
        QString notes;
        std::shared_ptr<TapeLetter> tapeLetter;
    };
    void run(Snapshot snapshot, int64_t frameTotal);
    void complete(const std::optional<TapeMovieError>& error);
    TapeMovieError movieError(const QString& description, int code = -1) const;

    std::shared_ptr<Tape> mTape;
    QString mFilename;
    ProgressUpdateBlock mProgressUpdateBlock;
    CompletionBlock mCompletionBlock;
    std::unique_ptr<AudioTrackReader> mAudioReader;
    std::unique_ptr<MovieWriter> mWriter;
    std::thread mThread;
    std::atomic<bool> mRunning{false};
    std::atomic<bool> mCancelled{false};
    std::atomic<bool> mSilentCancel{false};
    bool mStarted = false;
};

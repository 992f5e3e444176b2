#pragma once

#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/realtime/VELKAudioBufferQueue.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// A buffer queue that streams a file: the reader fills the ring from the
// file for playback, the writer writes the ring to the file for recording.
class VELKAudioFileStreamer : public VELKAudioBufferQueue {
public:
    VELKAudioFileStreamer(uint32_t bufferCount, uint32_t numFrames,
                          const VELKAudioStreamBasicDescription& streamDescription,
                          std::shared_ptr<VELKExtendedAudioFile> audioFile);
    // The worker stops before the file goes. Subclasses stop it earlier, in
    // their own destructors, while their processBuffer still exists.
    ~VELKAudioFileStreamer() override;

    virtual void start();
    virtual void stop();
    bool running() const { return mRunning; }

    std::shared_ptr<VELKExtendedAudioFile> audioFile() const;
    void setAudioFile(std::shared_ptr<VELKExtendedAudioFile> file);

protected:
    void setRunning(bool running) { mRunning = running; }

private:
    mutable std::mutex mFileLock;
    std::shared_ptr<VELKExtendedAudioFile> mAudioFile;
    bool mRunning = false;
};

struct VELKLoopRange {
    int64_t location = 0;
    int64_t length = 0;
};

// Fills the ring from the file: forwards, or backwards when the file reads
// in reverse; optionally looping over a range. A stopped reader delivers no
// frames to the render side.
class VELKAudioFileReader : public VELKAudioFileStreamer {
public:
    VELKAudioFileReader(uint32_t bufferCount, uint32_t numFrames,
                        const VELKAudioStreamBasicDescription& streamDescription,
                        std::shared_ptr<VELKExtendedAudioFile> audioFile);
    // The worker ends while this reader's processBuffer still exists.
    ~VELKAudioFileReader() override;

    // Fills every buffer from the current frame and clears an earlier failure.
    void start() override;
    // Keeps the frame the render side has reached, so that `start` goes on
    // from there: nothing read ahead is skipped.
    void stop() override;
    // Never raises. A file that cannot be read gives an empty buffer with the
    // end-of-stream mark, so the stream ends; `failed` says it was a failure.
    void processBuffer(SQueueableAudioBuffer* buffer) override;

    // The file frame the render side has reached (running), or the frame the
    // next `start` plays first (stopped).
    int64_t currentFrame() const;
    // Stops, seeks and restarts (refilling every buffer) when running. A frame
    // the file refuses raises NSXException and changes nothing.
    void setCurrentFrame(int64_t frame);
    bool reverse() const;
    // Takes effect from the next refill; each refill reads in one direction.
    void setReverse(bool reverse);
    bool isLooping() const { return mLooping; }
    void setLooping(bool looping) { mLooping = looping; }
    VELKLoopRange loopRange() const;
    void setLoopRange(VELKLoopRange range);

    // Whether a refill since the last start could not read the file, and why.
    bool failed() const { return mFailed.load(); }
    std::string failureReason() const;

private:
    void fillBuffer(SQueueableAudioBuffer* buffer);
    int64_t frameReachedByRenderSide() const;
    void noteFailure(const std::string& reason);

    std::atomic<int64_t> mCurrentFrame{0};
    // Whether the file stands at mCurrentFrame, where a forward read begins
    // (a reverse read leaves it at the end of the block it read).
    std::atomic<bool> mFileAtCurrentFrame{false};
    mutable std::mutex mLoopLock;
    VELKLoopRange mLoopRange;
    std::atomic<bool> mLooping{false};
    std::atomic<bool> mFailed{false};
    mutable std::mutex mFailureLock;
    std::string mFailureReason;
};

// Writes the ring to the file. A write that fails (a full disk, say) is
// reported once on standard error, remembered and handed to the failure
// handler; nothing crashes, and nothing more is written.
class VELKAudioFileWriter : public VELKAudioFileStreamer {
public:
    using VELKAudioFileStreamer::VELKAudioFileStreamer;
    using FailureHandler = std::function<void(const std::string& reason)>;
    // The worker ends while this writer's processBuffer still exists.
    ~VELKAudioFileWriter() override;

    void start() override;
    void stop() override;
    void processBuffer(SQueueableAudioBuffer* buffer) override;

    bool writeFailed() const { return mWriteFailed.load(); }
    std::string writeError() const;
    // Called once, on the thread whose write failed (the worker, or the
    // caller of `stop`). Set it before `start`.
    void setFailureHandler(FailureHandler handler) { mFailureHandler = std::move(handler); }

private:
    std::atomic<bool> mWriteFailed{false};
    mutable std::mutex mErrorLock;
    std::string mWriteError;
    FailureHandler mFailureHandler;
};

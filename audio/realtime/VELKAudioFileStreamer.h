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
    // The worker stops before the file goes.
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
// in reverse; optionally looping over a range.
class VELKAudioFileReader : public VELKAudioFileStreamer {
public:
    using VELKAudioFileStreamer::VELKAudioFileStreamer;

    void start() override;
    void stop() override;
    void processBuffer(SQueueableAudioBuffer* buffer) override;

    // The file frame the listener hears now when running, else the next to read.
    int64_t currentFrame() const;
    // Stops, seeks and restarts (refilling every buffer) when running.
    void setCurrentFrame(int64_t frame);
    bool reverse() const;
    void setReverse(bool reverse);
    bool isLooping() const { return mLooping; }
    void setLooping(bool looping) { mLooping = looping; }
    VELKLoopRange loopRange() const;
    void setLoopRange(VELKLoopRange range);

private:
    std::atomic<int64_t> mCurrentFrame{0};
    mutable std::mutex mLoopLock;
    VELKLoopRange mLoopRange;
    std::atomic<bool> mLooping{false};
};

// Writes the ring to the file. A write that fails (a full disk, say) is
// reported once on standard error, remembered and handed to the failure
// handler; nothing crashes, and nothing more is written.
class VELKAudioFileWriter : public VELKAudioFileStreamer {
public:
    using VELKAudioFileStreamer::VELKAudioFileStreamer;
    using FailureHandler = std::function<void(const std::string& reason)>;

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

#pragma once

#include "audio/format/VELKAudioStreamBasicDescription.h"
#include "audio/realtime/SAudioBuffer.h"
#include "audio/realtime/SQueueWorker.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// A buffer of the ring, handed between the render side and the worker.
struct SQueueableAudioBuffer {
    SAudioBuffer mBuffer;
    std::function<void(SQueueableAudioBuffer*)> mProcess;
    std::atomic<bool> mInProgress{false}; // owned by the worker while set
    int64_t mFileStartFrame = 0;          // the file frame of the buffer's first frame
    bool mReverse = false;                // filled backwards from mFileStartFrame
    double mPlaybackRate = 1.0;
    SQueueableAudioBuffer* mNext = nullptr;
};

using SAudioBufferQueueWorker = SQueueWorker;
SAudioBufferQueueWorker* SAudioBufferQueueWorkerCreate();
// Real-time: marks the buffer in progress and hands it to the worker.
void SAudioBufferQueueWorkerAddBuffer(SAudioBufferQueueWorker* self, SQueueableAudioBuffer* buffer);

// A ring of fixed-size buffers between a real-time thread and a worker that
// fills them (playback) or empties them (recording). The render side only
// copies and pushes; a buffer whose in-progress mark is set belongs to the
// worker. Subclasses say what processing a buffer means.
class VELKAudioBufferQueue {
public:
    VELKAudioBufferQueue(uint32_t bufferCount, uint32_t numFrames,
                         const VELKAudioStreamBasicDescription& streamDescription);
    // Tears the worker down first when nobody did (with a warning).
    virtual ~VELKAudioBufferQueue();
    VELKAudioBufferQueue(const VELKAudioBufferQueue&) = delete;
    VELKAudioBufferQueue& operator=(const VELKAudioBufferQueue&) = delete;

    // On the worker's thread (or the owner's during prime and flush).
    virtual void processBuffer(SQueueableAudioBuffer* buffer);

    // Processes every buffer in ring order on the calling thread, after the
    // worker has finished what it holds; the render side starts at buffer 0.
    void prime();
    // Processes the current buffer when it holds frames, after the worker
    // has finished what it holds (so a file sees writes in ring order).
    void flush();
    void startWorker();
    void stopWorker();
    void teardownWorkerThread();
    bool endOfStream() const { return mEndOfStream.load(std::memory_order_acquire); }
    // Times the render side found the buffer it needed still with the worker.
    uint64_t errorCount() const { return mErrorCount.load(std::memory_order_relaxed); }
    void setErrorCount(uint64_t count) { mErrorCount.store(count); }
    uint32_t bufferSizeFrames() const { return static_cast<uint32_t>(mBufferSizeFrames); }
    uint32_t numberOfBuffers() const { return static_cast<uint32_t>(mNumberBuffers); }
    SQueueableAudioBuffer* buffer(uint32_t index) const { return mBufferArray[index].get(); }
    uint64_t currentBufferIndex() const { return mCurrentBuffer.load(std::memory_order_acquire); }
    bool hasWorker() const { return mQueueWorker != nullptr; }

    // While suspended the render side takes nothing from the ring (a
    // playback copy delivers no frames); suspending waits until a copy in
    // progress has left.
    void suspendRenderSide();
    void resumeRenderSide();

protected:
    // For destructors: a worker still running when its queue goes is torn
    // down (with a warning). A subclass whose processBuffer the worker calls
    // does this in its own destructor, while that processBuffer still exists.
    void teardownForgottenWorker();
    void setEndOfStream(bool endOfStream) { mEndOfStream.store(endOfStream); }
    void waitForPendingBuffers();

    uint64_t mBufferSizeFrames;
    uint64_t mNumberBuffers;
    uint64_t mBytesPerFrame;

private:
    friend void VELKAudioBufferQueueCopyInto(VELKAudioBufferQueue*, AudioBufferList*, uint32_t*);
    friend void VELKAudioBufferQueueCopyFrom(VELKAudioBufferQueue*, const AudioBufferList*,
                                             uint32_t);
    friend uint32_t VELKAudioBufferQueueCurrentFrame(const VELKAudioBufferQueue*);

    struct BufferDeleter {
        void operator()(SQueueableAudioBuffer* buffer) const;
    };
    std::vector<std::unique_ptr<SQueueableAudioBuffer, BufferDeleter>> mBufferArray;
    SAudioBufferQueueWorker* mQueueWorker = nullptr;
    std::atomic<uint64_t> mCurrentBuffer{0};
    std::atomic<uint64_t> mErrorCount{0};
    std::atomic<bool> mEndOfStream{false};
    std::atomic<bool> mSuspended{false};
    std::atomic<int> mCopiesInFlight{0};
};

// Real-time (no locks, no allocation). Playback: copies up to *ioFrames
// frames into `destination` and reports how many came.
void VELKAudioBufferQueueCopyInto(VELKAudioBufferQueue* queue, AudioBufferList* destination,
                                  uint32_t* ioFrames);
// Real-time. Recording: copies `frames` frames from `source` into the ring;
// frames that find no free buffer are dropped.
void VELKAudioBufferQueueCopyFrom(VELKAudioBufferQueue* queue, const AudioBufferList* source,
                                  uint32_t frames);
bool VELKAudioBufferQueueReachedEndOfStream(const VELKAudioBufferQueue* queue);
uint32_t VELKAudioBufferQueueCurrentFrame(const VELKAudioBufferQueue* queue);

#include "audio/realtime/VELKAudioBufferQueue.h"

#include "audio/format/InternalInconsistencyException.h"

#include <cstdio>
#include <new>
#include <thread>

namespace {

void runBuffer(void* item) {
    SQueueWorkerProcessItem(static_cast<SQueueableAudioBuffer*>(item));
}

void* nextBuffer(void* item) {
    return static_cast<SQueueableAudioBuffer*>(item)->mNext;
}

void setNextBuffer(void* item, void* next) {
    static_cast<SQueueableAudioBuffer*>(item)->mNext = static_cast<SQueueableAudioBuffer*>(next);
}

} // namespace

SAudioBufferQueueWorker* SAudioBufferQueueWorkerCreate() {
    return SQueueWorkerCreate("org.cassora.VELKAudio.buffer_queue_worker", runBuffer, nextBuffer,
                              setNextBuffer);
}

// Real-time: no allocation, no locks.
void SAudioBufferQueueWorkerAddBuffer(SAudioBufferQueueWorker* self,
                                      SQueueableAudioBuffer* buffer) {
    buffer->mInProgress.store(true, std::memory_order_relaxed);
    SQueueWorkerAdd(self, buffer);
}

void VELKAudioBufferQueue::BufferDeleter::operator()(SQueueableAudioBuffer* buffer) const {
    SAudioBufferDealloc(&buffer->mBuffer);
    delete buffer;
}

VELKAudioBufferQueue::VELKAudioBufferQueue(uint32_t bufferCount, uint32_t numFrames,
                                           const VELKAudioStreamBasicDescription& description)
    : mBufferSizeFrames(numFrames), mNumberBuffers(bufferCount),
      mBytesPerFrame(description.bytesPerFrame() ? description.bytesPerFrame() : sizeof(float)) {
    for (uint32_t i = 0; i < bufferCount; ++i) {
        std::unique_ptr<SQueueableAudioBuffer, BufferDeleter> buffer(new SQueueableAudioBuffer);
        if (!SAudioBufferInitialize(&buffer->mBuffer, numFrames, description.channelsPerFrame())) {
            throw std::bad_alloc();
        }
        // The callback does not own the queue: the queue owns the buffers.
        buffer->mProcess = [this](SQueueableAudioBuffer* b) { processBuffer(b); };
        mBufferArray.push_back(std::move(buffer));
    }
    mQueueWorker = SAudioBufferQueueWorkerCreate();
    if (!mQueueWorker) {
        throw std::bad_alloc();
    }
}

VELKAudioBufferQueue::~VELKAudioBufferQueue() {
    teardownForgottenWorker();
}

void VELKAudioBufferQueue::teardownForgottenWorker() {
    if (mQueueWorker) {
        std::fprintf(stderr, "WARNING - QUEUE WORKER NOT TORN DOWN\n");
        teardownWorkerThread();
    }
}

void VELKAudioBufferQueue::processBuffer(SQueueableAudioBuffer*) {
    throw InternalInconsistencyException("VELKAudioBufferQueue processBuffer - Abstract Superclass",
                                         "VELKAudioBufferQueue", __LINE__);
}

void VELKAudioBufferQueue::waitForPendingBuffers() {
    if (!mQueueWorker) {
        return;
    }
    SQueueWorkerWaitUntil(mQueueWorker, [this] {
        for (const auto& buffer : mBufferArray) {
            if (buffer->mInProgress.load(std::memory_order_acquire)) {
                return false;
            }
        }
        return true;
    });
}

void VELKAudioBufferQueue::prime() {
    waitForPendingBuffers();
    setEndOfStream(false);
    for (auto& buffer : mBufferArray) {
        processBuffer(buffer.get());
        buffer->mInProgress.store(false, std::memory_order_release);
    }
    mCurrentBuffer.store(0, std::memory_order_release);
}

void VELKAudioBufferQueue::flush() {
    waitForPendingBuffers();
    SQueueableAudioBuffer* current = mBufferArray[mCurrentBuffer.load()].get();
    if (SAudioBufferFrameCount(&current->mBuffer) > 0 &&
        !current->mInProgress.load(std::memory_order_acquire)) {
        processBuffer(current);
    }
}

// The worker runs from creation; starting it asks nothing of it.
void VELKAudioBufferQueue::startWorker() {}

void VELKAudioBufferQueue::stopWorker() {
    if (mQueueWorker) {
        SQueueWorkerStop(mQueueWorker);
    }
}

void VELKAudioBufferQueue::teardownWorkerThread() {
    if (mQueueWorker) {
        SQueueWorkerTeardown(mQueueWorker);
        SQueueWorkerDestroy(mQueueWorker);
        mQueueWorker = nullptr;
    }
}

void VELKAudioBufferQueue::suspendRenderSide() {
    mSuspended.store(true);
    while (mCopiesInFlight.load() != 0) {
        std::this_thread::yield();
    }
}

void VELKAudioBufferQueue::resumeRenderSide() {
    mSuspended.store(false);
}

namespace {

// Marks a render-side copy as running, so the owner can wait for it to end.
class CopyInFlight {
public:
    explicit CopyInFlight(std::atomic<int>& count) : mCount(count) { mCount.fetch_add(1); }
    ~CopyInFlight() { mCount.fetch_sub(1); }

private:
    std::atomic<int>& mCount;
};

} // namespace

// Real-time: no allocation, no locks.
void VELKAudioBufferQueueCopyInto(VELKAudioBufferQueue* queue, AudioBufferList* destination,
                                  uint32_t* ioFrames) {
    CopyInFlight inFlight(queue->mCopiesInFlight);
    if (queue->mSuspended.load() || queue->mEndOfStream.load(std::memory_order_acquire)) {
        *ioFrames = 0;
        return;
    }
    uint32_t required = *ioFrames;
    uint32_t produced = 0;
    const auto bytesPerFrame = static_cast<uint32_t>(queue->mBytesPerFrame);
    while (required > 0) {
        const uint64_t index = queue->mCurrentBuffer.load(std::memory_order_relaxed);
        SQueueableAudioBuffer* buffer = queue->mBufferArray[index].get();
        if (buffer->mInProgress.load(std::memory_order_acquire)) {
            queue->mErrorCount.fetch_add(1, std::memory_order_relaxed);
            break;
        }
        if (SAudioBufferCopyInto(&buffer->mBuffer, destination, bytesPerFrame, &produced,
                                 &required)) {
            SAudioBufferQueueWorkerAddBuffer(queue->mQueueWorker, buffer);
            queue->mCurrentBuffer.store((index + 1) % queue->mNumberBuffers,
                                        std::memory_order_release);
        } else if (buffer->mBuffer.mReachedEndOfStream) {
            queue->mEndOfStream.store(true, std::memory_order_release);
            break;
        }
    }
    *ioFrames = produced;
}

// Real-time: no allocation, no locks.
void VELKAudioBufferQueueCopyFrom(VELKAudioBufferQueue* queue, const AudioBufferList* source,
                                  uint32_t frames) {
    uint32_t required = frames;
    uint32_t produced = 0;
    const auto bytesPerFrame = static_cast<uint32_t>(queue->mBytesPerFrame);
    while (required > 0) {
        const uint64_t index = queue->mCurrentBuffer.load(std::memory_order_relaxed);
        SQueueableAudioBuffer* buffer = queue->mBufferArray[index].get();
        if (buffer->mInProgress.load(std::memory_order_acquire)) {
            queue->mErrorCount.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        if (SAudioBufferCopyFrom(&buffer->mBuffer, source, bytesPerFrame, &produced, &required)) {
            SAudioBufferQueueWorkerAddBuffer(queue->mQueueWorker, buffer);
            queue->mCurrentBuffer.store((index + 1) % queue->mNumberBuffers,
                                        std::memory_order_release);
        }
    }
}

bool VELKAudioBufferQueueReachedEndOfStream(const VELKAudioBufferQueue* queue) {
    return queue->endOfStream();
}

uint32_t VELKAudioBufferQueueCurrentFrame(const VELKAudioBufferQueue* queue) {
    return queue->mBufferArray[queue->mCurrentBuffer.load()]->mBuffer.mEndFrame;
}

#pragma once

#include "audio/format/VELKAudioStreamBasicDescription.h"
#include "platform/audio/AudioQueueService.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

extern const char* const kAudioQueueDidStartNotification; // "AudioQueueDidStartNotification"
extern const char* const kAudioQueueDidStopNotification;  // "AudioQueueDidStopNotification"

class VELKAudioQueue;

// Told when a queue starts or stops, on the queue's notice thread.
class VELKAudioQueueDelegate {
public:
    virtual ~VELKAudioQueueDelegate() = default;
    virtual void audioQueueDidStart(VELKAudioQueue*) {}
    virtual void audioQueueDidStop(VELKAudioQueue*) {}
};

// One platform audio queue, for output (buffers a handler fills) or input
// (buffers a handler consumes). Handlers run on the queue's own thread.
// Failed queue calls raise NSXException.
class VELKAudioQueue {
public:
    // Output: fill `buffer` (set its byte size) and enqueue it again to go on.
    using OutputHandler =
        std::function<void(VELKAudioQueue* queue, AudioQueueBufferRef buffer, void* userData)>;
    // Input: `buffer` holds `numPackets` recorded packets; the queue enqueues
    // it again afterwards while it runs.
    using InputHandler = std::function<void(
        VELKAudioQueue* queue, AudioQueueBufferRef buffer, const AudioTimeStamp* startTime,
        uint32_t numPackets, const AudioStreamPacketDescription* packetDesc, void* userData)>;
    // Every queue's start and stop, by notification name, after its delegate.
    using Observer = std::function<void(const char* name, VELKAudioQueue* queue)>;

    // Keeps the description; no queue yet.
    explicit VELKAudioQueue(std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription);
    static std::unique_ptr<VELKAudioQueue>
    outputQueueWithStreamDescription(std::shared_ptr<VELKAudioStreamBasicDescription> description);
    // With 3 buffers of the record buffer size enqueued.
    static std::unique_ptr<VELKAudioQueue>
    inputQueueWithStreamDescription(std::shared_ptr<VELKAudioStreamBasicDescription> description);
    // Disposes of the queue at once. Not from a handler.
    ~VELKAudioQueue();
    VELKAudioQueue(const VELKAudioQueue&) = delete;
    VELKAudioQueue& operator=(const VELKAudioQueue&) = delete;

    void refreshStreamDescription();
    AudioQueueBufferRef allocateBufferWithSize(uint32_t bytes);
    void enqueueBuffer(AudioQueueBufferRef buffer, const AudioStreamPacketDescription* packetDescs,
                       uint32_t count);
    void startQueue();
    void pauseQueue();
    // Lets the enqueued buffers play out.
    void stopQueue();
    void stopQueueImmediately();
    void setMagicCookie(const void* cookie, uint32_t size);
    double sampleTimeInMilliseconds() const;

    void setOutputQueueBufferHandler(OutputHandler handler, void* userData);
    void setInputQueueBufferHandler(InputHandler handler, void* userData);
    void removeOutputQueueBufferHandler();
    void removeInputQueueBufferHandler();

    // Bytes for 0.2 s of recording: whole frames (rounded up) for a format
    // with a fixed frame size, else whole packets of the description's (or
    // the queue's largest) packet size, at least one.
    static uint32_t recordBufferSize(const AudioStreamBasicDescription& format,
                                     uint32_t maximumPacketSize);

    static int addObserver(Observer observer);
    static void removeObserver(int token);

    AudioQueueRef queue() const { return mQueue; }
    std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription() const {
        return mStreamDescription;
    }
    bool running() const { return mRunning.load(); }
    VELKAudioQueueDelegate* delegate() const { return mDelegate; }
    void setDelegate(VELKAudioQueueDelegate* delegate) { mDelegate = delegate; }

private:
    static void AQOutputBufferHandler(void* userData, AudioQueueRef queue,
                                      AudioQueueBufferRef buffer);
    static void AQInputBufferHandler(void* userData, AudioQueueRef queue,
                                     AudioQueueBufferRef buffer, const AudioTimeStamp* startTime,
                                     uint32_t numPackets,
                                     const AudioStreamPacketDescription* packetDesc);
    static void isRunningChanged(void* userData, AudioQueueRef queue, uint32_t property);
    void installListener();

    AudioQueueRef mQueue = nullptr;
    std::shared_ptr<VELKAudioStreamBasicDescription> mStreamDescription;
    std::mutex mHandlerLock; // the handlers are replaced on one thread, called on another
    OutputHandler mOutInvocation;
    void* mOutUserData = nullptr;
    InputHandler mInInvocation;
    void* mInUserData = nullptr;
    std::atomic<bool> mRunning{false};
    VELKAudioQueueDelegate* mDelegate = nullptr;
};

#include "audio/queue/VELKAudioQueue.h"

#include "audio/format/NSXException.h"

#include <cmath>
#include <map>

const char* const kAudioQueueDidStartNotification = "AudioQueueDidStartNotification";
const char* const kAudioQueueDidStopNotification = "AudioQueueDidStopNotification";

namespace {

constexpr int kInputBufferCount = 3;
constexpr float kRecordBufferSeconds = 0.2f;

std::mutex& observerLock() {
    static std::mutex lock;
    return lock;
}

std::map<int, VELKAudioQueue::Observer>& observers() {
    static std::map<int, VELKAudioQueue::Observer> table;
    return table;
}

} // namespace

VELKAudioQueue::VELKAudioQueue(std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription)
    : mStreamDescription(std::move(streamDescription)) {}

std::unique_ptr<VELKAudioQueue> VELKAudioQueue::outputQueueWithStreamDescription(
    std::shared_ptr<VELKAudioStreamBasicDescription> description) {
    auto self = std::make_unique<VELKAudioQueue>(std::move(description));
    const AudioStreamBasicDescription format =
        self->mStreamDescription->audioStreamBasicDescription();
    NSXThrowIfError(AudioQueueNewOutput(&format, &VELKAudioQueue::AQOutputBufferHandler, self.get(),
                                        nullptr, nullptr, 0, &self->mQueue));
    self->installListener();
    self->refreshStreamDescription();
    return self;
}

std::unique_ptr<VELKAudioQueue> VELKAudioQueue::inputQueueWithStreamDescription(
    std::shared_ptr<VELKAudioStreamBasicDescription> description) {
    auto self = std::make_unique<VELKAudioQueue>(std::move(description));
    const AudioStreamBasicDescription format =
        self->mStreamDescription->audioStreamBasicDescription();
    NSXThrowIfError(AudioQueueNewInput(&format, &VELKAudioQueue::AQInputBufferHandler, self.get(),
                                       nullptr, nullptr, 0, &self->mQueue));
    self->installListener();
    self->refreshStreamDescription();
    uint32_t maximumPacketSize = 0;
    const AudioStreamBasicDescription current =
        self->mStreamDescription->audioStreamBasicDescription();
    if (current.mBytesPerFrame == 0 && current.mBytesPerPacket == 0) {
        uint32_t size = sizeof(maximumPacketSize);
        NSXThrowIfError(AudioQueueGetProperty(
            self->mQueue, kAudioQueueProperty_MaximumOutputPacketSize, &maximumPacketSize, &size));
    }
    const uint32_t bytes = recordBufferSize(current, maximumPacketSize);
    for (int i = 0; i < kInputBufferCount; ++i) {
        self->enqueueBuffer(self->allocateBufferWithSize(bytes), nullptr, 0);
    }
    return self;
}

VELKAudioQueue::~VELKAudioQueue() {
    mRunning.store(false);
    {
        std::lock_guard guard(mHandlerLock);
        mOutInvocation = nullptr;
        mInInvocation = nullptr;
    }
    if (mQueue) {
        AudioQueueRemovePropertyListener(mQueue, kAudioQueueProperty_IsRunning,
                                         &VELKAudioQueue::isRunningChanged, this);
        AudioQueueDispose(mQueue, true);
    }
}

void VELKAudioQueue::installListener() {
    NSXThrowIfError(AudioQueueAddPropertyListener(mQueue, kAudioQueueProperty_IsRunning,
                                                  &VELKAudioQueue::isRunningChanged, this));
}

void VELKAudioQueue::refreshStreamDescription() {
    AudioStreamBasicDescription format{};
    uint32_t size = sizeof(format);
    NSXThrowIfError(AudioQueueGetProperty(mQueue, kAudioConverterCurrentOutputStreamDescription,
                                          &format, &size));
    mStreamDescription =
        VELKAudioStreamBasicDescription::streamDescriptionWithAudioStreamBasicDescription(format);
}

AudioQueueBufferRef VELKAudioQueue::allocateBufferWithSize(uint32_t bytes) {
    AudioQueueBufferRef buffer = nullptr;
    NSXThrowIfError(AudioQueueAllocateBuffer(mQueue, bytes, &buffer));
    return buffer;
}

void VELKAudioQueue::enqueueBuffer(AudioQueueBufferRef buffer,
                                   const AudioStreamPacketDescription* packetDescs,
                                   uint32_t count) {
    NSXThrowIfError(AudioQueueEnqueueBuffer(mQueue, buffer, packetDescs ? count : 0, packetDescs));
}

void VELKAudioQueue::startQueue() {
    mRunning.store(true);
    NSXThrowIfError(AudioQueueStart(mQueue, nullptr));
}

void VELKAudioQueue::pauseQueue() {
    mRunning.store(true);
    NSXThrowIfError(AudioQueuePause(mQueue));
}

void VELKAudioQueue::stopQueue() {
    mRunning.store(false);
    NSXThrowIfError(AudioQueueStop(mQueue, false));
}

void VELKAudioQueue::stopQueueImmediately() {
    mRunning.store(false);
    NSXThrowIfError(AudioQueueStop(mQueue, true));
}

void VELKAudioQueue::setMagicCookie(const void* cookie, uint32_t size) {
    NSXThrowIfError(AudioQueueSetProperty(mQueue, kAudioQueueProperty_MagicCookie, cookie, size));
}

double VELKAudioQueue::sampleTimeInMilliseconds() const {
    AudioTimeStamp time{};
    NSXThrowIfError(AudioQueueGetCurrentTime(mQueue, nullptr, &time, nullptr));
    return time.mSampleTime / mStreamDescription->sampleRate() * 1000.0;
}

void VELKAudioQueue::setOutputQueueBufferHandler(OutputHandler handler, void* userData) {
    std::lock_guard guard(mHandlerLock);
    mOutInvocation = std::move(handler);
    mOutUserData = userData;
}

void VELKAudioQueue::setInputQueueBufferHandler(InputHandler handler, void* userData) {
    std::lock_guard guard(mHandlerLock);
    mInInvocation = std::move(handler);
    mInUserData = userData;
}

void VELKAudioQueue::removeOutputQueueBufferHandler() {
    std::lock_guard guard(mHandlerLock);
    mOutInvocation = nullptr;
}

void VELKAudioQueue::removeInputQueueBufferHandler() {
    std::lock_guard guard(mHandlerLock);
    mInInvocation = nullptr;
}

uint32_t VELKAudioQueue::recordBufferSize(const AudioStreamBasicDescription& format,
                                          uint32_t maximumPacketSize) {
    // 0.2 as a 32-bit float is a little above 0.2, so 44.1 kHz gives 8821
    // frames; the sum is taken in double precision as the platform does.
    const auto frames = static_cast<uint32_t>(
        std::ceil(format.mSampleRate * static_cast<double>(kRecordBufferSeconds)));
    if (format.mBytesPerFrame > 0) {
        return frames * format.mBytesPerFrame;
    }
    const uint32_t packetSize =
        format.mBytesPerPacket > 0 ? format.mBytesPerPacket : maximumPacketSize;
    const uint32_t packets =
        format.mFramesPerPacket > 0 ? frames / format.mFramesPerPacket : frames;
    return std::max<uint32_t>(packets, 1) * packetSize;
}

int VELKAudioQueue::addObserver(Observer observer) {
    static int next = 0;
    std::lock_guard guard(observerLock());
    observers().emplace(++next, std::move(observer));
    return next;
}

void VELKAudioQueue::removeObserver(int token) {
    std::lock_guard guard(observerLock());
    observers().erase(token);
}

// On the queue's thread.
void VELKAudioQueue::AQOutputBufferHandler(void* userData, AudioQueueRef,
                                           AudioQueueBufferRef buffer) {
    auto* self = static_cast<VELKAudioQueue*>(userData);
    OutputHandler handler;
    void* handlerData = nullptr;
    {
        std::lock_guard guard(self->mHandlerLock);
        handler = self->mOutInvocation;
        handlerData = self->mOutUserData;
    }
    if (handler) {
        handler(self, buffer, handlerData);
    }
}

// On the queue's thread: hands a filled buffer on, then records into it
// again, only while the queue runs.
void VELKAudioQueue::AQInputBufferHandler(void* userData, AudioQueueRef, AudioQueueBufferRef buffer,
                                          const AudioTimeStamp* startTime, uint32_t numPackets,
                                          const AudioStreamPacketDescription* packetDesc) {
    auto* self = static_cast<VELKAudioQueue*>(userData);
    if (!self->mRunning.load()) {
        return;
    }
    InputHandler handler;
    void* handlerData = nullptr;
    {
        std::lock_guard guard(self->mHandlerLock);
        handler = self->mInInvocation;
        handlerData = self->mInUserData;
    }
    if (handler) {
        handler(self, buffer, startTime, numPackets, packetDesc, handlerData);
    }
    if (self->mRunning.load()) {
        try {
            self->enqueueBuffer(buffer, nullptr, 0);
        } catch (const NSXException&) {
            // Nothing above this thread to tell; the buffer stays out.
        }
    }
}

// On the queue's notice thread.
void VELKAudioQueue::isRunningChanged(void* userData, AudioQueueRef queue, uint32_t property) {
    auto* self = static_cast<VELKAudioQueue*>(userData);
    if (queue != self->mQueue || property != kAudioQueueProperty_IsRunning) {
        return;
    }
    uint32_t running = 0;
    uint32_t size = sizeof(running);
    if (AudioQueueGetProperty(queue, kAudioQueueProperty_IsRunning, &running, &size) != 0) {
        return;
    }
    const char* name = running ? kAudioQueueDidStartNotification : kAudioQueueDidStopNotification;
    if (VELKAudioQueueDelegate* delegate = self->mDelegate) {
        if (running) {
            delegate->audioQueueDidStart(self);
        } else {
            delegate->audioQueueDidStop(self);
        }
    }
    std::map<int, Observer> copy;
    {
        std::lock_guard guard(observerLock());
        copy = observers();
    }
    for (const auto& [token, observer] : copy) {
        observer(name, self);
    }
}

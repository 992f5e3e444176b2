#include "platform/audio/AudioQueueService.h"

#include "platform/audio/PulseAudioUnit.h"
#include "platform/audio/PulseHardware.h"
#include "platform/audio/SerialQueue.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Listener {
    uint32_t id;
    AudioQueuePropertyListenerProc proc;
    void* userData;
};

struct BufferStorage {
    AudioQueueBuffer buffer{};
    std::vector<uint8_t> data;
    std::vector<AudioStreamPacketDescription> packets;
};

bool sampleFormatFor(const AudioStreamBasicDescription& format, pa_sample_format_t* out) {
    if (format.mFormatID != kAudioFormatLinearPCM || format.mChannelsPerFrame == 0 ||
        format.mChannelsPerFrame > PA_CHANNELS_MAX || format.mSampleRate < 1 ||
        format.mSampleRate > PA_RATE_MAX || format.mFramesPerPacket != 1 ||
        (format.mFormatFlags & kAudioFormatFlagIsBigEndian) ||
        ((format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) &&
         format.mChannelsPerFrame > 1) ||
        format.mBytesPerFrame != format.mChannelsPerFrame * (format.mBitsPerChannel / 8) ||
        format.mBytesPerPacket != format.mBytesPerFrame) {
        return false;
    }
    if (format.mFormatFlags & kAudioFormatFlagIsFloat) {
        *out = PA_SAMPLE_FLOAT32LE;
        return format.mBitsPerChannel == 32;
    }
    if (!(format.mFormatFlags & kAudioFormatFlagIsSignedInteger)) {
        return false;
    }
    if (format.mBitsPerChannel == 16) {
        *out = PA_SAMPLE_S16LE;
        return true;
    }
    if (format.mBitsPerChannel == 32) {
        *out = PA_SAMPLE_S32LE;
        return true;
    }
    return false;
}

// Real-time (the server connection's thread): only wakes whoever waits.
void signalLoop(pa_stream*, size_t, void*) {
    pa_threaded_mainloop_signal(PulseHardware::shared().mainloop(), 0);
}

void signalLoopOnState(pa_stream*, void*) {
    pa_threaded_mainloop_signal(PulseHardware::shared().mainloop(), 0);
}

void signalLoopOnSuccess(pa_stream*, int, void* done) {
    *static_cast<bool*>(done) = true;
    pa_threaded_mainloop_signal(PulseHardware::shared().mainloop(), 0);
}

} // namespace

struct OpaqueAudioQueue {
    bool input = false;
    AudioStreamBasicDescription format{};
    pa_sample_spec spec{};
    AudioQueueOutputCallback outputCallback = nullptr;
    AudioQueueInputCallback inputCallback = nullptr;
    void* userData = nullptr;

    std::mutex lock; // guards everything below but the stream's innards
    std::condition_variable wake;
    std::condition_variable stopped;
    std::deque<AudioQueueBuffer*> queued;
    std::vector<std::unique_ptr<BufferStorage>> buffers;
    std::vector<uint8_t> cookie;
    pa_stream* stream = nullptr; // created by start, closed by the worker's stop
    bool paused = false;
    bool stopping = false; // at once: hand everything back and close
    bool draining = false; // output: play what is enqueued, then stop
    bool quit = false;
    std::atomic<bool> interrupt{false}; // makes a waiting fill or write give up
    std::atomic<uint64_t> frames{0};    // played or recorded since the start
    std::vector<uint8_t> carry;         // recorded bytes taken from the server, not yet used
    size_t carryOffset = 0;

    std::mutex listenerLock;
    std::vector<Listener> listeners;
    std::unique_ptr<SerialQueue> notices;
    std::thread worker;

    AudioQueueRef handle() { return this; }
    bool isBuffer(AudioQueueBuffer* buffer) {
        return std::any_of(buffers.begin(), buffers.end(),
                           [buffer](const auto& storage) { return &storage->buffer == buffer; });
    }

    void notifyRunning() {
        notices->post([this] {
            std::vector<Listener> copy;
            {
                std::lock_guard guard(listenerLock);
                copy = listeners;
            }
            for (const Listener& listener : copy) {
                if (listener.id == kAudioQueueProperty_IsRunning) {
                    listener.proc(listener.userData, handle(), listener.id);
                }
            }
        });
    }

    void handBack(AudioQueueBuffer* buffer) {
        if (input) {
            AudioTimeStamp time{};
            time.mSampleTime = static_cast<double>(frames.load());
            time.mFlags = kAudioTimeStampSampleTimeValid;
            const uint32_t packets = buffer->mAudioDataByteSize / format.mBytesPerPacket;
            frames.fetch_add(packets);
            inputCallback(userData, handle(), buffer, &time, packets, nullptr);
        } else {
            outputCallback(userData, handle(), buffer);
        }
    }

    // Fills an input buffer with recorded frames, until it is full or the
    // queue is paused or stopped.
    void fill(AudioQueueBuffer* buffer) {
        const size_t capacity =
            buffer->mAudioDataBytesCapacity / format.mBytesPerFrame * format.mBytesPerFrame;
        auto* target = static_cast<uint8_t*>(buffer->mAudioData);
        size_t filled = 0;
        pa_threaded_mainloop* loop = PulseHardware::shared().mainloop();
        pa_threaded_mainloop_lock(loop);
        while (filled < capacity && !interrupt.load()) {
            if (carryOffset < carry.size()) {
                const size_t take = std::min(capacity - filled, carry.size() - carryOffset);
                std::memcpy(target + filled, carry.data() + carryOffset, take);
                filled += take;
                carryOffset += take;
                continue;
            }
            if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY) {
                break;
            }
            const void* data = nullptr;
            size_t length = 0;
            if (pa_stream_peek(stream, &data, &length) < 0) {
                break;
            }
            if (length == 0) {
                pa_threaded_mainloop_wait(loop);
                continue;
            }
            carry.assign(length, 0); // a hole in the recording stays silent
            if (data) {
                std::memcpy(carry.data(), data, length);
            }
            carryOffset = 0;
            pa_stream_drop(stream);
        }
        pa_threaded_mainloop_unlock(loop);
        buffer->mAudioDataByteSize = static_cast<uint32_t>(filled);
    }

    // Writes an output buffer to the server, waiting for room, unless the
    // queue is stopped at once.
    void play(AudioQueueBuffer* buffer) {
        const auto* source = static_cast<const uint8_t*>(buffer->mAudioData);
        const size_t total =
            buffer->mAudioDataByteSize / format.mBytesPerFrame * format.mBytesPerFrame;
        size_t written = 0;
        pa_threaded_mainloop* loop = PulseHardware::shared().mainloop();
        pa_threaded_mainloop_lock(loop);
        while (written < total && !interrupt.load()) {
            if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY) {
                break;
            }
            size_t room = pa_stream_writable_size(stream);
            if (room == static_cast<size_t>(-1)) {
                break;
            }
            room = room / format.mBytesPerFrame * format.mBytesPerFrame;
            if (room == 0) {
                pa_threaded_mainloop_wait(loop);
                continue;
            }
            const size_t chunk = std::min(room, total - written);
            if (pa_stream_write(stream, source + written, chunk, nullptr, 0, PA_SEEK_RELATIVE) <
                0) {
                break;
            }
            written += chunk;
            frames.fetch_add(chunk / format.mBytesPerFrame);
        }
        pa_threaded_mainloop_unlock(loop);
    }

    // Output: waits until the server has played what it was given.
    void drainStream() {
        pa_threaded_mainloop* loop = PulseHardware::shared().mainloop();
        pa_threaded_mainloop_lock(loop);
        bool done = false;
        if (stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
            if (pa_operation* operation = pa_stream_drain(stream, signalLoopOnSuccess, &done)) {
                while (!done && !interrupt.load() &&
                       pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
                    pa_threaded_mainloop_wait(loop);
                }
                pa_operation_unref(operation);
            }
        }
        pa_threaded_mainloop_unlock(loop);
    }

    void run() {
        std::unique_lock guard(lock);
        for (;;) {
            wake.wait(guard, [this] {
                return quit || stopping || (draining && queued.empty()) ||
                       (stream && !paused && !queued.empty());
            });
            if (quit) {
                return;
            }
            if (stopping || (draining && queued.empty())) {
                const bool atOnce = stopping;
                guard.unlock();
                if (!atOnce) {
                    drainStream();
                }
                guard.lock();
                // Everything enqueued goes back to its owner.
                std::deque<AudioQueueBuffer*> left;
                left.swap(queued);
                pa_stream* closing = stream;
                stream = nullptr;
                guard.unlock();
                closeStream(PulseHardware::shared().mainloop(), closing);
                for (AudioQueueBuffer* buffer : left) {
                    if (input) {
                        buffer->mAudioDataByteSize = 0;
                    }
                    handBack(buffer);
                }
                carry.clear();
                carryOffset = 0;
                guard.lock();
                stopping = draining = false;
                paused = false;
                interrupt.store(false);
                stopped.notify_all();
                notifyRunning();
                continue;
            }
            AudioQueueBuffer* buffer = queued.front();
            queued.pop_front();
            guard.unlock();
            if (input) {
                fill(buffer);
            } else {
                play(buffer);
            }
            handBack(buffer);
            guard.lock();
            if (interrupt.load() && paused && !stopping) {
                interrupt.store(false); // the pause has taken the buffer being filled
            }
            if (!input && !stopping && stream && pa_stream_get_state(stream) != PA_STREAM_READY) {
                stopping = true; // the device or the server went away
            }
            if (input && !stopping && !paused && stream &&
                pa_stream_get_state(stream) != PA_STREAM_READY) {
                stopping = true;
            }
        }
    }

    // With `lock` held by the caller (unlocked while waiting).
    void wakeWorker() {
        pa_threaded_mainloop* loop = PulseHardware::shared().mainloop();
        pa_threaded_mainloop_lock(loop);
        pa_threaded_mainloop_signal(loop, 0);
        pa_threaded_mainloop_unlock(loop);
        wake.notify_all();
    }
};

namespace {

OSStatus newQueue(bool input, const AudioStreamBasicDescription* format,
                  AudioQueueOutputCallback output, AudioQueueInputCallback inputCallback,
                  void* userData, void* runLoop, void* runLoopMode, uint32_t flags,
                  AudioQueueRef* outAQ) {
    if (!format || !outAQ || runLoop || runLoopMode || flags != 0 ||
        (input ? !inputCallback : !output)) {
        return kAudio_ParamError;
    }
    pa_sample_format_t sampleFormat{};
    if (!sampleFormatFor(*format, &sampleFormat)) {
        return kAudioFormatUnsupportedDataFormatError;
    }
    if (const OSStatus status = PulseHardware::shared().connect(); status != 0) {
        return status;
    }
    auto queue = std::make_unique<OpaqueAudioQueue>();
    queue->input = input;
    queue->format = *format;
    queue->spec = {sampleFormat, static_cast<uint32_t>(format->mSampleRate),
                   static_cast<uint8_t>(format->mChannelsPerFrame)};
    queue->outputCallback = output;
    queue->inputCallback = inputCallback;
    queue->userData = userData;
    queue->notices =
        std::make_unique<SerialQueue>(input ? "AudioQueue.input" : "AudioQueue.output");
    queue->worker = std::thread([q = queue.get()] { q->run(); });
    *outAQ = queue.release();
    return 0;
}

} // namespace

OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                             AudioQueueOutputCallback callback, void* userData, void* runLoop,
                             void* runLoopMode, uint32_t flags, AudioQueueRef* outAQ) {
    return newQueue(false, format, callback, nullptr, userData, runLoop, runLoopMode, flags, outAQ);
}

OSStatus AudioQueueNewInput(const AudioStreamBasicDescription* format,
                            AudioQueueInputCallback callback, void* userData, void* runLoop,
                            void* runLoopMode, uint32_t flags, AudioQueueRef* outAQ) {
    return newQueue(true, format, nullptr, callback, userData, runLoop, runLoopMode, flags, outAQ);
}

OSStatus AudioQueueDispose(AudioQueueRef queue, bool) {
    if (!queue) {
        return kAudio_ParamError;
    }
    if (queue->worker.get_id() == std::this_thread::get_id()) {
        return kAudioQueueErr_InvalidParameter; // not from the queue's own callback
    }
    {
        std::lock_guard guard(queue->listenerLock);
        queue->listeners.clear();
    }
    {
        std::lock_guard guard(queue->lock);
        queue->quit = true;
        queue->interrupt.store(true);
        queue->wakeWorker();
    }
    queue->worker.join();
    closeStream(PulseHardware::shared().mainloop(), queue->stream);
    queue->notices.reset(); // runs the notices already posted (to no listener)
    delete queue;
    return 0;
}

OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, uint32_t byteSize,
                                  AudioQueueBufferRef* outBuffer) {
    if (!queue || !outBuffer || byteSize == 0) {
        return kAudio_ParamError;
    }
    auto storage = std::make_unique<BufferStorage>();
    storage->data.assign(byteSize, 0);
    storage->buffer.mAudioDataBytesCapacity = byteSize;
    storage->buffer.mAudioData = storage->data.data();
    std::lock_guard guard(queue->lock);
    *outBuffer = &storage->buffer;
    queue->buffers.push_back(std::move(storage));
    return 0;
}

OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                 uint32_t numPacketDescs,
                                 const AudioStreamPacketDescription* packetDescs) {
    if (!queue || !buffer) {
        return kAudio_ParamError;
    }
    std::lock_guard guard(queue->lock);
    if (!queue->isBuffer(buffer)) {
        return kAudioQueueErr_InvalidBuffer;
    }
    if (std::find(queue->queued.begin(), queue->queued.end(), buffer) != queue->queued.end()) {
        return kAudioQueueErr_BufferInQueue;
    }
    if (buffer->mAudioDataByteSize > buffer->mAudioDataBytesCapacity ||
        (numPacketDescs > 0 && !packetDescs)) {
        return kAudioQueueErr_InvalidParameter;
    }
    buffer->mPacketDescriptionCount = 0; // linear PCM needs none
    queue->queued.push_back(buffer);
    queue->wake.notify_all();
    return 0;
}

OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* startTime) {
    if (!queue || startTime) {
        return kAudio_ParamError;
    }
    std::unique_lock guard(queue->lock);
    if (queue->stopping || queue->draining) {
        queue->stopped.wait(guard, [queue] { return !queue->stopping && !queue->draining; });
    }
    pa_threaded_mainloop* loop = PulseHardware::shared().mainloop();
    if (queue->stream) { // paused: go on
        queue->paused = false;
        queue->interrupt.store(false);
        pa_threaded_mainloop_lock(loop);
        if (pa_operation* operation = pa_stream_cork(queue->stream, 0, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
        pa_threaded_mainloop_signal(loop, 0);
        pa_threaded_mainloop_unlock(loop);
        queue->wake.notify_all();
        return 0;
    }
    if (const OSStatus status = PulseHardware::shared().connect(); status != 0) {
        return status;
    }
    pa_threaded_mainloop_lock(loop);
    pa_channel_map map{};
    pa_channel_map_init_extend(&map, queue->spec.channels, PA_CHANNEL_MAP_DEFAULT);
    pa_stream* stream = pa_stream_new(PulseHardware::shared().context(),
                                      queue->input ? "Audio queue input" : "Audio queue output",
                                      &queue->spec, &map);
    if (!stream) {
        pa_threaded_mainloop_unlock(loop);
        return kAudioQueueErr_CannotStart;
    }
    const uint32_t bytesPerSecond = static_cast<uint32_t>(pa_bytes_per_second(&queue->spec));
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = bytesPerSecond / 10; // 0.1 s ahead
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = bytesPerSecond / 50; // 20 ms fragments
    const auto flags = PA_STREAM_ADJUST_LATENCY;
    int connecting = 0;
    if (queue->input) {
        pa_stream_set_read_callback(stream, signalLoop, nullptr);
        connecting = pa_stream_connect_record(stream, nullptr, &attributes, flags);
    } else {
        pa_stream_set_write_callback(stream, signalLoop, nullptr);
        connecting =
            pa_stream_connect_playback(stream, nullptr, &attributes, flags, nullptr, nullptr);
    }
    const bool ready = connecting == 0 && waitUntilStreamReady(loop, stream);
    if (!ready) {
        closeStream(loop, stream);
        pa_threaded_mainloop_unlock(loop);
        return kAudioQueueErr_CannotStart;
    }
    pa_stream_set_state_callback(stream, signalLoopOnState, nullptr);
    queue->stream = stream;
    pa_threaded_mainloop_unlock(loop);
    queue->paused = false;
    queue->interrupt.store(false);
    queue->frames.store(0);
    queue->wake.notify_all();
    queue->notifyRunning();
    return 0;
}

OSStatus AudioQueuePause(AudioQueueRef queue) {
    if (!queue) {
        return kAudio_ParamError;
    }
    std::lock_guard guard(queue->lock);
    if (!queue->stream || queue->paused) {
        return 0;
    }
    queue->paused = true;
    pa_threaded_mainloop* loop = PulseHardware::shared().mainloop();
    pa_threaded_mainloop_lock(loop);
    if (pa_operation* operation = pa_stream_cork(queue->stream, 1, nullptr, nullptr)) {
        pa_operation_unref(operation);
    }
    pa_threaded_mainloop_unlock(loop);
    if (queue->input) {
        queue->interrupt.store(true); // the buffer being filled goes back with what it has
        queue->wakeWorker();
    }
    return 0;
}

OSStatus AudioQueueStop(AudioQueueRef queue, bool immediate) {
    if (!queue) {
        return kAudio_ParamError;
    }
    std::unique_lock guard(queue->lock);
    if (!queue->stream) {
        return 0;
    }
    if (immediate || queue->input || queue->paused) {
        queue->stopping = true;
        queue->interrupt.store(true);
    } else {
        queue->draining = true;
    }
    queue->wakeWorker();
    // From the queue's own callback, the worker stops after it returns.
    if (immediate && queue->worker.get_id() != std::this_thread::get_id()) {
        queue->stopped.wait(guard, [queue] { return !queue->stopping; });
    }
    return 0;
}

OSStatus AudioQueueGetProperty(AudioQueueRef queue, uint32_t id, void* outData, uint32_t* ioSize) {
    if (!queue || !ioSize) {
        return kAudio_ParamError;
    }
    std::lock_guard guard(queue->lock);
    auto answer = [&](const void* value, uint32_t size) {
        if (!outData || *ioSize < size) {
            return kAudioQueueErr_InvalidPropertySize;
        }
        std::memcpy(outData, value, size);
        *ioSize = size;
        return 0;
    };
    switch (id) {
    case kAudioQueueProperty_IsRunning: {
        const uint32_t running = queue->stream && !queue->stopping ? 1 : 0;
        return answer(&running, sizeof(running));
    }
    case kAudioQueueProperty_StreamDescription:
    case kAudioConverterCurrentOutputStreamDescription:
        return answer(&queue->format, sizeof(queue->format));
    case kAudioQueueProperty_MaximumOutputPacketSize: {
        const uint32_t size = queue->format.mBytesPerPacket;
        return answer(&size, sizeof(size));
    }
    case kAudioQueueProperty_MagicCookie:
        if (queue->cookie.empty()) {
            *ioSize = 0;
            return 0;
        }
        return answer(queue->cookie.data(), static_cast<uint32_t>(queue->cookie.size()));
    case kPulseAudioQueueProperty_EnqueuedBufferCount: {
        const auto count = static_cast<uint32_t>(queue->queued.size());
        return answer(&count, sizeof(count));
    }
    default:
        return kAudioQueueErr_InvalidProperty;
    }
}

OSStatus AudioQueueSetProperty(AudioQueueRef queue, uint32_t id, const void* data, uint32_t size) {
    if (!queue || (size > 0 && !data)) {
        return kAudio_ParamError;
    }
    if (id != kAudioQueueProperty_MagicCookie) {
        return kAudioQueueErr_InvalidProperty;
    }
    // Linear PCM has no use for a cookie; it is kept for whoever asks.
    std::lock_guard guard(queue->lock);
    const auto* bytes = static_cast<const uint8_t*>(data);
    queue->cookie.assign(bytes, bytes + size);
    return 0;
}

OSStatus AudioQueueAddPropertyListener(AudioQueueRef queue, uint32_t id,
                                       AudioQueuePropertyListenerProc proc, void* userData) {
    if (!queue || !proc) {
        return kAudio_ParamError;
    }
    if (id != kAudioQueueProperty_IsRunning) {
        return kAudioQueueErr_InvalidProperty;
    }
    std::lock_guard guard(queue->listenerLock);
    queue->listeners.push_back({id, proc, userData});
    return 0;
}

OSStatus AudioQueueRemovePropertyListener(AudioQueueRef queue, uint32_t id,
                                          AudioQueuePropertyListenerProc proc, void* userData) {
    if (!queue) {
        return kAudio_ParamError;
    }
    std::lock_guard guard(queue->listenerLock);
    std::erase_if(queue->listeners, [&](const Listener& listener) {
        return listener.id == id && listener.proc == proc && listener.userData == userData;
    });
    return 0;
}

OSStatus AudioQueueGetCurrentTime(AudioQueueRef queue, void*, AudioTimeStamp* outTime,
                                  bool* outDiscontinuity) {
    if (!queue || !outTime) {
        return kAudio_ParamError;
    }
    *outTime = {};
    outTime->mSampleTime = static_cast<double>(queue->frames.load());
    outTime->mFlags = kAudioTimeStampSampleTimeValid;
    if (outDiscontinuity) {
        *outDiscontinuity = false;
    }
    return 0;
}

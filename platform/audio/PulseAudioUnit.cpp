#include "platform/audio/PulseAudioUnit.h"

#include "platform/audio/PulseHardware.h"
#include "platform/audio/SerialQueue.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <sys/time.h>

namespace {

SerialQueue& listenerQueue() {
    static SerialQueue* queue = new SerialQueue("AudioUnitEvents"); // lives until exit
    return *queue;
}

void signalMainloop(pa_stream*, void* mainloop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
}

struct Deadline {
    bool passed = false;
    pa_threaded_mainloop* mainloop = nullptr;
};

void deadlinePassed(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* data) {
    auto* deadline = static_cast<Deadline*>(data);
    deadline->passed = true;
    api->time_free(event);
    pa_threaded_mainloop_signal(deadline->mainloop, 0);
}

} // namespace

bool isClientFormat(const AudioStreamBasicDescription& format) {
    const bool oneBufferPerChannel =
        (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) || format.mChannelsPerFrame == 1;
    return format.mFormatID == kAudioFormatLinearPCM &&
           (format.mFormatFlags & kAudioFormatFlagIsFloat) && oneBufferPerChannel &&
           format.mBitsPerChannel == 32 && format.mChannelsPerFrame >= 1 &&
           format.mChannelsPerFrame <= PA_CHANNELS_MAX && format.mSampleRate > 0 &&
           format.mSampleRate <= PA_RATE_MAX;
}

bool waitUntilStreamReady(pa_threaded_mainloop* mainloop, pa_stream* stream) {
    pa_stream_set_state_callback(stream, signalMainloop, mainloop);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop);
    Deadline deadline{false, mainloop};
    struct timeval when {};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, 5 * PA_USEC_PER_SEC);
    pa_time_event* timer = api->time_new(api, &when, deadlinePassed, &deadline);
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY || state == PA_STREAM_FAILED ||
            state == PA_STREAM_TERMINATED || deadline.passed) {
            break;
        }
        pa_threaded_mainloop_wait(mainloop);
    }
    if (!deadline.passed) {
        api->time_free(timer);
    }
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    return pa_stream_get_state(stream) == PA_STREAM_READY;
}

void closeStream(pa_threaded_mainloop* mainloop, pa_stream*& stream) {
    if (!stream) {
        return;
    }
    const bool onLoopThread = pa_threaded_mainloop_in_thread(mainloop);
    if (!onLoopThread) {
        pa_threaded_mainloop_lock(mainloop);
    }
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
    if (!onLoopThread) {
        pa_threaded_mainloop_unlock(mainloop);
    }
}

PulseAudioUnit::~PulseAudioUnit() {
    {
        std::lock_guard lock(mListenerLock);
        mListeners.clear();
    }
    // Notices already posted for this unit run (finding no listener) before it goes.
    if (!listenerQueue().isCurrentThread()) {
        listenerQueue().sync([] {});
    }
}

const AudioStreamBasicDescription& PulseAudioUnit::format(uint32_t scope) const {
    return scope == kAudioUnitScope_Output ? mOutputFormat : mInputFormat;
}

OSStatus PulseAudioUnit::setProperty(uint32_t property, uint32_t scope, uint32_t, const void* data,
                                     uint32_t size) {
    if (!data) {
        return kAudio_ParamError;
    }
    switch (property) {
    case kAudioUnitProperty_StreamFormat: {
        if (size != sizeof(AudioStreamBasicDescription)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        AudioStreamBasicDescription format;
        std::memcpy(&format, data, sizeof(format));
        if (!isClientFormat(format)) {
            return kAudioUnitErr_FormatNotSupported;
        }
        if (mInitialized) {
            return kAudioUnitErr_CannotDoInCurrentContext;
        }
        (scope == kAudioUnitScope_Output ? mOutputFormat : mInputFormat) = format;
        return kAudioHardwareNoError;
    }
    case kAudioUnitProperty_SetRenderCallback:
        if (size != sizeof(AURenderCallbackStruct)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(&mRenderCallback, data, sizeof(mRenderCallback));
        return kAudioHardwareNoError;
    case kAudioUnitProperty_MaximumFramesPerSlice: {
        uint32_t frames = 0;
        if (size != sizeof(frames)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(&frames, data, sizeof(frames));
        if (frames == 0 || frames > 65536 || mInitialized) {
            return mInitialized ? kAudioUnitErr_CannotDoInCurrentContext
                                : kAudioUnitErr_InvalidPropertyValue;
        }
        mMaximumFramesPerSlice = frames;
        return kAudioHardwareNoError;
    }
    case kPulseAudioUnitProperty_MeasureCallbackCost: {
        uint32_t measure = 0;
        if (size != sizeof(measure)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(&measure, data, sizeof(measure));
        if (!mMeasuringCost.exchange(measure != 0, std::memory_order_relaxed) && measure != 0) {
            forgetCallbackFigures(); // measured from here on, all alike
        }
        return kAudioHardwareNoError;
    }
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus PulseAudioUnit::getProperty(uint32_t property, uint32_t scope, uint32_t, void* outData,
                                     uint32_t* ioSize) {
    if (!outData || !ioSize) {
        return kAudio_ParamError;
    }
    auto copyOut = [&](const auto& value) {
        if (*ioSize < sizeof(value)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(outData, &value, sizeof(value));
        *ioSize = sizeof(value);
        return kAudioHardwareNoError;
    };
    switch (property) {
    case kAudioUnitProperty_StreamFormat:
        return copyOut(format(scope));
    case kAudioUnitProperty_SampleRate:
        return copyOut(format(scope).mSampleRate);
    case kAudioUnitProperty_MaximumFramesPerSlice:
        return copyOut(mMaximumFramesPerSlice);
    case kAudioOutputUnitProperty_IsRunning:
        return copyOut(static_cast<uint32_t>(isRunning() ? 1 : 0));
    case kPulseAudioUnitProperty_StreamLost:
        return copyOut(static_cast<uint32_t>(streamLost() ? 1 : 0));
    case kPulseAudioUnitProperty_LongestCallback:
        return copyOut(mLongestCallback.load(std::memory_order_relaxed));
    case kPulseAudioUnitProperty_CallbackHistogram: {
        PulseCallbackHistogram histogram{};
        for (uint32_t b = 0; b < kPulseCallbackBuckets; ++b) {
            histogram.counts[b] = mCallbackCounts[b].load(std::memory_order_relaxed);
        }
        return copyOut(histogram);
    }
    case kPulseAudioUnitProperty_CallbackCost:
        return copyOut(PulseCallbackCost{mLongestCallbackCpu.load(std::memory_order_relaxed),
                                         mCpuOfLongestCallback.load(std::memory_order_relaxed),
                                         mCallbacksThatWaited.load(std::memory_order_relaxed)});
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus PulseAudioUnit::setParameter(uint32_t, uint32_t, float) {
    return kAudioUnitErr_InvalidParameter;
}

OSStatus PulseAudioUnit::getParameter(uint32_t, uint32_t, float*) {
    return kAudioUnitErr_InvalidParameter;
}

OSStatus PulseAudioUnit::initialize() {
    mInitialized = true;
    return kAudioHardwareNoError;
}

OSStatus PulseAudioUnit::uninitialize() {
    if (isRunning()) {
        stop();
    }
    mInitialized = false;
    return kAudioHardwareNoError;
}

// Real-time: no allocation, no locks.
OSStatus PulseAudioUnit::pullInput(AudioUnitRenderActionFlags* flags,
                                   const AudioTimeStamp* timeStamp, uint32_t frames,
                                   AudioBufferList* data) {
    if (mSourceUnit) {
        return mSourceUnit->render(flags, timeStamp, 0, frames, data);
    }
    if (mRenderCallback.inputProc) {
        return mRenderCallback.inputProc(mRenderCallback.inputProcRefCon, flags, timeStamp, 0,
                                         frames, data);
    }
    return kAudioUnitErr_NoConnection;
}

// Real-time: no allocation, no locks; both calls only read the thread's
// counters, and only while the cost is measured. The CPU clock is read
// apart: getrusage counts a running thread's time only up to its last tick.
PulseAudioUnit::ThreadUse PulseAudioUnit::threadUse() const {
    ThreadUse use;
    if (!mMeasuringCost.load(std::memory_order_relaxed)) {
        return use;
    }
    use.measured = true;
    timespec cpu{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu) == 0) {
        use.cpuNanoseconds =
            static_cast<uint64_t>(cpu.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(cpu.tv_nsec);
    }
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) == 0) {
        use.waits = static_cast<uint64_t>(usage.ru_nvcsw);
    }
    return use;
}

// Real-time: no allocation, no locks. One thread calls it per unit, so the
// figures need no more than relaxed stores.
void PulseAudioUnit::noteCallbackDuration(uint64_t nanoseconds, const ThreadUse& before) {
    const uint64_t bucket = std::min<uint64_t>(nanoseconds / kPulseCallbackBucketNanoseconds,
                                               kPulseCallbackBuckets - 1);
    mCallbackCounts[bucket].fetch_add(1, std::memory_order_relaxed);
    const ThreadUse after = before.measured ? threadUse() : ThreadUse{};
    const uint64_t cpu = after.measured ? after.cpuNanoseconds - before.cpuNanoseconds : 0;
    if (nanoseconds > mLongestCallback.load(std::memory_order_relaxed)) {
        mLongestCallback.store(nanoseconds, std::memory_order_relaxed);
        mCpuOfLongestCallback.store(cpu, std::memory_order_relaxed);
    }
    if (!after.measured) {
        return;
    }
    if (cpu > mLongestCallbackCpu.load(std::memory_order_relaxed)) {
        mLongestCallbackCpu.store(cpu, std::memory_order_relaxed);
    }
    if (after.waits != before.waits) {
        mCallbacksThatWaited.fetch_add(1, std::memory_order_relaxed);
    }
}

void PulseAudioUnit::forgetCallbackFigures() {
    mLongestCallback.store(0, std::memory_order_relaxed);
    mLongestCallbackCpu.store(0, std::memory_order_relaxed);
    mCpuOfLongestCallback.store(0, std::memory_order_relaxed);
    mCallbacksThatWaited.store(0, std::memory_order_relaxed);
    for (auto& count : mCallbackCounts) {
        count.store(0, std::memory_order_relaxed);
    }
}

void PulseAudioUnit::setRunning(bool running) {
    if (running) {
        forgetCallbackFigures();
    }
    if (mRunning.exchange(running, std::memory_order_acq_rel) != running) {
        notifyListeners(kAudioOutputUnitProperty_IsRunning);
    }
}

OSStatus PulseAudioUnit::startStream(const StreamRequest& request) {
    if (!mInitialized) {
        return kAudioUnitErr_Uninitialized;
    }
    if (isRunning()) {
        return kAudioHardwareNoError;
    }
    PulseHardware& hardware = PulseHardware::shared();
    if (const OSStatus status = hardware.connect(); status != kAudioHardwareNoError) {
        return status;
    }
    pa_threaded_mainloop* mainloop = hardware.mainloop();
    pa_threaded_mainloop_lock(mainloop);
    if (mStream) {
        closeStream(mainloop, mStream); // one that failed under us
    }
    mStream = pa_stream_new(hardware.context(), request.name, &request.spec, &request.map);
    if (!mStream) {
        pa_threaded_mainloop_unlock(mainloop);
        return kAudioHardwareNotRunningError;
    }
    attachCallbacks(mStream);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    const int connecting =
        request.record
            ? pa_stream_connect_record(mStream, request.device.c_str(), &request.attributes, flags)
            : pa_stream_connect_playback(mStream, request.device.c_str(), &request.attributes,
                                         flags, nullptr, nullptr);
    const bool connected = connecting == 0 && waitUntilStreamReady(mainloop, mStream);
    if (!connected) {
        closeStream(mainloop, mStream); // the loop's lock is recursive
    }
    if (connected) {
        // From now on a stream that fails means the device or the server went away.
        mStreamLost.store(false, std::memory_order_relaxed);
        pa_stream_set_state_callback(mStream, &PulseAudioUnit::streamStateChanged, this);
        mClockSlot.store(DeviceClocks::attach(request.deviceID, request.spec.rate));
    }
    pa_threaded_mainloop_unlock(mainloop);
    if (!connected) {
        return kAudioHardwareBadDeviceError;
    }
    setRunning(true);
    return kAudioHardwareNoError;
}

// On the server connection's thread.
void PulseAudioUnit::streamStateChanged(pa_stream* stream, void* userData) {
    auto* self = static_cast<PulseAudioUnit*>(userData);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        self->mStreamLost.store(true, std::memory_order_relaxed);
        self->detachClock();
        self->setRunning(false);
    }
}

OSStatus PulseAudioUnit::stopStream() {
    if (!mStream) {
        return kAudioHardwareNoError;
    }
    closeStream(PulseHardware::shared().mainloop(), mStream);
    detachClock();
    setRunning(false);
    return kAudioHardwareNoError;
}

void PulseAudioUnit::detachClock() {
    DeviceClocks::detach(mClockSlot.exchange(nullptr), this);
}

OSStatus PulseAudioUnit::addPropertyListener(uint32_t property, AudioUnitPropertyListenerProc proc,
                                             void* refCon) {
    if (!proc) {
        return kAudio_ParamError;
    }
    std::lock_guard lock(mListenerLock);
    mListeners.push_back({property, proc, refCon});
    return kAudioHardwareNoError;
}

OSStatus PulseAudioUnit::removePropertyListener(uint32_t property,
                                                AudioUnitPropertyListenerProc proc, void* refCon) {
    {
        std::lock_guard lock(mListenerLock);
        std::erase_if(mListeners, [&](const Listener& l) {
            return l.property == property && l.proc == proc && l.refCon == refCon;
        });
    }
    if (!listenerQueue().isCurrentThread()) {
        std::lock_guard wait(mDispatchLock);
    }
    return kAudioHardwareNoError;
}

void PulseAudioUnit::notifyListeners(uint32_t property) {
    listenerQueue().post([this, property] {
        std::lock_guard dispatching(mDispatchLock);
        std::vector<Listener> listeners;
        {
            std::lock_guard lock(mListenerLock);
            listeners = mListeners;
        }
        for (const Listener& listener : listeners) {
            if (listener.property == property) {
                listener.proc(listener.refCon, handle(), property, kAudioUnitScope_Global, 0);
            }
        }
    });
}

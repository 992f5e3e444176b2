#include "platform/audio/PulseOutputUnit.h"

#include "platform/audio/AudioUnitService.h"
#include "platform/audio/PulseHardware.h"
#include "platform/audio/RealtimeScope.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr double kTargetLatencySeconds = 0.1; // server-side buffer ahead of playback
constexpr double kTimingAnswerWait = 0.5;     // seconds; a lost server does not hold a stop
constexpr uint32_t kRequestsPerBuffer = 4;    // at least; see bufferRequest()

// A question to the server about a stream, waited for with the main loop
// locked.
struct ServerAnswer {
    pa_threaded_mainloop* mainloop;
    bool answered = false;
    bool success = false;
    bool timedOut = false;

    static void onAnswer(pa_stream*, int success, void* data) {
        auto* answer = static_cast<ServerAnswer*>(data);
        answer->answered = true;
        answer->success = success != 0;
        pa_threaded_mainloop_signal(answer->mainloop, 0);
    }
    static void onDeadline(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                           void* data) {
        auto* answer = static_cast<ServerAnswer*>(data);
        answer->timedOut = true;
        api->time_free(event);
        pa_threaded_mainloop_signal(answer->mainloop, 0);
    }
};

// With the loop locked, off its thread: asks (`ask` starts the operation
// with the answer's callback) and waits for the answer, at most
// kTimingAnswerWait. Whether the server said it was done.
template <typename Ask> bool askServer(pa_threaded_mainloop* mainloop, Ask ask) {
    ServerAnswer answer{mainloop};
    pa_operation* operation = ask(&ServerAnswer::onAnswer, &answer);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop);
    struct timeval deadline {};
    pa_timeval_add(pa_gettimeofday(&deadline), kTimingAnswerWait * PA_USEC_PER_SEC);
    pa_time_event* timer = api->time_new(api, &deadline, &ServerAnswer::onDeadline, &answer);
    while (operation && !answer.answered && !answer.timedOut) {
        pa_threaded_mainloop_wait(mainloop);
    }
    if (!answer.timedOut) {
        api->time_free(timer);
    }
    if (operation) {
        pa_operation_cancel(operation); // no answer may come after this returns
        pa_operation_unref(operation);
    }
    return answer.answered && answer.success;
}

} // namespace

PulseOutputUnit::~PulseOutputUnit() {
    stop();
}

OSStatus PulseOutputUnit::setProperty(uint32_t property, uint32_t scope, uint32_t element,
                                      const void* data, uint32_t size) {
    if (property == kAudioOutputUnitProperty_CurrentDevice) {
        uint32_t device = 0;
        if (!data || size != sizeof(device)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(&device, data, sizeof(device));
        const auto found = PulseHardware::shared().device(device);
        if (!found || !found->isOutput) {
            return kAudioHardwareBadDeviceError;
        }
        mDevice = device;
        mDeviceRate = found->sampleRate;
        mMaximumFramesPerSlice = std::max<uint32_t>(found->bufferFrameSize, 64);
        return kAudioHardwareNoError;
    }
    if (property == kAudioOutputUnitProperty_StartTimestampsAtZero) {
        // Accepted for compatibility: the unit's time stamps always count
        // the frames it has rendered since it started.
        return data && size == sizeof(uint32_t) ? kAudioHardwareNoError
                                                : kAudioUnitErr_InvalidPropertyValue;
    }
    if (property == kPulseOutputUnitProperty_TargetLatency) {
        uint32_t frames = 0;
        if (!data || size != sizeof(frames)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(&frames, data, sizeof(frames));
        if (frames > (1u << 20)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        mTargetLatencyFrames = frames;
        return kAudioHardwareNoError;
    }
    if (property == kPulseOutputUnitProperty_Holding) {
        uint32_t holding = 0;
        if (!data || size != sizeof(holding)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(&holding, data, sizeof(holding));
        return holding ? hold() : resume();
    }
    if (property == kPulseOutputUnitProperty_Growth) {
        PulseOutputGrowth growth;
        if (!data || size != sizeof(growth)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(&growth, data, sizeof(growth));
        const bool none = growth.bufferFrames == 0;
        const bool sound = growth.bufferFrames <= (1u << 20) && growth.requestFrames > 0 &&
                           growth.requestFrames <= growth.bufferFrames && growth.stepFrames > 0;
        if (!none && !sound) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        // The loop's thread reads it while it fills.
        pa_threaded_mainloop* mainloop = PulseHardware::shared().mainloop();
        const bool locking = mStream && !pa_threaded_mainloop_in_thread(mainloop);
        if (locking) {
            pa_threaded_mainloop_lock(mainloop);
        }
        mGrowth = none ? PulseOutputGrowth{} : growth;
        if (locking) {
            pa_threaded_mainloop_unlock(mainloop);
        }
        return kAudioHardwareNoError;
    }
    return PulseAudioUnit::setProperty(property, scope, element, data, size);
}

OSStatus PulseOutputUnit::getProperty(uint32_t property, uint32_t scope, uint32_t element,
                                      void* outData, uint32_t* ioSize) {
    if (property == kAudioUnitProperty_SampleRate && scope == kAudioUnitScope_Output && outData &&
        ioSize && *ioSize >= sizeof(double)) {
        // The output side runs at the device's rate.
        const double rate = mDeviceRate > 0 ? mDeviceRate : mInputFormat.mSampleRate;
        std::memcpy(outData, &rate, sizeof(rate));
        *ioSize = sizeof(rate);
        return kAudioHardwareNoError;
    }
    if (property == kPulseOutputUnitProperty_Underruns && outData && ioSize &&
        *ioSize >= sizeof(uint64_t)) {
        const uint64_t underruns = mUnderruns.load();
        std::memcpy(outData, &underruns, sizeof(underruns));
        *ioSize = sizeof(underruns);
        return kAudioHardwareNoError;
    }
    if (property == kPulseOutputUnitProperty_BufferRequest && outData && ioSize &&
        *ioSize >= sizeof(PulseOutputBufferRequest)) {
        const PulseOutputBufferRequest requested{mRequestedBufferFrames.load(),
                                                 mRequestedRequestFrames.load()};
        std::memcpy(outData, &requested, sizeof(requested));
        *ioSize = sizeof(requested);
        return kAudioHardwareNoError;
    }
    if (property == kPulseOutputUnitProperty_UnplayedFrames && outData && ioSize &&
        *ioSize >= sizeof(uint32_t)) {
        const uint32_t frames = unplayedFramesJudged();
        std::memcpy(outData, &frames, sizeof(frames));
        *ioSize = sizeof(frames);
        return kAudioHardwareNoError;
    }
    if (property == kPulseOutputUnitProperty_UnplayedFramesAtStop && outData && ioSize &&
        *ioSize >= sizeof(uint32_t)) {
        const uint32_t frames = mUnplayedAtStop.load();
        std::memcpy(outData, &frames, sizeof(frames));
        *ioSize = sizeof(frames);
        return kAudioHardwareNoError;
    }
    return PulseAudioUnit::getProperty(property, scope, element, outData, ioSize);
}

OSStatus PulseOutputUnit::setParameter(uint32_t parameter, uint32_t, float value) {
    if (parameter != kHALOutputParam_Volume) {
        return kAudioUnitErr_InvalidParameter;
    }
    if (!(value >= 0.0f) || value > 16.0f) {
        return kAudioUnitErr_InvalidPropertyValue;
    }
    mVolume.store(value, std::memory_order_relaxed);
    return kAudioHardwareNoError;
}

OSStatus PulseOutputUnit::getParameter(uint32_t parameter, uint32_t, float* outValue) {
    if (parameter != kHALOutputParam_Volume || !outValue) {
        return kAudioUnitErr_InvalidParameter;
    }
    *outValue = mVolume.load(std::memory_order_relaxed);
    return kAudioHardwareNoError;
}

OSStatus PulseOutputUnit::initialize() {
    if (mDevice == kAudioObjectUnknown) {
        const AudioDeviceID device = PulseHardware::shared().defaultOutputDevice();
        if (setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0, &device,
                        sizeof(device)) != kAudioHardwareNoError) {
            return kAudioUnitErr_FailedInitialization;
        }
    }
    if (!isClientFormat(mInputFormat)) {
        return kAudioUnitErr_FormatNotSupported;
    }
    const auto device = PulseHardware::shared().device(mDevice);
    if (!device) {
        return kAudioHardwareBadDeviceError;
    }
    mSinkName = device->name;
    mChannels = mInputFormat.mChannelsPerFrame;
    mPlanar.assign(static_cast<size_t>(mMaximumFramesPerSlice) * mChannels, 0.0f);
    mListStorage.assign(AudioBufferListSize(mChannels), 0);
    mList = reinterpret_cast<AudioBufferList*>(mListStorage.data());
    mList->mNumberBuffers = mChannels;
    mOutputFormat = mInputFormat;
    return PulseAudioUnit::initialize();
}

OSStatus PulseOutputUnit::start() {
    if (isRunning()) {
        return kAudioHardwareNoError; // its stream, and the loop's state for it, stay
    }
    StreamRequest request{"Cassora output", false, mSinkName, mDevice, {}, {}, {}};
    request.spec = {PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(mInputFormat.mSampleRate),
                    static_cast<uint8_t>(mChannels)};
    pa_channel_map_init_auto(&request.map, mChannels, PA_CHANNEL_MAP_DEFAULT);
    const PulseOutputBufferRequest buffer = bufferRequest();
    mRequestedBufferFrames.store(buffer.bufferFrames);
    mRequestedRequestFrames.store(buffer.requestFrames);
    mLastFillHostTime.store(0);
    mFillsSinceStart = 0;
    mWrittenSinceStart = 0;
    request.attributes = attributesFor(buffer);
    return startStream(request);
}

// A buffer of the target latency, asked for a slice at a time, or a quarter
// of it when it is shorter than four slices (the server's own split for a
// short buffer): the server then keeps a quarter in the device and asks while
// more is queued, so a delayed answer or a delayed server finds more left to
// play. Asked for in halves, the monitoring buffer ran dry about twice as
// often on a busy machine.
PulseOutputBufferRequest PulseOutputUnit::bufferRequest() const {
    const auto target =
        mTargetLatencyFrames > 0
            ? mTargetLatencyFrames
            : static_cast<uint32_t>(mInputFormat.mSampleRate * kTargetLatencySeconds);
    const uint32_t request =
        std::min(mMaximumFramesPerSlice, std::max<uint32_t>(target / kRequestsPerBuffer, 1));
    return {target, request};
}

// Real-time (the server connection's thread, after a fill): one step of
// growth toward the steady buffer, asked for without waiting for the answer.
// The server asks for the frames the step adds in its next request, which
// is then at most a step larger than usual. Not before the server has asked
// a second time: a stream still waiting to begin would wait for the larger
// buffer to fill, which an idle sink asks for only seconds later.
void PulseOutputUnit::growBuffer(pa_stream* stream) {
    const uint32_t current = mRequestedBufferFrames.load(std::memory_order_relaxed);
    if (mGrowth.bufferFrames <= current) {
        return;
    }
    const uint32_t next = std::min(mGrowth.bufferFrames, current + mGrowth.stepFrames);
    const uint32_t request = next == mGrowth.bufferFrames
                                 ? mGrowth.requestFrames
                                 : std::max(std::min(mGrowth.requestFrames, next / 2), 1u);
    askForBuffer(nullptr, stream, {next, request});
}

// The server's terms for a buffer: the rest as it sees fit.
pa_buffer_attr PulseOutputUnit::attributesFor(const PulseOutputBufferRequest& buffer) const {
    const auto frameBytes = static_cast<uint32_t>(sizeof(float) * mChannels);
    return {static_cast<uint32_t>(-1), frameBytes * buffer.bufferFrames, static_cast<uint32_t>(-1),
            frameBytes * buffer.requestFrames, static_cast<uint32_t>(-1)};
}

void PulseOutputUnit::askForBuffer(pa_threaded_mainloop* waitOn, pa_stream* stream,
                                   const PulseOutputBufferRequest& buffer) {
    const pa_buffer_attr attributes = attributesFor(buffer);
    if (waitOn) {
        askServer(waitOn, [&](pa_stream_success_cb_t done, void* answer) {
            return pa_stream_set_buffer_attr(stream, &attributes, done, answer);
        });
    } else if (pa_operation* asking =
                   pa_stream_set_buffer_attr(stream, &attributes, nullptr, nullptr)) {
        pa_operation_unref(asking);
    }
    mRequestedBufferFrames.store(buffer.bufferFrames, std::memory_order_relaxed);
    mRequestedRequestFrames.store(buffer.requestFrames, std::memory_order_relaxed);
}

// The buffer drains at the device's rate from what it held after the last
// fill.
uint32_t PulseOutputUnit::unplayedFramesJudged() const {
    const uint64_t filled = mLastFillHostTime.load(std::memory_order_acquire);
    if (!isRunning() || filled == 0) {
        return 0;
    }
    const double played = static_cast<double>(AudioGetCurrentHostTime() - filled) / 1e9 *
                          mInputFormat.mSampleRate;
    const double buffered = mBufferedAtFill.load(std::memory_order_relaxed);
    return played < buffered ? static_cast<uint32_t>(buffered - played) : 0;
}

OSStatus PulseOutputUnit::stop() {
    mUnplayedAtStop.store(mStream && !mHeld ? unplayedFrames() : 0);
    mHeld = false;
    return stopStream();
}

uint32_t PulseOutputUnit::unplayedFrames() {
    pa_threaded_mainloop* mainloop = PulseHardware::shared().mainloop();
    if (pa_threaded_mainloop_in_thread(mainloop)) {
        return 0; // the answer would come on this very thread
    }
    pa_threaded_mainloop_lock(mainloop);
    pa_stream_set_write_callback(mStream, nullptr, nullptr);
    const uint32_t frames = askUnplayedFrames(mainloop);
    pa_threaded_mainloop_unlock(mainloop);
    return frames;
}

// With the loop locked, off its thread: 0 when the server does not say.
uint32_t PulseOutputUnit::askUnplayedFrames(pa_threaded_mainloop* mainloop) {
    const bool updated = askServer(mainloop, [this](pa_stream_success_cb_t done, void* answer) {
        return pa_stream_update_timing_info(mStream, done, answer);
    });
    pa_usec_t latency = 0;
    int negative = 0;
    const bool known =
        updated && pa_stream_get_latency(mStream, &latency, &negative) == 0 && !negative;
    return known ? static_cast<uint32_t>(static_cast<double>(latency) * mInputFormat.mSampleRate /
                                         1e6)
                 : 0;
}

// The stream stays: the server drops what it holds and the device has not
// begun to play, and its buffer goes back to the size it started with
// unless it is to grow again.
// What the device still plays after that was heard; the rest was not, and
// is what the unplayed frames at stop count.
OSStatus PulseOutputUnit::hold() {
    pa_threaded_mainloop* mainloop = PulseHardware::shared().mainloop();
    if (!mStream || !isRunning() || mHeld || pa_threaded_mainloop_in_thread(mainloop)) {
        return kAudioUnitErr_CannotDoInCurrentContext;
    }
    pa_threaded_mainloop_lock(mainloop);
    pa_stream_set_write_callback(mStream, nullptr, nullptr);
    // Corked, the stream is read no further, so what it holds after the
    // flush is nothing and the frames it had not played are those dropped.
    askServer(mainloop, [this](pa_stream_success_cb_t done, void* answer) {
        return pa_stream_cork(mStream, 1, done, answer);
    });
    if (mGrowth.bufferFrames == 0) {
        // Before the flush, so that the server asks for the smaller buffer.
        // A buffer that stays is kept: the null sink, for one, skips a few
        // milliseconds of what follows a smaller one.
        const PulseOutputBufferRequest buffer = bufferRequest();
        if (mRequestedBufferFrames.load() != buffer.bufferFrames) {
            askForBuffer(mainloop, mStream, buffer);
        }
    }
    const uint32_t before = askUnplayedFrames(mainloop);
    const bool flushed = askServer(mainloop, [this](pa_stream_success_cb_t done, void* answer) {
        return pa_stream_flush(mStream, done, answer);
    });
    const uint32_t after = flushed ? askUnplayedFrames(mainloop) : before;
    mFillsSinceStart = 0;
    mWrittenSinceStart = 0;
    mLastFillHostTime.store(0);
    mHeld = true;
    pa_threaded_mainloop_unlock(mainloop);
    mUnplayedAtStop.store(before > after ? before - after : 0);
    return kAudioHardwareNoError;
}

// Fills at once what the server asked for while the unit held (its
// requests then went unanswered), on this thread: the loop's thread, which
// renders otherwise, waits for the lock meanwhile.
OSStatus PulseOutputUnit::resume() {
    pa_threaded_mainloop* mainloop = PulseHardware::shared().mainloop();
    if (!mHeld || pa_threaded_mainloop_in_thread(mainloop)) {
        return kAudioUnitErr_CannotDoInCurrentContext;
    }
    pa_threaded_mainloop_lock(mainloop);
    mHeld = false;
    if (mStream) {
        pa_stream_set_write_callback(mStream, &PulseOutputUnit::streamWritable, this);
        const size_t writable = pa_stream_writable_size(mStream);
        if (writable != static_cast<size_t>(-1) && writable > 0) {
            fill(mStream, writable);
        }
        if (pa_operation* uncorking = pa_stream_cork(mStream, 0, nullptr, nullptr)) {
            pa_operation_unref(uncorking);
        }
    }
    pa_threaded_mainloop_unlock(mainloop);
    return kAudioHardwareNoError;
}

void PulseOutputUnit::attachCallbacks(pa_stream* stream) {
    mSampleTime = 0;
    mUnderruns.store(0);
    pa_stream_set_write_callback(stream, &PulseOutputUnit::streamWritable, this);
    pa_stream_set_underflow_callback(
        stream,
        [](pa_stream*, void* self) {
            static_cast<PulseOutputUnit*>(self)->mUnderruns.fetch_add(1, std::memory_order_relaxed);
        },
        this);
}

void PulseOutputUnit::streamWritable(pa_stream* stream, size_t bytes, void* userData) {
    static_cast<PulseOutputUnit*>(userData)->fill(stream, bytes);
}

// Real-time (the server connection's thread): pulls slices and writes them
// interleaved, at the volume, into the server's buffer. The whole request
// goes out in as few writes as the server's blocks allow.
void PulseOutputUnit::fill(pa_stream* stream, size_t bytes) {
    const size_t frameBytes = sizeof(float) * mChannels;
    offerDeviceTime(mSampleTime, AudioGetCurrentHostTime());
    uint64_t written = 0;
    while (bytes >= frameBytes) {
        void* target = nullptr;
        size_t space = bytes;
        if (pa_stream_begin_write(stream, &target, &space) < 0 || !target || space < frameBytes) {
            break;
        }
        const auto frames = static_cast<uint32_t>(std::min(space, bytes) / frameBytes);
        {
            RealtimeScope realtime;
            auto* out = static_cast<float*>(target);
            const float volume = mVolume.load(std::memory_order_relaxed);
            for (uint32_t done = 0; done < frames;) {
                const uint32_t slice = std::min(frames - done, mMaximumFramesPerSlice);
                const ThreadUse before = threadUse();
                const uint64_t began = AudioGetCurrentHostTime();
                render(nullptr, nullptr, 0, slice, mList);
                for (uint32_t c = 0; c < mChannels; ++c) {
                    const float* in =
                        mPlanar.data() + static_cast<size_t>(c) * mMaximumFramesPerSlice;
                    for (uint32_t i = 0; i < slice; ++i) {
                        out[static_cast<size_t>(done + i) * mChannels + c] = in[i] * volume;
                    }
                }
                noteCallbackDuration(AudioGetCurrentHostTime() - began, before);
                done += slice;
            }
        }
        pa_stream_write(stream, target, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
        bytes -= frames * frameBytes;
        written += frames;
    }
    if (written == 0) {
        return;
    }
    // Right after a fill the server holds a full buffer, or what was
    // written when that is more (a fill after a hold), but never more than
    // was written since the start or the hold.
    mWrittenSinceStart += written;
    const uint64_t full =
        std::max<uint64_t>(mRequestedBufferFrames.load(std::memory_order_relaxed), written);
    mBufferedAtFill.store(static_cast<uint32_t>(std::min(full, mWrittenSinceStart)),
                          std::memory_order_relaxed);
    mLastFillHostTime.store(AudioGetCurrentHostTime(), std::memory_order_release);
    if (++mFillsSinceStart > 1) {
        growBuffer(stream);
    }
}

// Real-time: one slice of the pulled input into `data` (or the unit's own
// slice buffers when `data` is null).
OSStatus PulseOutputUnit::render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp*, uint32_t,
                                 uint32_t frames, AudioBufferList* data) {
    if (frames > mMaximumFramesPerSlice) {
        return kAudioUnitErr_TooManyFramesToProcess;
    }
    for (uint32_t c = 0; c < mChannels; ++c) {
        mList->mBuffers[c] = {1, frames * static_cast<uint32_t>(sizeof(float)),
                              mPlanar.data() + static_cast<size_t>(c) * mMaximumFramesPerSlice};
    }
    AudioTimeStamp timeStamp{};
    timeStamp.mSampleTime = mSampleTime;
    timeStamp.mHostTime = AudioGetCurrentHostTime();
    timeStamp.mRateScalar = 1.0;
    timeStamp.mFlags = kAudioTimeStampSampleTimeValid | kAudioTimeStampHostTimeValid |
                       kAudioTimeStampRateScalarValid;
    mSampleTime += frames;
    AudioUnitRenderActionFlags localFlags = 0;
    const OSStatus status = pullInput(flags ? flags : &localFlags, &timeStamp, frames, mList);
    if (status != kAudioHardwareNoError) {
        std::fill(mPlanar.begin(), mPlanar.end(), 0.0f);
    }
    if (data && data != mList) {
        for (uint32_t c = 0; c < std::min(data->mNumberBuffers, mChannels); ++c) {
            std::memcpy(data->mBuffers[c].mData, mList->mBuffers[c].mData, frames * sizeof(float));
        }
    }
    return status;
}

#include "platform/audio/PulseInputUnit.h"

#include "platform/audio/AudioUnitService.h"
#include "platform/audio/PulseHardware.h"
#include "platform/audio/RealtimeScope.h"

#include <algorithm>
#include <cstring>

PulseInputUnit::~PulseInputUnit() {
    stop();
}

OSStatus PulseInputUnit::setProperty(uint32_t property, uint32_t scope, uint32_t element,
                                     const void* data, uint32_t size) {
    if (!data) {
        return kAudio_ParamError;
    }
    auto readUInt32 = [&](uint32_t& value) {
        if (size != sizeof(uint32_t)) {
            return false;
        }
        std::memcpy(&value, data, sizeof(value));
        return true;
    };
    uint32_t value = 0;
    switch (property) {
    case kAudioOutputUnitProperty_EnableIO:
        if (!readUInt32(value)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        if (scope == kAudioUnitScope_Input && element == 1) {
            mInputEnabled = value != 0;
        } else if (scope == kAudioUnitScope_Output && element == 0) {
            mOutputEnabled = value != 0;
        } else {
            return kAudioUnitErr_InvalidElement;
        }
        return kAudioHardwareNoError;
    case kPulseInputUnitProperty_WakeFrames:
        if (!readUInt32(value)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        mWakeFrames = value;
        return kAudioHardwareNoError;
    case kAudioOutputUnitProperty_CurrentDevice:
        if (!readUInt32(value)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        if (!PulseHardware::shared().device(value)) {
            return kAudioHardwareBadDeviceError;
        }
        mDevice = value;
        return kAudioHardwareNoError;
    case kAudioOutputUnitProperty_StartTimestampsAtZero:
        if (!readUInt32(value)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        mStartAtZero = value != 0;
        return kAudioHardwareNoError;
    case kAudioOutputUnitProperty_SetInputCallback:
        if (size != sizeof(AURenderCallbackStruct)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(&mInputCallback, data, sizeof(mInputCallback));
        return kAudioHardwareNoError;
    case kAudioOutputUnitProperty_ChannelMap:
        if (size % sizeof(int32_t) != 0 || mInitialized) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        mChannelMap.assign(size / sizeof(int32_t), 0);
        std::memcpy(mChannelMap.data(), data, size);
        return kAudioHardwareNoError;
    default:
        return PulseAudioUnit::setProperty(property, scope, element, data, size);
    }
}

OSStatus PulseInputUnit::getProperty(uint32_t property, uint32_t scope, uint32_t element,
                                     void* outData, uint32_t* ioSize) {
    if (property == kAudioOutputUnitProperty_CurrentDevice && outData && ioSize &&
        *ioSize >= sizeof(mDevice)) {
        std::memcpy(outData, &mDevice, sizeof(mDevice));
        *ioSize = sizeof(mDevice);
        return kAudioHardwareNoError;
    }
    if (property == kPulseInputUnitProperty_WakeFrames && outData && ioSize &&
        *ioSize >= sizeof(uint32_t)) {
        const uint32_t frames = isRunning() ? mGrantedWakeFrames : requestedWakeFrames();
        std::memcpy(outData, &frames, sizeof(frames));
        *ioSize = sizeof(frames);
        return kAudioHardwareNoError;
    }
    return PulseAudioUnit::getProperty(property, scope, element, outData, ioSize);
}

OSStatus PulseInputUnit::initialize() {
    const auto device = PulseHardware::shared().device(mDevice);
    if (!mInputEnabled || !device || device->isOutput) {
        return kAudioUnitErr_FailedInitialization;
    }
    // The client format is the output side of the input bus.
    const AudioStreamBasicDescription& client = mOutputFormat;
    if (!isClientFormat(client)) {
        return kAudioUnitErr_FormatNotSupported;
    }
    // A map shorter than the client's channels repeats (one mono channel is
    // heard on both sides of a stereo client); a longer one is cut.
    for (const int32_t channel : mChannelMap) {
        if (channel >= static_cast<int32_t>(device->channels)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
    }
    mSourceName = device->name;
    mDeviceChannels = device->channels;
    mSliceFrames = std::max<uint32_t>(device->bufferFrameSize, 64);
    mCycle.assign(static_cast<size_t>(mSliceFrames) * mDeviceChannels, 0.0f);
    mSilence.assign(mCycle.size(), 0.0f);
    mMaximumFramesPerSlice = mSliceFrames;
    mInputFormat = client;
    mInputFormat.mChannelsPerFrame = mDeviceChannels;
    return PulseAudioUnit::initialize();
}

OSStatus PulseInputUnit::start() {
    StreamRequest request{"Cassora input", true, mSourceName, mDevice, {}, {}, {}};
    request.spec = {PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(mOutputFormat.mSampleRate),
                    static_cast<uint8_t>(mDeviceChannels)};
    const auto device = PulseHardware::shared().device(mDevice);
    if (device && device->channels == mDeviceChannels) {
        request.map = device->channelMap;
    } else {
        pa_channel_map_init_auto(&request.map, mDeviceChannels, PA_CHANNEL_MAP_DEFAULT);
    }
    // Woken once a slice, or once the unit's wake-up interval has gathered;
    // the server's defaults for the rest.
    request.attributes = {
        static_cast<uint32_t>(-1), static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
        static_cast<uint32_t>(-1),
        static_cast<uint32_t>(pa_frame_size(&request.spec) * requestedWakeFrames())};
    const OSStatus started = startStream(request);
    if (started == kAudioHardwareNoError) {
        mGrantedWakeFrames = grantedWakeFrames();
    }
    return started;
}

uint32_t PulseInputUnit::requestedWakeFrames() const {
    return std::max(mSliceFrames, mWakeFrames);
}

uint32_t PulseInputUnit::grantedWakeFrames() const {
    pa_threaded_mainloop* mainloop = PulseHardware::shared().mainloop();
    pa_threaded_mainloop_lock(mainloop);
    uint32_t frames = requestedWakeFrames();
    if (mStream) {
        const pa_buffer_attr* granted = pa_stream_get_buffer_attr(mStream);
        const size_t frameBytes = pa_frame_size(pa_stream_get_sample_spec(mStream));
        if (granted && frameBytes > 0) {
            frames = static_cast<uint32_t>(granted->fragsize / frameBytes);
        }
    }
    pa_threaded_mainloop_unlock(mainloop);
    return frames;
}

OSStatus PulseInputUnit::stop() {
    return stopStream();
}

void PulseInputUnit::attachCallbacks(pa_stream* stream) {
    mSampleTime = 0;
    pa_stream_set_read_callback(stream, &PulseInputUnit::streamReadable, this);
}

// Real-time (the server connection's thread): hands each slice to the callback.
void PulseInputUnit::streamReadable(pa_stream* stream, size_t, void* userData) {
    auto* self = static_cast<PulseInputUnit*>(userData);
    const size_t frameBytes = sizeof(float) * self->mDeviceChannels;
    for (;;) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        const auto frames = static_cast<uint32_t>(bytes / frameBytes);
        for (uint32_t done = 0; done < frames;) {
            const uint32_t count = std::min(frames - done, self->mSliceFrames);
            const float* samples =
                data ? static_cast<const float*>(data) +
                           static_cast<size_t>(done) * self->mDeviceChannels
                     : self->mSilence.data(); // a hole: the server lost these frames
            self->deliver(samples, count);
            done += count;
        }
        pa_stream_drop(stream);
    }
}

// Real-time: no allocation, no locks.
void PulseInputUnit::deliver(const float* interleaved, uint32_t frames) {
    RealtimeScope realtime;
    std::memcpy(mCycle.data(), interleaved, sizeof(float) * frames * mDeviceChannels);
    const ThreadUse before = threadUse();
    mCycleFrames = frames;
    AudioTimeStamp timeStamp{};
    timeStamp.mSampleTime = mSampleTime;
    timeStamp.mHostTime = AudioGetCurrentHostTime();
    timeStamp.mRateScalar = 1.0;
    timeStamp.mFlags = kAudioTimeStampSampleTimeValid | kAudioTimeStampHostTimeValid |
                       kAudioTimeStampRateScalarValid;
    mSampleTime += frames;
    offerDeviceTime(mSampleTime, timeStamp.mHostTime);
    AudioUnitRenderActionFlags flags = 0;
    if (mInputCallback.inputProc) {
        mInputCallback.inputProc(mInputCallback.inputProcRefCon, &flags, &timeStamp, 1, frames,
                                 nullptr);
    }
    noteCallbackDuration(AudioGetCurrentHostTime() - timeStamp.mHostTime, before);
}

// Real-time: copies this cycle's frames, one buffer per client channel.
OSStatus PulseInputUnit::render(AudioUnitRenderActionFlags*, const AudioTimeStamp*, uint32_t bus,
                                uint32_t frames, AudioBufferList* data) {
    if (bus != 1 || !data) {
        return kAudioUnitErr_InvalidElement;
    }
    if (frames > mCycleFrames) {
        return kAudioUnitErr_TooManyFramesToProcess;
    }
    for (uint32_t c = 0; c < data->mNumberBuffers; ++c) {
        AudioBuffer& buffer = data->mBuffers[c];
        if (!buffer.mData || buffer.mDataByteSize < frames * sizeof(float)) {
            return kAudio_ParamError;
        }
        const int32_t source =
            mChannelMap.empty() ? static_cast<int32_t>(c) : mChannelMap[c % mChannelMap.size()];
        auto* out = static_cast<float*>(buffer.mData);
        if (source < 0 || source >= static_cast<int32_t>(mDeviceChannels)) {
            std::memset(out, 0, frames * sizeof(float));
        } else {
            for (uint32_t i = 0; i < frames; ++i) {
                out[i] = mCycle[static_cast<size_t>(i) * mDeviceChannels + source];
            }
        }
        buffer.mDataByteSize = frames * sizeof(float);
    }
    return kAudioHardwareNoError;
}

#include "platform/audio/PulseVarispeedUnit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

PulseVarispeedUnit::~PulseVarispeedUnit() {
    if (mConverter) {
        src_delete(mConverter);
    }
    if (mCoarseConverter) {
        src_delete(mCoarseConverter);
    }
}

SRC_STATE* PulseVarispeedUnit::converterFor(float rate) const {
    return rate > CoarseRate ? mCoarseConverter : mConverter;
}

OSStatus PulseVarispeedUnit::setParameter(uint32_t parameter, uint32_t, float value) {
    if (parameter != kVarispeedParam_PlaybackRate) {
        return kAudioUnitErr_InvalidParameter;
    }
    if (!(value >= MinimumRate && value <= MaximumRate)) {
        return kAudioUnitErr_InvalidPropertyValue;
    }
    mRate.store(value, std::memory_order_relaxed);
    return kAudioHardwareNoError;
}

OSStatus PulseVarispeedUnit::getParameter(uint32_t parameter, uint32_t, float* outValue) {
    if (parameter != kVarispeedParam_PlaybackRate || !outValue) {
        return kAudioUnitErr_InvalidParameter;
    }
    *outValue = mRate.load(std::memory_order_relaxed);
    return kAudioHardwareNoError;
}

OSStatus PulseVarispeedUnit::initialize() {
    if (!isClientFormat(mInputFormat)) {
        return kAudioUnitErr_FormatNotSupported;
    }
    if (!isClientFormat(mOutputFormat)) {
        mOutputFormat = mInputFormat;
    }
    if (mOutputFormat.mChannelsPerFrame != mInputFormat.mChannelsPerFrame) {
        return kAudioUnitErr_FormatNotSupported;
    }
    mChannels = mInputFormat.mChannelsPerFrame;
    int error = 0;
    if (mConverter) {
        src_delete(mConverter);
    }
    if (mCoarseConverter) {
        src_delete(mCoarseConverter);
    }
    mConverter = src_callback_new(&PulseVarispeedUnit::supplyInput, SRC_SINC_FASTEST,
                                  static_cast<int>(mChannels), &error, this);
    mCoarseConverter = src_callback_new(&PulseVarispeedUnit::supplyInput, SRC_LINEAR,
                                        static_cast<int>(mChannels), &error, this);
    if (!mConverter || !mCoarseConverter) {
        return kAudioUnitErr_FailedInitialization;
    }
    const size_t samples = static_cast<size_t>(mMaximumFramesPerSlice) * mChannels;
    mInputPlanar.assign(samples, 0.0f);
    mInputInterleaved.assign(samples, 0.0f);
    mOutputInterleaved.assign(samples, 0.0f);
    mListStorage.assign(AudioBufferListSize(mChannels), 0);
    mInputList = reinterpret_cast<AudioBufferList*>(mListStorage.data());
    mInputList->mNumberBuffers = mChannels;
    mConverting = nullptr;
    return PulseAudioUnit::initialize();
}

OSStatus PulseVarispeedUnit::uninitialize() {
    mConverting = nullptr;
    for (SRC_STATE** converter : {&mConverter, &mCoarseConverter}) {
        if (*converter) {
            src_delete(*converter);
            *converter = nullptr;
        }
    }
    return PulseAudioUnit::uninitialize();
}

// Real-time: the converter asks for input; one slice is pulled and interleaved.
long PulseVarispeedUnit::supplyInput(void* userData, float** data) {
    auto* self = static_cast<PulseVarispeedUnit*>(userData);
    const uint32_t frames = self->mMaximumFramesPerSlice;
    for (uint32_t c = 0; c < self->mChannels; ++c) {
        self->mInputList->mBuffers[c] = {1, frames * static_cast<uint32_t>(sizeof(float)),
                                         self->mInputPlanar.data() +
                                             static_cast<size_t>(c) * frames};
    }
    if (self->pullInput(self->mPullFlags, &self->mPullTimeStamp, frames, self->mInputList) != 0) {
        std::fill(self->mInputPlanar.begin(), self->mInputPlanar.end(), 0.0f);
    }
    self->mPullTimeStamp.mSampleTime += frames;
    for (uint32_t c = 0; c < self->mChannels; ++c) {
        const float* in = self->mInputPlanar.data() + static_cast<size_t>(c) * frames;
        for (uint32_t i = 0; i < frames; ++i) {
            self->mInputInterleaved[static_cast<size_t>(i) * self->mChannels + c] = in[i];
        }
    }
    *data = self->mInputInterleaved.data();
    return frames;
}

// Real-time: no allocation, no locks.
OSStatus PulseVarispeedUnit::render(AudioUnitRenderActionFlags* flags,
                                    const AudioTimeStamp* timeStamp, uint32_t, uint32_t frames,
                                    AudioBufferList* data) {
    if (!mInitialized || !data || data->mNumberBuffers < mChannels) {
        return kAudioUnitErr_Uninitialized;
    }
    if (frames > mMaximumFramesPerSlice) {
        return kAudioUnitErr_TooManyFramesToProcess;
    }
    const float rate = mRate.load(std::memory_order_relaxed);
    if (rate == 1.0f) {
        // Straight through; what a converter still held is let go.
        mConverting = nullptr;
        return pullInput(flags, timeStamp, frames, data);
    }
    SRC_STATE* converter = converterFor(rate);
    if (mConverting != converter) {
        src_reset(converter);
        mConverting = converter;
    }
    mPullFlags = flags;
    if (timeStamp) {
        mPullTimeStamp = *timeStamp;
    }
    const long made = src_callback_read(converter, 1.0 / rate, frames, mOutputInterleaved.data());
    const uint32_t produced = made > 0 ? static_cast<uint32_t>(made) : 0;
    for (uint32_t c = 0; c < mChannels; ++c) {
        auto* out = static_cast<float*>(data->mBuffers[c].mData);
        for (uint32_t i = 0; i < produced; ++i) {
            out[i] = mOutputInterleaved[static_cast<size_t>(i) * mChannels + c];
        }
        std::fill(out + produced, out + frames, 0.0f);
        data->mBuffers[c].mDataByteSize = frames * sizeof(float);
    }
    return kAudioHardwareNoError;
}

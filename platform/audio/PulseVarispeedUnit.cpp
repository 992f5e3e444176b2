#include "platform/audio/PulseVarispeedUnit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// How many times one slice asks the converter for output before it gives
// up and fills silence (a converter error, or a window that cannot grow).
constexpr int MaximumConverterCalls = 32;
// Input frames added per further call when the estimate fell short.
constexpr int64_t ExtraInputFrames = 64;

} // namespace

PulseVarispeedUnit::~PulseVarispeedUnit() {
    freeConverters();
}

void PulseVarispeedUnit::freeConverters() {
    mActive = nullptr;
    for (SRC_STATE** converter : {&mConverter, &mCoarseConverter}) {
        if (*converter) {
            src_delete(*converter);
            *converter = nullptr;
        }
    }
}

PulseVarispeedUnit::Path PulseVarispeedUnit::pathFor(float rate) {
    if (rate == 1.0f) {
        return Path::Direct;
    }
    return rate > CoarseRate ? Path::Coarse : Path::Fine;
}

// Input frames a converter reads on either side of the frame it plays.
// libsamplerate's fastest sinc filter spans about 20 frames a side, widened
// by the rate when it plays faster than normal; the linear one two frames.
uint32_t PulseVarispeedUnit::reachFor(Path path, float rate) {
    if (path != Path::Fine) {
        return 2;
    }
    return static_cast<uint32_t>(std::ceil(24.0f * std::max(1.0f, rate))) + 2;
}

// Input frames by which a converter's output lags what it was fed: the
// linear converter starts by interpolating towards its first input frame.
double PulseVarispeedUnit::delayOf(Path path) {
    return path == Path::Coarse ? 1.0 : 0.0;
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
    mSampleRateRatio = mInputFormat.mSampleRate / mOutputFormat.mSampleRate;
    mMaximumEffectiveRate = MaximumRate * static_cast<float>(std::max(mSampleRateRatio, 1.0));
    mChannels = mInputFormat.mChannelsPerFrame;
    freeConverters();
    int error = 0;
    mConverter = src_new(SRC_SINC_FASTEST, static_cast<int>(mChannels), &error);
    mCoarseConverter = src_new(SRC_LINEAR, static_cast<int>(mChannels), &error);
    if (!mConverter || !mCoarseConverter) {
        freeConverters();
        return kAudioUnitErr_FailedInitialization;
    }
    const uint32_t slice = mMaximumFramesPerSlice;
    // History, a slice at the highest rate, the converter's reach and the
    // slack of further calls.
    const auto window = static_cast<uint32_t>(HistoryFrames + (mMaximumEffectiveRate + 1.0f) * slice +
                                              (MaximumConverterCalls + 4) * ExtraInputFrames);
    mInput.allocate(mChannels, window);
    mPulledPlanar.assign(static_cast<size_t>(slice) * mChannels, 0.0f);
    mOutputInterleaved.assign(static_cast<size_t>(slice) * mChannels, 0.0f);
    mListStorage.assign(AudioBufferListSize(mChannels), 0);
    mPullList = reinterpret_cast<AudioBufferList*>(mListStorage.data());
    mPullList->mNumberBuffers = mChannels;
    mPath = Path::Direct;
    mPosition = 0;
    mConverterInput = 0;
    return PulseAudioUnit::initialize();
}

OSStatus PulseVarispeedUnit::uninitialize() {
    freeConverters();
    return PulseAudioUnit::uninitialize();
}

// Real-time: no allocation, no locks. Pulls slices of input until the
// window holds every frame before `endFrame`; false when it cannot grow.
bool PulseVarispeedUnit::pullUntil(int64_t endFrame) {
    while (mInput.endFrame() < endFrame) {
        const auto wanted = static_cast<uint32_t>(
            std::min<int64_t>(endFrame - mInput.endFrame(), mMaximumFramesPerSlice));
        const uint32_t frames = mInput.reserve(wanted);
        if (frames == 0) {
            return false;
        }
        for (uint32_t c = 0; c < mChannels; ++c) {
            mPullList->mBuffers[c] = {1, frames * static_cast<uint32_t>(sizeof(float)),
                                      mPulledPlanar.data() +
                                          static_cast<size_t>(c) * mMaximumFramesPerSlice};
        }
        mPullTimeStamp.mSampleTime = static_cast<double>(mInput.endFrame());
        if (pullInput(mPullFlags, &mPullTimeStamp, frames, mPullList) != 0) {
            std::fill(mPulledPlanar.begin(), mPulledPlanar.end(), 0.0f);
        }
        mInput.appendPlanar(mPullList, frames);
    }
    return true;
}

// Real-time: no allocation, no locks. The new path takes over at the
// playback position; a converter is restarted a little before it and the
// output of that lead-in is dropped, so its filter is full of the signal's
// past when the first frame it plays comes out.
void PulseVarispeedUnit::restartAt(Path path, float rate) {
    mPath = path;
    if (path == Path::Direct) {
        mActive = nullptr;
        mPosition = std::round(mPosition);
        return;
    }
    mActive = path == Path::Coarse ? mCoarseConverter : mConverter;
    src_reset(mActive);
    src_set_ratio(mActive, 1.0 / rate);
    const double target = mPosition;
    const double delay = delayOf(path);
    auto leadIn = static_cast<int64_t>(std::ceil(reachFor(path, rate) / rate));
    int64_t start = std::llround(target + delay - static_cast<double>(leadIn) * rate);
    if (start < mInput.firstFrame()) { // no such past: start from what there is
        start = mInput.firstFrame();
        leadIn = std::max<int64_t>(0, std::llround((target + delay - start) / rate));
    }
    mConverterInput = start;
    mPosition = static_cast<double>(start) - delay;
    discardOutput(rate, leadIn);
}

// Real-time: no allocation, no locks.
void PulseVarispeedUnit::discardOutput(float rate, int64_t frames) {
    const uint32_t scratch = mMaximumFramesPerSlice;
    while (frames > 0) {
        const auto wanted = static_cast<uint32_t>(std::min<int64_t>(frames, scratch));
        const uint32_t made = convert(rate, mOutputInterleaved.data(), wanted);
        if (made == 0) {
            return;
        }
        frames -= made;
    }
}

// Real-time: no allocation, no locks. Converts up to `frames` frames at
// `rate` into `out` (interleaved), feeding the converter only what those
// frames need, and moves the playback position past them.
uint32_t PulseVarispeedUnit::convert(float rate, float* out, uint32_t frames) {
    const double ratio = 1.0 / rate;
    int64_t needed = static_cast<int64_t>(std::ceil(mPosition + frames * static_cast<double>(rate) +
                                                    delayOf(mPath))) +
                     reachFor(mPath, rate) + 1;
    uint32_t made = 0;
    for (int call = 0; made < frames && call < MaximumConverterCalls; ++call) {
        pullUntil(needed);
        if (mInput.endFrame() <= mConverterInput) {
            break;
        }
        SRC_DATA data{};
        data.data_in = mInput.frame(mConverterInput);
        data.input_frames = static_cast<long>(mInput.endFrame() - mConverterInput);
        data.data_out = out + static_cast<size_t>(made) * mChannels;
        data.output_frames = frames - made;
        data.src_ratio = ratio;
        if (src_process(mActive, &data) != 0) {
            break;
        }
        mConverterInput += data.input_frames_used;
        made += static_cast<uint32_t>(data.output_frames_gen);
        needed = mInput.endFrame() + ExtraInputFrames;
    }
    mPosition += made * static_cast<double>(rate);
    return made;
}

// Real-time: no allocation, no locks.
void PulseVarispeedUnit::renderDirect(uint32_t frames, AudioBufferList* data) {
    const auto start = static_cast<int64_t>(mPosition);
    pullUntil(start + frames);
    const auto available =
        static_cast<uint32_t>(std::clamp<int64_t>(mInput.endFrame() - start, 0, frames));
    mInput.copyPlanar(start, available, data);
    for (uint32_t c = 0; c < mChannels; ++c) {
        auto* out = static_cast<float*>(data->mBuffers[c].mData);
        std::fill(out + available, out + frames, 0.0f);
        data->mBuffers[c].mDataByteSize = frames * sizeof(float);
    }
    mPosition = static_cast<double>(start + available);
}

// Real-time: no allocation, no locks. Spreads converted frames over the
// channel buffers, silence after them.
void PulseVarispeedUnit::deliver(uint32_t produced, uint32_t frames, AudioBufferList* data) const {
    for (uint32_t c = 0; c < mChannels; ++c) {
        auto* out = static_cast<float*>(data->mBuffers[c].mData);
        for (uint32_t i = 0; i < produced; ++i) {
            out[i] = mOutputInterleaved[static_cast<size_t>(i) * mChannels + c];
        }
        std::fill(out + produced, out + frames, 0.0f);
        data->mBuffers[c].mDataByteSize = frames * sizeof(float);
    }
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
    mPullFlags = flags;
    mPullTimeStamp = timeStamp ? *timeStamp : AudioTimeStamp{};
    mInput.forgetBefore(static_cast<int64_t>(std::floor(mPosition)) - HistoryFrames);
    // Input frames played per output frame.
    const float rate = std::clamp(
        static_cast<float>(mRate.load(std::memory_order_relaxed) * mSampleRateRatio),
        MinimumRate, mMaximumEffectiveRate);
    const Path path = pathFor(rate);
    if (path != mPath) {
        restartAt(path, rate);
    }
    if (path == Path::Direct) {
        renderDirect(frames, data);
        return kAudioHardwareNoError;
    }
    src_set_ratio(mActive, 1.0 / rate); // a step, so the position stays exact
    deliver(convert(rate, mOutputInterleaved.data(), frames), frames, data);
    return kAudioHardwareNoError;
}

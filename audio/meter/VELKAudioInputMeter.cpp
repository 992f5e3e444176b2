#include "audio/meter/VELKAudioInputMeter.h"

#include "audio/format/NSXException.h"

#include <cmath>
#include <limits>

uint64_t VELKAudioInputMeter::ringLengthForSampleRate(double sampleRate) {
    return static_cast<uint64_t>(std::ceil(static_cast<float>(sampleRate) * 0.125f));
}

double VELKAudioInputMeter::levelOfSamples(const float* samples, uint64_t count) {
    double sum = 0.0;
    for (uint64_t i = 0; i < count; ++i) {
        const float square = samples[i] * samples[i];
        sum += square;
    }
    const float rms = std::sqrt(static_cast<float>(count ? sum / static_cast<double>(count) : 0.0));
    return 20.0f * std::log10(rms);
}

VELKAudioInputMeter::VELKAudioInputMeter(std::shared_ptr<VELKAudioDevice> device,
                                         std::optional<std::vector<int32_t>> channels) {
    if (!device) {
        NSXThrowErrstr("The audio input meter has no input device.");
    }
    auto format = device->deviceNativeRecordStreamDescription();
    if (channels && !channels->empty()) {
        format->setChannelsPerFrame(static_cast<uint32_t>(channels->size()));
        format->setNativeFormat();
        format->setIsInterleaved(false);
    } else {
        channels.reset();
    }
    mInputAudioUnit = std::make_unique<VELKInputAudioUnit>(format, std::move(device), channels);
    // The level is read at most 15 times a second, over the last eighth of
    // a second: waking for every small slice would cost an idle deck more
    // than drawing it.
    mInputAudioUnit->setWakeInterval(kWakeInterval);
    createBuffers();
    // Real-time: copies the slice into the rings.
    mInputAudioUnit->setInputProcessingBlock([this](AudioUnitRenderActionFlags*,
                                                    const AudioTimeStamp*, uint32_t, uint32_t,
                                                    AudioBufferList* data) {
        const uint32_t frames = data->mBuffers[0].mDataByteSize / sizeof(float);
        const auto rings = static_cast<uint32_t>(mPeakBuf.size());
        uint64_t index = mPeakBufIndex.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < frames; ++i) {
            for (uint32_t c = 0; c < rings && c < data->mNumberBuffers; ++c) {
                mPeakBuf[c][index] = static_cast<const float*>(data->mBuffers[c].mData)[i];
            }
            index = index + 1 == mPeakBufLength ? 0 : index + 1;
        }
        mPeakBufIndex.store(index, std::memory_order_relaxed);
    });
}

VELKAudioInputMeter::~VELKAudioInputMeter() {
    mInputAudioUnit.reset(); // capture ends before the rings go
    destroyBuffers();
}

void VELKAudioInputMeter::createBuffers() {
    const auto description = mInputAudioUnit->streamDescription();
    mPeakBufLength = std::max<uint64_t>(ringLengthForSampleRate(description->sampleRate()), 1);
    // At most two channels are metered; the rings start silent.
    const uint32_t channels = std::min<uint32_t>(description->channelsPerFrame(), 2);
    mPeakBuf.assign(channels, std::vector<float>(mPeakBufLength, 0.0f));
    mPeakBufIndex = 0;
}

void VELKAudioInputMeter::destroyBuffers() {
    mPeakBuf.clear();
}

void VELKAudioInputMeter::start() {
    mInputAudioUnit->start();
    mStarted = true;
}

void VELKAudioInputMeter::stop() {
    mStarted = false;
    mInputAudioUnit->stop();
}

const std::array<double, 2>& VELKAudioInputMeter::levels() {
    if (mStarted && !mInputAudioUnit->isRunning()) {
        mLevels.fill(-std::numeric_limits<double>::infinity());
        retryLostDevice();
        return mLevels;
    }
    for (size_t c = 0; c < mPeakBuf.size(); ++c) {
        mLevels[c] = levelOfSamples(mPeakBuf[c].data(), mPeakBufLength);
    }
    return mLevels;
}

void VELKAudioInputMeter::retryLostDevice() {
    const auto now = std::chrono::steady_clock::now();
    if (now - mLastRetry < std::chrono::seconds(1)) {
        return;
    }
    mLastRetry = now;
    clearBuffers(); // what the old stream left is not the new one's level
    try {
        mInputAudioUnit->start();
    } catch (const NSXException&) {
        // Still gone; the next try comes in a second.
    }
}

void VELKAudioInputMeter::clearBuffers() {
    for (auto& ring : mPeakBuf) {
        std::fill(ring.begin(), ring.end(), 0.0f);
    }
}

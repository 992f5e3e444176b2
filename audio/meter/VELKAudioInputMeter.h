#pragma once

#include "audio/hardware/VELKAudioDevice.h"
#include "audio/units/VELKInputAudioUnit.h"

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// Measures the recording input: the last eighth of a second of each channel
// (one or two) and its RMS level in decibels on request.
class VELKAudioInputMeter {
public:
    // Raises NSXException when the device is missing, cannot record or
    // cannot be opened.
    VELKAudioInputMeter(std::shared_ptr<VELKAudioDevice> device,
                        std::optional<std::vector<int32_t>> channels = std::nullopt);
    ~VELKAudioInputMeter();

    void start();
    void stop();
    // Decibels per channel: 0 for full scale, minus infinity for silence.
    // Silence until the first eighth of a second has been heard, and while
    // the device is gone; a started meter picks the device up again (trying
    // once a second) when it comes back.
    const std::array<double, 2>& levels();

    uint64_t ringLength() const { return mPeakBufLength; }
    uint32_t channelCount() const { return static_cast<uint32_t>(mPeakBuf.size()); }
    VELKInputAudioUnit* inputAudioUnit() const { return mInputAudioUnit.get(); }

    // The ring length for a sample rate: an eighth of a second, rounded up.
    static uint64_t ringLengthForSampleRate(double sampleRate);
    // The level of `samples`, as `levels` computes it.
    static double levelOfSamples(const float* samples, uint64_t count);

private:
    static constexpr double kWakeInterval = 1.0 / 30;

    void createBuffers();
    void destroyBuffers();
    void clearBuffers();
    // The device went away while the meter was started: try it again now and then.
    void retryLostDevice();

    std::unique_ptr<VELKInputAudioUnit> mInputAudioUnit;
    std::vector<std::vector<float>> mPeakBuf;
    uint64_t mPeakBufLength = 0;
    std::atomic<uint64_t> mPeakBufIndex{0};
    std::array<double, 2> mLevels{};
    bool mStarted = false; // main thread
    std::chrono::steady_clock::time_point mLastRetry{};
};

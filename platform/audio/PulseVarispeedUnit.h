#pragma once

#include "platform/audio/PulseAudioUnit.h"

#include <samplerate.h>

// The varispeed unit: what it pulls, played back at a rate of 0.125 to 8
// (1.0 normal), converted by libsamplerate. At exactly 1.0 it passes the
// input through untouched.
class PulseVarispeedUnit : public PulseAudioUnit {
public:
    ~PulseVarispeedUnit() override;

    OSStatus setParameter(uint32_t parameter, uint32_t scope, float value) override;
    OSStatus getParameter(uint32_t parameter, uint32_t scope, float* outValue) override;
    OSStatus initialize() override;
    OSStatus uninitialize() override;
    OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                    uint32_t bus, uint32_t frames, AudioBufferList* data) override;

    static constexpr float MinimumRate = 0.125f;
    static constexpr float MaximumRate = 8.0f;

private:
    static long supplyInput(void* self, float** data);

    std::atomic<float> mRate{1.0f};
    // Above this rate (muted fast winding) a cheap linear converter will do.
    static constexpr float CoarseRate = 2.5f;

    SRC_STATE* converterFor(float rate) const;

    SRC_STATE* mConverting = nullptr;      // the converter holding input from earlier slices
    SRC_STATE* mConverter = nullptr;       // band-limited, for cueing and reviewing
    SRC_STATE* mCoarseConverter = nullptr; // linear, for fast winding
    uint32_t mChannels = 0;
    std::vector<float> mInputPlanar;      // one pull, channel after channel
    std::vector<float> mInputInterleaved; // the same for the converter
    std::vector<float> mOutputInterleaved;
    std::vector<uint8_t> mListStorage;
    AudioBufferList* mInputList = nullptr;
    AudioUnitRenderActionFlags* mPullFlags = nullptr;
    AudioTimeStamp mPullTimeStamp{};
};

#pragma once

#include "platform/audio/PulseAudioUnit.h"
#include "platform/audio/VarispeedInputWindow.h"

#include <samplerate.h>

// The varispeed unit: what it pulls, played back at a rate of 0.125 to 8
// (1.0 normal), converted by libsamplerate. When its input and output
// formats have different sample rates it converts between them as well (the
// rate then scales the conversion). At exactly 1.0 between equal sample
// rates it passes the input through untouched.
//
// The time stamps it hands to what it pulls count input frames: each pull
// starts where the previous one ended, whatever the rate.
//
// The stream stays continuous when the rate changes, including across 1.0
// and between the two converters: the unit keeps its input in a window of
// its own and tracks the (fractional) input frame that plays next, so a new
// path starts exactly where the old one stopped, and a converter starts
// with the signal's recent past rather than silence. No pulled frame is
// dropped unplayed.
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
    // How input becomes output at a rate: straight through at 1.0, the
    // band-limited converter for cueing and reviewing, a cheap linear one
    // above CoarseRate (muted fast winding).
    enum class Path { Direct, Fine, Coarse };
    static constexpr float CoarseRate = 2.5f;
    // Input frames kept behind the playback position: more than a converter
    // reaches back at any rate on its path (see `reachFor`).
    static constexpr int64_t HistoryFrames = 96;

    static Path pathFor(float rate);
    static uint32_t reachFor(Path path, float rate);
    static double delayOf(Path path);
    void freeConverters();

    void restartAt(Path path, float rate);
    void renderDirect(uint32_t frames, AudioBufferList* data);
    uint32_t convert(float rate, float* out, uint32_t frames);
    void discardOutput(float rate, int64_t frames);
    bool pullUntil(int64_t endFrame);
    void deliver(uint32_t produced, uint32_t frames, AudioBufferList* data) const;

    std::atomic<float> mRate{1.0f};
    double mSampleRateRatio = 1.0; // input rate / output rate
    float mMaximumEffectiveRate = MaximumRate;

    SRC_STATE* mConverter = nullptr;       // band-limited (sinc)
    SRC_STATE* mCoarseConverter = nullptr; // linear
    // Render-thread state.
    Path mPath = Path::Direct;    // the path of the last slice
    SRC_STATE* mActive = nullptr; // that path's converter, if any
    double mPosition = 0;         // input frame the next output frame plays
    int64_t mConverterInput = 0;  // next input frame the active converter takes
    uint32_t mChannels = 0;
    VarispeedInputWindow mInput;
    std::vector<float> mPulledPlanar; // one pull, channel after channel
    std::vector<float> mOutputInterleaved;
    std::vector<uint8_t> mListStorage;
    AudioBufferList* mPullList = nullptr;
    AudioUnitRenderActionFlags* mPullFlags = nullptr;
    AudioTimeStamp mPullTimeStamp{};
};

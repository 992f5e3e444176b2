#pragma once

#include "platform/audio/PulseAudioUnit.h"

#include <string>

// The hardware input unit: a record stream on one source. Each cycle of up to
// the device's buffer frame size calls the input callback, whose render of
// bus 1 copies that cycle's frames through the channel map.
class PulseInputUnit : public PulseAudioUnit {
public:
    ~PulseInputUnit() override;

    OSStatus setProperty(uint32_t property, uint32_t scope, uint32_t element, const void* data,
                         uint32_t size) override;
    OSStatus getProperty(uint32_t property, uint32_t scope, uint32_t element, void* outData,
                         uint32_t* ioSize) override;
    OSStatus initialize() override;
    OSStatus start() override;
    OSStatus stop() override;
    OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                    uint32_t bus, uint32_t frames, AudioBufferList* data) override;

protected:
    void attachCallbacks(pa_stream* stream) override;

private:
    static void streamReadable(pa_stream* stream, size_t bytes, void* self);
    void deliver(const float* interleaved, uint32_t frames);
    uint32_t requestedWakeFrames() const;
    // The frames the server gathers before the stream wakes, as it granted them.
    uint32_t grantedWakeFrames() const;

    bool mInputEnabled = false;
    bool mOutputEnabled = true;
    AudioDeviceID mDevice = kAudioObjectUnknown;
    bool mStartAtZero = false;
    AURenderCallbackStruct mInputCallback{nullptr, nullptr};
    std::vector<int32_t> mChannelMap;

    // Fixed once initialized.
    std::string mSourceName;
    uint32_t mDeviceChannels = 0;
    uint32_t mSliceFrames = 512;
    uint32_t mWakeFrames = 0;        // 0: woken once a slice
    uint32_t mGrantedWakeFrames = 0; // what the server granted the running stream
    std::vector<float> mCycle;       // the current cycle, interleaved as the device sends it
    std::vector<float> mSilence;     // for holes in the stream
    uint32_t mCycleFrames = 0;
    double mSampleTime = 0;
};

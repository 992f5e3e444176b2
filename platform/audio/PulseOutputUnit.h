#pragma once

#include "platform/audio/PulseAudioUnit.h"

#include <atomic>
#include <string>
#include <vector>

// The output unit: a playback stream on one sink, pulled through the render
// callback or the graph connection in slices of at most the maximum frames
// per slice, with a software volume.
class PulseOutputUnit : public PulseAudioUnit {
public:
    ~PulseOutputUnit() override;

    OSStatus setProperty(uint32_t property, uint32_t scope, uint32_t element, const void* data,
                         uint32_t size) override;
    OSStatus getProperty(uint32_t property, uint32_t scope, uint32_t element, void* outData,
                         uint32_t* ioSize) override;
    OSStatus setParameter(uint32_t parameter, uint32_t scope, float value) override;
    OSStatus getParameter(uint32_t parameter, uint32_t scope, float* outValue) override;
    OSStatus initialize() override;
    OSStatus start() override;
    OSStatus stop() override;
    OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                    uint32_t bus, uint32_t frames, AudioBufferList* data) override;

protected:
    void attachCallbacks(pa_stream* stream) override;

private:
    static void streamWritable(pa_stream* stream, size_t bytes, void* self);
    void fill(pa_stream* stream, size_t bytes);
    // Stops writing and asks the server how much of what was written the
    // device has yet to play.
    uint32_t unplayedFrames();
    uint32_t askUnplayedFrames(pa_threaded_mainloop* mainloop);
    // Stops rendering and drops what the device has not played, keeping
    // the stream; `resume` renders again.
    OSStatus hold();
    OSStatus resume();
    PulseOutputBufferRequest bufferRequest() const;
    void growBuffer(pa_stream* stream);
    pa_buffer_attr attributesFor(const PulseOutputBufferRequest& buffer) const;
    // With the loop locked: a new buffer for a connected stream, the answer
    // waited for on `waitOn` unless null.
    void askForBuffer(pa_threaded_mainloop* waitOn, pa_stream* stream,
                      const PulseOutputBufferRequest& buffer);
    uint32_t unplayedFramesJudged() const;

    AudioDeviceID mDevice = kAudioObjectUnknown;
    std::atomic<float> mVolume{1.0f};

    // Fixed once initialized.
    std::string mSinkName;
    double mDeviceRate = 0;
    uint32_t mChannels = 0;
    std::vector<float> mPlanar; // one slice, channel after channel
    std::vector<uint8_t> mListStorage;
    AudioBufferList* mList = nullptr;
    double mSampleTime = 0;
    std::atomic<uint32_t> mUnplayedAtStop{0};
    std::atomic<uint64_t> mUnderruns{0};
    uint32_t mTargetLatencyFrames = 0; // 0: kTargetLatencySeconds
    std::atomic<uint32_t> mRequestedBufferFrames{0};
    std::atomic<uint32_t> mRequestedRequestFrames{0};
    PulseOutputGrowth mGrowth; // none unless set; fixed while running
    std::atomic<uint64_t> mLastFillHostTime{0}; // 0: nothing written since the start
    std::atomic<uint32_t> mBufferedAtFill{0};   // the buffer the last fill filled
    // With the loop locked only:
    uint32_t mFillsSinceStart = 0;
    uint64_t mWrittenSinceStart = 0; // frames, since the start or the hold
    bool mHeld = false;                         // the caller's thread only
};

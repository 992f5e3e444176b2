#pragma once

#include "platform/audio/AudioHardwareTypes.h"

#include <cstdint>
#include <vector>

// The varispeed's input, interleaved, each frame known by its index in the
// input stream (0 = the first frame pulled since the window was cleared). It
// holds the frames not yet played and a little history behind the playback
// position, so that a converter can restart with the signal's recent past
// instead of silence and no pulled frame is ever dropped unplayed.
class VarispeedInputWindow {
public:
    // Sizes the storage; forgets everything. Not real-time.
    void allocate(uint32_t channels, uint32_t capacityFrames);
    // Forgets every frame; indices start again at 0.
    void clear();

    int64_t firstFrame() const { return mFirst; }
    int64_t endFrame() const { return mFirst + mCount; }
    uint32_t capacity() const { return mCapacity; }

    // Real-time: the interleaved samples of held frame `index`.
    const float* frame(int64_t index) const {
        return mSamples.data() + (mOffset + static_cast<size_t>(index - mFirst)) * mChannels;
    }
    // Real-time: forgets the frames before `index` (never ones not yet held).
    void forgetBefore(int64_t index);
    // Real-time: makes room for `frames` more frames and returns how many fit.
    uint32_t reserve(uint32_t frames);
    // Real-time: appends `frames` frames (at most what `reserve` granted)
    // from one buffer per channel.
    void appendPlanar(const AudioBufferList* list, uint32_t frames);
    // Real-time: copies held frames [index, index + frames) into one buffer
    // per channel.
    void copyPlanar(int64_t index, uint32_t frames, AudioBufferList* list) const;

private:
    std::vector<float> mSamples;
    uint32_t mChannels = 0;
    uint32_t mCapacity = 0; // frames
    size_t mOffset = 0;     // where frame mFirst sits in mSamples, in frames
    int64_t mFirst = 0;
    uint32_t mCount = 0;
};

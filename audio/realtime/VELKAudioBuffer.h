#pragma once

#include "audio/realtime/SAudioBuffer.h"

// The audio buffer as an object: float samples, one buffer a channel.
class VELKAudioBuffer {
public:
    VELKAudioBuffer(uint32_t frames, uint32_t channels);
    ~VELKAudioBuffer();
    VELKAudioBuffer(const VELKAudioBuffer&) = delete;
    VELKAudioBuffer& operator=(const VELKAudioBuffer&) = delete;

    // Both counts are required (an internal inconsistency otherwise).
    bool copyFramesIntoAudioBufferList(AudioBufferList* list, uint32_t bytesPerFrame,
                                       uint32_t* framesProduced, uint32_t* framesRequired);
    bool copyFramesFromAudioBufferList(const AudioBufferList* list, uint32_t bytesPerFrame,
                                       uint32_t* framesProduced, uint32_t* framesRequired);
    void setEmpty() { SAudioBufferSetEmpty(&mBuffer); }
    uint32_t frameCount() const { return SAudioBufferFrameCount(&mBuffer); }

    AudioBufferList* audioBufferList() const { return mBuffer.mBufferList; }
    uint32_t byteSize() const { return mBuffer.mByteSize; }
    uint32_t startFrame() const { return mBuffer.mStartFrame; }
    void setStartFrame(uint32_t frame) { mBuffer.mStartFrame = frame; }
    uint32_t endFrame() const { return mBuffer.mEndFrame; }
    void setEndFrame(uint32_t frame) { mBuffer.mEndFrame = frame; }
    bool endOfStream() const { return mBuffer.mReachedEndOfStream; }
    void setEndOfStream(bool endOfStream) { mBuffer.mReachedEndOfStream = endOfStream; }

private:
    SAudioBuffer mBuffer;
};

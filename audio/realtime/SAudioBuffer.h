#pragma once

#include "platform/audio/AudioHardwareTypes.h"

#include <cstdint>

// Buffer lists of the client format: `VELKAudioBufferListCreate` makes one
// buffer of `channels` channels when interleaved, else one buffer a channel,
// each of frames x bytesPerSample x its channel count bytes.
AudioBufferList* VELKAudioBufferListCreate(uint32_t channels, uint32_t frames,
                                           uint32_t bytesPerSample, bool interleaved);
void VELKAudioBufferListDestroy(AudioBufferList* list);
// A new list header with the same buffer descriptors (the data is shared).
AudioBufferList* VELKAudioBufferListCopy(const AudioBufferList* list);
uint32_t VELKAudioBufferListCapacityInFrames(const AudioBufferList* list, uint32_t bytesPerSample);

// A buffer of float samples, one buffer a channel, with the frames it holds
// between a start (first unread) and an end (one past the last valid).
struct SAudioBuffer {
    AudioBufferList* mBufferList; // owned
    uint32_t mByteSize;           // capacity per channel
    uint32_t mStartFrame;
    uint32_t mEndFrame;
    bool mReachedEndOfStream;
};

SAudioBuffer* SAudioBufferCreate(uint32_t frames, uint32_t channels);
bool SAudioBufferInitialize(SAudioBuffer* self, uint32_t frames, uint32_t channels);
void SAudioBufferDestroy(SAudioBuffer* self);
void SAudioBufferDealloc(SAudioBuffer* self);

inline uint32_t SAudioBufferFrameCount(const SAudioBuffer* self) {
    return self->mEndFrame - self->mStartFrame;
}
// Start and end to 0; the end-of-stream mark stays.
inline void SAudioBufferSetEmpty(SAudioBuffer* self) {
    self->mStartFrame = 0;
    self->mEndFrame = 0;
}

// Real-time. Copies what the buffer holds, up to `framesRequired`, into
// `destination` at `framesProduced`; advances the counts. True when the
// buffer is now drained and carries no end-of-stream mark.
bool SAudioBufferCopyInto(SAudioBuffer* self, AudioBufferList* destination, uint32_t bytesPerSample,
                          uint32_t* framesProduced, uint32_t* framesRequired);
// Real-time. Appends from `source` at `framesProduced` as much as fits, up
// to `framesRequired`; advances the counts. True when the buffer is full.
bool SAudioBufferCopyFrom(SAudioBuffer* self, const AudioBufferList* source,
                          uint32_t bytesPerSample, uint32_t* framesProduced,
                          uint32_t* framesRequired);

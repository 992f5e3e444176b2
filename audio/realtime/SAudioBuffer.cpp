#include "audio/realtime/SAudioBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

AudioBufferList* VELKAudioBufferListCreate(uint32_t channels, uint32_t frames,
                                           uint32_t bytesPerSample, bool interleaved) {
    const uint32_t buffers = interleaved ? 1 : channels;
    auto* list = static_cast<AudioBufferList*>(std::calloc(1, AudioBufferListSize(buffers)));
    if (!list) {
        return nullptr;
    }
    list->mNumberBuffers = buffers;
    for (uint32_t i = 0; i < buffers; ++i) {
        const uint32_t perBuffer = interleaved ? channels : 1;
        const uint32_t bytes = frames * bytesPerSample * perBuffer;
        void* data = std::malloc(std::max<uint32_t>(bytes, 1));
        if (data) {
            // Touch every page now: a first write on an I/O thread would fault.
            std::memset(data, 0, std::max<uint32_t>(bytes, 1));
        }
        list->mBuffers[i] = {perBuffer, bytes, data};
    }
    return list;
}

void VELKAudioBufferListDestroy(AudioBufferList* list) {
    if (!list) {
        return;
    }
    for (uint32_t i = 0; i < list->mNumberBuffers; ++i) {
        std::free(list->mBuffers[i].mData);
    }
    std::free(list);
}

AudioBufferList* VELKAudioBufferListCopy(const AudioBufferList* list) {
    const uint32_t size = AudioBufferListSize(list->mNumberBuffers);
    auto* copy = static_cast<AudioBufferList*>(std::malloc(size));
    if (copy) {
        std::memcpy(copy, list, size);
    }
    return copy;
}

uint32_t VELKAudioBufferListCapacityInFrames(const AudioBufferList* list, uint32_t bytesPerSample) {
    const AudioBuffer& first = list->mBuffers[0];
    return first.mNumberChannels && bytesPerSample
               ? first.mDataByteSize / first.mNumberChannels / bytesPerSample
               : 0;
}

SAudioBuffer* SAudioBufferCreate(uint32_t frames, uint32_t channels) {
    auto* self = static_cast<SAudioBuffer*>(std::calloc(1, sizeof(SAudioBuffer)));
    if (self && !SAudioBufferInitialize(self, frames, channels)) {
        std::free(self);
        return nullptr;
    }
    return self;
}

bool SAudioBufferInitialize(SAudioBuffer* self, uint32_t frames, uint32_t channels) {
    self->mBufferList = VELKAudioBufferListCreate(channels, frames, sizeof(float), false);
    self->mByteSize = frames * static_cast<uint32_t>(sizeof(float));
    self->mStartFrame = 0;
    self->mEndFrame = 0;
    self->mReachedEndOfStream = false;
    return self->mBufferList != nullptr;
}

void SAudioBufferDestroy(SAudioBuffer* self) {
    if (self) {
        SAudioBufferDealloc(self);
        std::free(self);
    }
}

void SAudioBufferDealloc(SAudioBuffer* self) {
    VELKAudioBufferListDestroy(self->mBufferList);
    self->mBufferList = nullptr;
}

// Real-time: no allocation, no locks.
bool SAudioBufferCopyInto(SAudioBuffer* self, AudioBufferList* destination, uint32_t bytesPerSample,
                          uint32_t* framesProduced, uint32_t* framesRequired) {
    const uint32_t held = SAudioBufferFrameCount(self);
    const uint32_t n = std::min(held, *framesRequired);
    const uint32_t buffers =
        std::min(destination->mNumberBuffers, self->mBufferList->mNumberBuffers);
    for (uint32_t b = 0; b < buffers; ++b) {
        const auto* source = static_cast<const uint8_t*>(self->mBufferList->mBuffers[b].mData);
        auto* target = static_cast<uint8_t*>(destination->mBuffers[b].mData);
        std::memcpy(target + static_cast<size_t>(*framesProduced) * bytesPerSample,
                    source + static_cast<size_t>(self->mStartFrame) * bytesPerSample,
                    static_cast<size_t>(n) * bytesPerSample);
    }
    *framesProduced += n;
    *framesRequired -= n;
    self->mStartFrame += n;
    return n == held && !self->mReachedEndOfStream;
}

// Real-time: no allocation, no locks.
bool SAudioBufferCopyFrom(SAudioBuffer* self, const AudioBufferList* source,
                          uint32_t bytesPerSample, uint32_t* framesProduced,
                          uint32_t* framesRequired) {
    const uint32_t capacity = self->mByteSize / bytesPerSample;
    // Appended after the last frame held, so the room is what lies past it.
    const uint32_t space = capacity > self->mEndFrame ? capacity - self->mEndFrame : 0;
    const uint32_t n = std::min(space, *framesRequired);
    const uint32_t buffers = std::min(source->mNumberBuffers, self->mBufferList->mNumberBuffers);
    for (uint32_t b = 0; b < buffers; ++b) {
        const auto* from = static_cast<const uint8_t*>(source->mBuffers[b].mData);
        auto* to = static_cast<uint8_t*>(self->mBufferList->mBuffers[b].mData);
        std::memcpy(to + static_cast<size_t>(self->mEndFrame) * bytesPerSample,
                    from + static_cast<size_t>(*framesProduced) * bytesPerSample,
                    static_cast<size_t>(n) * bytesPerSample);
    }
    *framesProduced += n;
    *framesRequired -= n;
    self->mEndFrame += n;
    return n == space;
}

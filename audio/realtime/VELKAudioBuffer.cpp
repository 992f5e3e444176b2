#include "audio/realtime/VELKAudioBuffer.h"

#include "audio/format/InternalInconsistencyException.h"

#include <new>

namespace {

void requireCounts(const uint32_t* produced, const uint32_t* required) {
    if (!required) {
        throw InternalInconsistencyException("Invalid parameter not satisfying: framesRequired",
                                             "VELKAudioBuffer", __LINE__);
    }
    if (!produced) {
        throw InternalInconsistencyException("Invalid parameter not satisfying: framesProduced",
                                             "VELKAudioBuffer", __LINE__);
    }
}

} // namespace

VELKAudioBuffer::VELKAudioBuffer(uint32_t frames, uint32_t channels) {
    if (!SAudioBufferInitialize(&mBuffer, frames, channels)) {
        throw std::bad_alloc();
    }
}

VELKAudioBuffer::~VELKAudioBuffer() {
    SAudioBufferDealloc(&mBuffer);
}

bool VELKAudioBuffer::copyFramesIntoAudioBufferList(AudioBufferList* list, uint32_t bytesPerFrame,
                                                    uint32_t* framesProduced,
                                                    uint32_t* framesRequired) {
    requireCounts(framesProduced, framesRequired);
    return SAudioBufferCopyInto(&mBuffer, list, bytesPerFrame, framesProduced, framesRequired);
}

bool VELKAudioBuffer::copyFramesFromAudioBufferList(const AudioBufferList* list,
                                                    uint32_t bytesPerFrame,
                                                    uint32_t* framesProduced,
                                                    uint32_t* framesRequired) {
    requireCounts(framesProduced, framesRequired);
    return SAudioBufferCopyFrom(&mBuffer, list, bytesPerFrame, framesProduced, framesRequired);
}

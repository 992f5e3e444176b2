#include "audio/dsp/SBufferQueue.h"

#include "audio/realtime/SAssert.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

SBufferQueue* SBufferQueueCreate(uint64_t length) {
    auto* self = static_cast<SBufferQueue*>(std::calloc(1, sizeof(SBufferQueue)));
    if (!self) {
        return nullptr;
    }
    SBufferQueueInitialize(self, length);
    if (!self->mStorage && length > 0) {
        std::free(self);
        return nullptr;
    }
    return self;
}

void SBufferQueueDestroy(SBufferQueue* self) {
    if (!self) {
        return;
    }
    SBufferQueueDealloc(self);
    std::free(self);
}

void SBufferQueueInitialize(SBufferQueue* self, uint64_t length) {
    self->mStorage = static_cast<float*>(std::calloc(std::max<uint64_t>(length, 1), sizeof(float)));
    self->mLength = self->mStorage ? length : 0;
    self->mReadIndex = 0;
    self->mWriteIndex = 0;
    self->mUsed = 0;
}

void SBufferQueueDealloc(SBufferQueue* self) {
    std::free(self->mStorage);
    self->mStorage = nullptr;
    self->mLength = 0;
}

// Real-time: no allocation, no locks.
void SBufferQueueAppend(SBufferQueue* self, const float* inSource, uint64_t inLength) {
    SAssert(inLength <= self->mLength, "SBufferQueue", "inLength <= self->mLength");
    // Callers append at most the free space.
    SAssert(inLength <= self->mLength - self->mUsed, "SBufferQueue", "0");
    const uint64_t first = std::min(inLength, self->mLength - self->mWriteIndex);
    std::memcpy(self->mStorage + self->mWriteIndex, inSource, first * sizeof(float));
    std::memcpy(self->mStorage, inSource + first, (inLength - first) * sizeof(float));
    self->mWriteIndex = (self->mWriteIndex + inLength) % std::max<uint64_t>(self->mLength, 1);
    self->mUsed += inLength;
}

// Real-time: no allocation, no locks.
void SBufferQueueRead(const SBufferQueue* self, float* inDestination, uint64_t inLength) {
    SAssert(inDestination, "SBufferQueue", "inDestination");
    SAssert(inLength <= self->mLength, "SBufferQueue", "inLength <= self->mLength");
    SAssert(inLength <= self->mUsed, "SBufferQueue", "inLength <= self->mUsed");
    const uint64_t first = std::min(inLength, self->mLength - self->mReadIndex);
    std::memcpy(inDestination, self->mStorage + self->mReadIndex, first * sizeof(float));
    std::memcpy(inDestination + first, self->mStorage, (inLength - first) * sizeof(float));
}

// Real-time: no allocation, no locks.
void SBufferQueueAdvance(SBufferQueue* self, uint64_t inLength) {
    SAssert(inLength <= self->mLength, "SBufferQueue", "inLength <= self->mLength");
    SAssert(inLength <= self->mUsed, "SBufferQueue", "inLength <= self->mUsed");
    self->mReadIndex = (self->mReadIndex + inLength) % std::max<uint64_t>(self->mLength, 1);
    self->mUsed -= inLength;
}

// Real-time: no allocation, no locks.
void SBufferQueueClear(SBufferQueue* self) {
    self->mReadIndex = 0;
    self->mWriteIndex = 0;
    self->mUsed = 0;
}

uint64_t SBufferQueueLength(const SBufferQueue* self) {
    return self->mLength;
}

uint64_t SBufferQueueUsed(const SBufferQueue* self) {
    return self->mUsed;
}

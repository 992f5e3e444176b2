#pragma once

#include <cstdint>

// A ring of float samples with a fixed capacity, made once. Reading copies
// without consuming; advancing consumes. Misuse (more than the capacity,
// more than is free or held) is a programming error and aborts.
struct SBufferQueue {
    float* mStorage;
    uint64_t mLength; // capacity in samples
    uint64_t mReadIndex;
    uint64_t mWriteIndex;
    uint64_t mUsed;
};

SBufferQueue* SBufferQueueCreate(uint64_t length);
void SBufferQueueDestroy(SBufferQueue* self);
void SBufferQueueInitialize(SBufferQueue* self, uint64_t length);
void SBufferQueueDealloc(SBufferQueue* self);

// Real-time: no allocation, no locks.
void SBufferQueueAppend(SBufferQueue* self, const float* inSource, uint64_t inLength);
// Real-time: no allocation, no locks.
void SBufferQueueRead(const SBufferQueue* self, float* inDestination, uint64_t inLength);
// Real-time: no allocation, no locks.
void SBufferQueueAdvance(SBufferQueue* self, uint64_t inLength);
// Real-time: no allocation, no locks.
void SBufferQueueClear(SBufferQueue* self);
uint64_t SBufferQueueLength(const SBufferQueue* self);
uint64_t SBufferQueueUsed(const SBufferQueue* self);

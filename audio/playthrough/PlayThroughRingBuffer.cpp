#include "audio/playthrough/PlayThroughRingBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

uint32_t nextPowerOfTwo(uint32_t frames) {
    uint32_t capacity = 1;
    while (capacity < frames) {
        capacity <<= 1;
    }
    return capacity;
}

// Real-time: no allocation, no locks. Zeroes `bytes` bytes at `offset` of a
// circular area of `capacity` bytes.
void zeroRange(uint8_t* area, uint32_t capacity, uint32_t offset, uint32_t bytes) {
    const uint32_t first = std::min(bytes, capacity - offset);
    std::memset(area + offset, 0, first);
    if (bytes > first) {
        std::memset(area, 0, bytes - first);
    }
}

// Real-time: no allocation, no locks.
void copyIn(uint8_t* area, uint32_t capacity, uint32_t offset, const uint8_t* source,
            uint32_t bytes) {
    const uint32_t first = std::min(bytes, capacity - offset);
    std::memcpy(area + offset, source, first);
    if (bytes > first) {
        std::memcpy(area, source + first, bytes - first);
    }
}

// Real-time: no allocation, no locks.
void copyOut(const uint8_t* area, uint32_t capacity, uint32_t offset, uint8_t* target,
             uint32_t bytes) {
    const uint32_t first = std::min(bytes, capacity - offset);
    std::memcpy(target, area + offset, first);
    if (bytes > first) {
        std::memcpy(target + first, area, bytes - first);
    }
}

} // namespace

PlayThroughRingBuffer::~PlayThroughRingBuffer() {
    Deallocate();
}

void PlayThroughRingBuffer::Allocate(uint32_t channels, uint32_t bytesPerFrame,
                                     uint32_t capacityFrames) {
    Deallocate();
    mNumberOfChannels = channels;
    mBytesPerFrame = bytesPerFrame;
    mCapacityFrames = nextPowerOfTwo(capacityFrames);
    mCapacityFrameMask = mCapacityFrames - 1;
    mCapacityBytes = mCapacityFrames * bytesPerFrame;

    const size_t perChannel = static_cast<size_t>(mCapacityBytes) + sizeof(uint8_t*);
    auto* memory = static_cast<uint8_t*>(std::calloc(perChannel * channels, 1));
    if (!memory && channels > 0) {
        mNumberOfChannels = mBytesPerFrame = mCapacityFrames = mCapacityFrameMask =
            mCapacityBytes = 0;
        throw std::bad_alloc();
    }
    mBuffers = reinterpret_cast<uint8_t**>(memory);
    uint8_t* data = memory + sizeof(uint8_t*) * channels;
    for (uint32_t c = 0; c < channels; ++c) {
        mBuffers[c] = data;
        data += mCapacityBytes;
    }
    for (TimeBounds& bounds : mTimeBounds) {
        bounds.startTime.store(0, std::memory_order_relaxed);
        bounds.endTime.store(0, std::memory_order_relaxed);
        bounds.updateCounter.store(0, std::memory_order_relaxed);
    }
    mTimeBoundsQueuePtr.store(0, std::memory_order_seq_cst);
}

void PlayThroughRingBuffer::Deallocate() {
    std::free(mBuffers);
    mBuffers = nullptr;
    mCapacityBytes = 0;
    mCapacityFrames = 0;
}

// Real-time: no allocation, no locks. The writer's view of the bounds: only
// the writer changes them, so the current entry is always consistent here.
int64_t PlayThroughRingBuffer::startTime() const {
    const uint32_t index = mTimeBoundsQueuePtr.load(std::memory_order_acquire);
    return mTimeBounds[index & kTimeBoundsQueueMask].startTime.load(std::memory_order_relaxed);
}

int64_t PlayThroughRingBuffer::endTime() const {
    const uint32_t index = mTimeBoundsQueuePtr.load(std::memory_order_acquire);
    return mTimeBounds[index & kTimeBoundsQueueMask].endTime.load(std::memory_order_relaxed);
}

// Real-time: no allocation, no locks. Writes the next queue entry, then
// advances the index with a full barrier so a reader that sees the new index
// sees the whole entry.
void PlayThroughRingBuffer::SetTimeBounds(int64_t startTime, int64_t endTime) {
    const uint32_t current = mTimeBoundsQueuePtr.load(std::memory_order_relaxed);
    const uint32_t next = current + 1;
    TimeBounds& entry = mTimeBounds[next & kTimeBoundsQueueMask];
    entry.startTime.store(startTime, std::memory_order_relaxed);
    entry.endTime.store(endTime, std::memory_order_relaxed);
    entry.updateCounter.store(next, std::memory_order_relaxed);
    uint32_t expected = current;
    while (!mTimeBoundsQueuePtr.compare_exchange_weak(expected, next, std::memory_order_seq_cst)) {
        expected = current; // single writer: only a spurious failure lands here
    }
    // Frames written after this (over older ones) come after the new bounds.
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

// Real-time: no allocation, no locks.
int32_t PlayThroughRingBuffer::CurrentTimeBounds(int64_t& startTime, int64_t& endTime) const {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const uint32_t index = mTimeBoundsQueuePtr.load(std::memory_order_seq_cst);
        const TimeBounds& entry = mTimeBounds[index & kTimeBoundsQueueMask];
        startTime = entry.startTime.load(std::memory_order_acquire);
        endTime = entry.endTime.load(std::memory_order_acquire);
        const uint32_t counter = entry.updateCounter.load(std::memory_order_acquire);
        if (counter == index) {
            return OK;
        }
    }
    return CPUOverload;
}

// Real-time: no allocation, no locks.
int32_t PlayThroughRingBuffer::WriteFrames(const AudioBufferList* list, uint32_t frames,
                                           int64_t startWrite) {
    if (frames > mCapacityFrames) {
        return TooMuch;
    }
    const int64_t endWrite = startWrite + frames;
    if (startWrite < endTime()) {
        // Going backwards: what is stored no longer follows on.
        SetTimeBounds(startWrite, startWrite);
    } else if (endWrite - startTime() > mCapacityFrames) {
        // The oldest frames make room.
        const int64_t newStart = endWrite - mCapacityFrames;
        SetTimeBounds(newStart, std::max(newStart, endTime()));
    }

    const int64_t currentEnd = endTime();
    if (currentEnd < startWrite) {
        // A gap: it reads as silence.
        const uint32_t offset = static_cast<uint32_t>(currentEnd & mCapacityFrameMask) * mBytesPerFrame;
        const auto bytes = static_cast<uint32_t>(
            std::min<int64_t>(startWrite - currentEnd, mCapacityFrames) * mBytesPerFrame);
        for (uint32_t c = 0; c < mNumberOfChannels; ++c) {
            zeroRange(mBuffers[c], mCapacityBytes, offset, bytes);
        }
    }

    const uint32_t offset = static_cast<uint32_t>(startWrite & mCapacityFrameMask) * mBytesPerFrame;
    const uint32_t bytes = frames * mBytesPerFrame;
    const uint32_t channels = std::min(mNumberOfChannels, list->mNumberBuffers);
    for (uint32_t c = 0; c < channels; ++c) {
        copyIn(mBuffers[c], mCapacityBytes, offset,
               static_cast<const uint8_t*>(list->mBuffers[c].mData), bytes);
    }
    SetTimeBounds(startTime(), endWrite);
    return OK;
}

// Real-time: no allocation, no locks.
int32_t PlayThroughRingBuffer::ClampReadRange(int64_t& startRead, int64_t& endRead) const {
    int64_t start = 0;
    int64_t end = 0;
    if (const int32_t status = CurrentTimeBounds(start, end); status != OK) {
        return status;
    }
    if (startRead >= start) {
        if (endRead > end) {
            endRead = end;
            if (startRead > end) {
                startRead = end;
                return TooLate;
            }
            return EndsLate;
        }
        return OK;
    }
    startRead = start;
    if (endRead <= end) {
        if (endRead < start) {
            endRead = start;
            return TooEarly;
        }
        return StartsEarly;
    }
    endRead = end;
    return OverlapsBoth;
}

// Real-time: no allocation, no locks.
int32_t PlayThroughRingBuffer::ReadFrames(AudioBufferList* list, uint32_t frames,
                                          int64_t startRead) {
    const int64_t endRead = startRead + frames;
    int64_t start = startRead;
    int64_t end = endRead;
    const int32_t first = ClampReadRange(start, end);
    if (first != OK && start == end) {
        return first;
    }
    const auto before = static_cast<uint32_t>(start - startRead) * mBytesPerFrame;
    const auto copied = static_cast<uint32_t>(end - start) * mBytesPerFrame;
    const uint32_t total = frames * mBytesPerFrame;
    const uint32_t offset = static_cast<uint32_t>(start & mCapacityFrameMask) * mBytesPerFrame;
    const uint32_t channels = std::min(mNumberOfChannels, list->mNumberBuffers);
    for (uint32_t c = 0; c < channels; ++c) {
        auto* out = static_cast<uint8_t*>(list->mBuffers[c].mData);
        std::memset(out, 0, before);
        copyOut(mBuffers[c], mCapacityBytes, offset, out + before, copied);
        std::memset(out + before + copied, 0, total - before - copied);
        // The buffer holds all `frames` frames, silence included, in their
        // places.
        list->mBuffers[c].mDataByteSize = total;
    }
    // The writer may have overwritten some of what was copied meanwhile: it
    // publishes the bounds that drop those frames before it overwrites them.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    const int32_t second = ClampReadRange(start, end);
    return std::abs(first) > std::abs(second) ? first : second;
}

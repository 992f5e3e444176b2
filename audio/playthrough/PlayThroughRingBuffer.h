#pragma once

#include "platform/audio/AudioHardwareTypes.h"

#include <atomic>
#include <cstdint>

// Input frames kept by the input device's sample time, for one writer (the
// input's I/O thread) and one reader (the output's), without locks.
//
// The ring holds the frames whose times lie in [start, end) of the current
// time bounds; frame t of a channel lives at (t & capacityFrameMask) in that
// channel's area. The writer publishes each new range into the next of 32
// queue entries and then advances the index; the reader takes an entry only
// when its update counter matches the index it read, so it never sees a
// half-written range. Data being overwritten while it is read is caught by a
// second look at the bounds after the copy.
class PlayThroughRingBuffer {
public:
    // Result codes. A read range compared with the stored one gives
    // TooEarly (all of it before the start), StartsEarly (it begins before),
    // EndsLate (it ends after the end), TooLate (all of it after) or
    // OverlapsBoth (both ends stick out).
    enum : int32_t {
        TooEarly = -2,
        StartsEarly = -1,
        OK = 0,
        EndsLate = 1,
        TooLate = 2,
        OverlapsBoth = 3,
        TooMuch = 3, // a write of more frames than the capacity
        CPUOverload = 4, // the time bounds could not be read consistently
    };

    PlayThroughRingBuffer() = default;
    ~PlayThroughRingBuffer();
    PlayThroughRingBuffer(const PlayThroughRingBuffer&) = delete;
    PlayThroughRingBuffer& operator=(const PlayThroughRingBuffer&) = delete;

    // Not real-time. The capacity is rounded up to a power of two; throws
    // std::bad_alloc when the memory is not there.
    void Allocate(uint32_t channels, uint32_t bytesPerFrame, uint32_t capacityFrames);
    void Deallocate();

    // Real-time: no allocation, no locks. `frames` frames of every buffer of
    // `list` (one buffer per channel) at input time `startTime`.
    int32_t WriteFrames(const AudioBufferList* list, uint32_t frames, int64_t startTime);
    // Real-time: no allocation, no locks. Frames outside the stored range
    // read as silence.
    int32_t ReadFrames(AudioBufferList* list, uint32_t frames, int64_t startTime);
    int32_t CurrentTimeBounds(int64_t& startTime, int64_t& endTime) const;
    int32_t ClampReadRange(int64_t& startTime, int64_t& endTime) const;

    uint32_t numberOfChannels() const { return mNumberOfChannels; }
    uint32_t bytesPerFrame() const { return mBytesPerFrame; }
    uint32_t capacityFrames() const { return mCapacityFrames; }

private:
    struct TimeBounds {
        std::atomic<int64_t> startTime{0};
        std::atomic<int64_t> endTime{0};
        std::atomic<uint32_t> updateCounter{0};
    };
    static constexpr uint32_t kTimeBoundsQueueSize = 32;
    static constexpr uint32_t kTimeBoundsQueueMask = kTimeBoundsQueueSize - 1;

    int64_t startTime() const;
    int64_t endTime() const;
    void SetTimeBounds(int64_t startTime, int64_t endTime);

    uint8_t** mBuffers = nullptr; // one allocation: the pointers, then each channel's area
    uint32_t mNumberOfChannels = 0;
    uint32_t mBytesPerFrame = 0;
    uint32_t mCapacityFrames = 0;
    uint32_t mCapacityFrameMask = 0;
    uint32_t mCapacityBytes = 0;
    TimeBounds mTimeBounds[kTimeBoundsQueueSize];
    std::atomic<uint32_t> mTimeBoundsQueuePtr{0};
};

#include "audio/queue/VELKAudioQueue.h"

#include "AudioServerTools.h"
#include "audio/format/NSXException.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

// Audio queues on the private test server's default devices: the 440 Hz
// sine source and the null sink.

namespace {

using AudioServerTools::pumpFor;
using AudioServerTools::pumpUntil;

AudioStreamBasicDescription pcm16(double rate, uint32_t channels) {
    AudioStreamBasicDescription format{};
    format.mSampleRate = rate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    format.mBitsPerChannel = 16;
    format.mChannelsPerFrame = channels;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = format.mBytesPerPacket = 2 * channels;
    return format;
}

std::shared_ptr<VELKAudioStreamBasicDescription> description(const AudioStreamBasicDescription& f) {
    return VELKAudioStreamBasicDescription::streamDescriptionWithAudioStreamBasicDescription(f);
}

uint32_t enqueued(const VELKAudioQueue& queue) {
    uint32_t count = 0;
    uint32_t size = sizeof(count);
    EXPECT_EQ(AudioQueueGetProperty(queue.queue(), kPulseAudioQueueProperty_EnqueuedBufferCount,
                                    &count, &size),
              0);
    return count;
}

class Watcher : public VELKAudioQueueDelegate {
public:
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    void audioQueueDidStart(VELKAudioQueue*) override { ++starts; }
    void audioQueueDidStop(VELKAudioQueue*) override { ++stops; }
};

TEST(AudioQueueBufferSize, CoversAFifthOfASecond) {
    // 0.2 as a 32-bit float is a little more than 0.2: 8821 frames, not 8820.
    EXPECT_EQ(VELKAudioQueue::recordBufferSize(pcm16(44100, 2), 0), 8821u * 4);
    EXPECT_EQ(VELKAudioQueue::recordBufferSize(pcm16(48000, 1), 0), 9601u * 2);
    AudioStreamBasicDescription aac{};
    aac.mSampleRate = 44100;
    aac.mFramesPerPacket = 1024;
    EXPECT_EQ(VELKAudioQueue::recordBufferSize(aac, 1536), 8u * 1536) << "the queue's packet size";
    aac.mBytesPerPacket = 700;
    EXPECT_EQ(VELKAudioQueue::recordBufferSize(aac, 1536), 8u * 700);
    aac.mSampleRate = 8;
    EXPECT_EQ(VELKAudioQueue::recordBufferSize(aac, 1536), 700u) << "at least one packet";
}

// Recording: the three buffers come back in turn and go out again while the
// queue runs, also across a pause; after a stop nothing more is handed on.
TEST(AudioQueueInput, RecordsPausesAndStops) {
    auto queue = VELKAudioQueue::inputQueueWithStreamDescription(description(pcm16(44100, 2)));
    Watcher watcher;
    queue->setDelegate(&watcher);
    std::atomic<int> notices{0};
    const int token = VELKAudioQueue::addObserver([&](const char* name, VELKAudioQueue* sender) {
        if (sender == queue.get() && std::string(name) == kAudioQueueDidStopNotification) {
            ++notices;
        }
    });
    EXPECT_EQ(enqueued(*queue), 3u);
    std::atomic<int> handed{0};
    std::atomic<uint32_t> capacity{0};
    std::atomic<int> loud{0};
    queue->setInputQueueBufferHandler(
        [&](VELKAudioQueue*, AudioQueueBufferRef buffer, const AudioTimeStamp*, uint32_t packets,
            const AudioStreamPacketDescription*, void* userData) {
            EXPECT_EQ(userData, &handed);
            EXPECT_EQ(buffer->mAudioDataByteSize, packets * 4);
            capacity = buffer->mAudioDataBytesCapacity;
            const auto* samples = static_cast<const int16_t*>(buffer->mAudioData);
            for (uint32_t i = 0; i < packets * 2; ++i) {
                if (std::abs(samples[i]) > 8000) {
                    ++loud;
                    break;
                }
            }
            ++handed;
        },
        &handed);
    queue->startQueue();
    EXPECT_TRUE(queue->running());
    // More than three buffers: each was enqueued again after it came.
    ASSERT_TRUE(pumpUntil([&] { return handed >= 5; }, 10.0)) << handed;
    EXPECT_EQ(capacity, 8821u * 4);
    EXPECT_GT(loud, 0) << "the sine source was heard";
    EXPECT_TRUE(pumpUntil([&] { return watcher.starts == 1; }));
    EXPECT_GT(queue->sampleTimeInMilliseconds(), 0.0);

    queue->pauseQueue();
    EXPECT_TRUE(queue->running());
    // The buffer being filled comes back with what it had, and goes out again.
    EXPECT_TRUE(pumpUntil([&] { return enqueued(*queue) == 3; }, 5.0)) << enqueued(*queue);
    const int atPause = handed;
    queue->startQueue();
    EXPECT_TRUE(pumpUntil([&] { return handed >= atPause + 4; }, 10.0));

    queue->stopQueue();
    EXPECT_FALSE(queue->running());
    const int atStop = handed;
    pumpFor(0.5);
    EXPECT_EQ(handed, atStop) << "nothing handed on after the stop";
    EXPECT_EQ(enqueued(*queue), 0u) << "nothing enqueued again";
    EXPECT_TRUE(pumpUntil([&] { return watcher.stops == 1 && notices == 1; }));
    VELKAudioQueue::removeObserver(token);
}

// Playing: the handler refills each buffer as it comes back, the time moves
// on, and a stop lets what was enqueued play out before the queue says it
// stopped.
TEST(AudioQueueOutput, PlaysWhatTheHandlerFills) {
    auto queue = VELKAudioQueue::outputQueueWithStreamDescription(description(pcm16(48000, 2)));
    Watcher watcher;
    queue->setDelegate(&watcher);
    std::atomic<int> refills{0};
    std::atomic<bool> feeding{true};
    double phase = 0;
    queue->setOutputQueueBufferHandler(
        [&](VELKAudioQueue* sender, AudioQueueBufferRef buffer, void*) {
            auto* samples = static_cast<int16_t*>(buffer->mAudioData);
            const uint32_t frames = buffer->mAudioDataBytesCapacity / 4;
            for (uint32_t i = 0; i < frames; ++i) {
                samples[2 * i] = samples[2 * i + 1] = static_cast<int16_t>(8000 * std::sin(phase));
                phase += 2 * M_PI * 1000 / 48000;
            }
            buffer->mAudioDataByteSize = frames * 4;
            ++refills;
            if (feeding) {
                sender->enqueueBuffer(buffer, nullptr, 0);
            }
        },
        nullptr);
    for (int i = 0; i < 3; ++i) {
        AudioQueueBufferRef buffer = queue->allocateBufferWithSize(4800 * 4); // 0.1 s
        std::memset(buffer->mAudioData, 0, buffer->mAudioDataBytesCapacity);
        buffer->mAudioDataByteSize = buffer->mAudioDataBytesCapacity;
        queue->enqueueBuffer(buffer, nullptr, 0);
    }
    queue->startQueue();
    ASSERT_TRUE(pumpUntil([&] { return refills >= 10; }, 10.0));
    EXPECT_GT(queue->sampleTimeInMilliseconds(), 500.0);
    feeding = false;
    queue->stopQueue();
    EXPECT_TRUE(pumpUntil([&] { return watcher.stops == 1; }, 5.0));
    EXPECT_EQ(enqueued(*queue), 0u);
}

TEST(AudioQueueOutput, RefusesWhatItCannotPlay) {
    AudioStreamBasicDescription aac{};
    aac.mSampleRate = 44100;
    aac.mFormatID = kAudioFormatMPEG4AAC;
    aac.mChannelsPerFrame = 2;
    aac.mFramesPerPacket = 1024;
    EXPECT_THROW(VELKAudioQueue::outputQueueWithStreamDescription(description(aac)), NSXException);
}

} // namespace

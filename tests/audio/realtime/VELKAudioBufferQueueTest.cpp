#include "audio/realtime/VELKAudioBufferQueue.h"
#include "audio/realtime/VELKAudioFileStreamer.h"

#include "../file/AudioFileTestSupport.h"
#include "RealtimeAllocationGuard.h"
#include "audio/format/InternalInconsistencyException.h"
#include "platform/audio/RealtimeScope.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

// A playback queue whose buffers are filled with a running count, optionally
// held back until the test lets the worker go on.
class CountingQueue : public VELKAudioBufferQueue {
public:
    CountingQueue(uint32_t buffers, uint32_t frames, int64_t total)
        : VELKAudioBufferQueue(buffers, frames,
                               *VELKAudioStreamBasicDescription::clientStreamDescription(1, 48000)),
          mTotal(total) {}
    ~CountingQueue() override { teardownWorkerThread(); }

    void processBuffer(SQueueableAudioBuffer* buffer) override {
        while (mHold.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        auto* samples = static_cast<float*>(buffer->mBuffer.mBufferList->mBuffers[0].mData);
        const auto frames =
            static_cast<uint32_t>(std::min<int64_t>(bufferSizeFrames(), mTotal - mNext));
        for (uint32_t i = 0; i < frames; ++i) {
            samples[i] = static_cast<float>(mNext++);
        }
        buffer->mBuffer.mStartFrame = 0;
        buffer->mBuffer.mEndFrame = frames;
        buffer->mBuffer.mReachedEndOfStream = frames == 0;
        ++mFills;
    }

    std::atomic<bool> mHold{false};
    std::atomic<int> mFills{0};

private:
    int64_t mTotal;
    int64_t mNext = 0;
};

struct OneChannel {
    std::vector<float> samples;
    std::vector<uint8_t> storage = std::vector<uint8_t>(AudioBufferListSize(1));
    AudioBufferList* list = reinterpret_cast<AudioBufferList*>(storage.data());

    explicit OneChannel(uint32_t frames) : samples(frames, -1.0f) {
        list->mNumberBuffers = 1;
        list->mBuffers[0] = {1, frames * 4, samples.data()};
    }
};

bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

TEST(RealtimeAllocationGuard, CatchesAnAllocationOnAnIOThread) {
    RealtimeAllocationGuard::reset();
    {
        RealtimeScope realtime;
        auto* leak = new std::vector<int>(100);
        delete leak;
    }
    EXPECT_GE(RealtimeAllocationGuard::violations(), 1u);
    RealtimeAllocationGuard::reset();
}

TEST(BufferQueue, PlaybackCopiesAcrossBuffers) {
    CountingQueue queue(3, 4096, 100000);
    queue.prime();
    EXPECT_EQ(queue.mFills.load(), 3);
    OneChannel out(512);
    uint32_t frames = 512;
    VELKAudioBufferQueueCopyInto(&queue, out.list, &frames);
    EXPECT_EQ(frames, 512u);
    EXPECT_EQ(out.samples[511], 511.0f);
    EXPECT_EQ(queue.mFills.load(), 3) << "nothing handed over yet";

    // Drain the rest of the first buffer and continue in the second in one call.
    OneChannel big(4000);
    frames = 4000;
    VELKAudioBufferQueueCopyInto(&queue, big.list, &frames);
    EXPECT_EQ(frames, 4000u);
    EXPECT_EQ(big.samples[3583], 4095.0f);
    EXPECT_EQ(big.samples[3584], 4096.0f);
    EXPECT_TRUE(waitFor([&] { return queue.mFills.load() == 4; }))
        << "the drained buffer is refilled";
    EXPECT_EQ(queue.errorCount(), 0u);
}

TEST(BufferQueue, UnderrunCountsAndReturnsWhatItHas) {
    CountingQueue queue(2, 1000, 100000);
    queue.prime();
    queue.mHold = true; // the worker cannot refill
    OneChannel out(3000);
    uint32_t frames = 3000;
    VELKAudioBufferQueueCopyInto(&queue, out.list, &frames);
    EXPECT_EQ(frames, 2000u);
    EXPECT_EQ(queue.errorCount(), 1u);
    queue.mHold = false;
}

TEST(BufferQueue, EndOfStreamStopsEveryLaterCopy) {
    CountingQueue queue(3, 1000, 1500);
    queue.prime(); // 1000, 500, and an empty marked buffer
    OneChannel out(4000);
    uint32_t frames = 4000;
    VELKAudioBufferQueueCopyInto(&queue, out.list, &frames);
    EXPECT_EQ(frames, 1500u);
    EXPECT_TRUE(queue.endOfStream());
    frames = 100;
    VELKAudioBufferQueueCopyInto(&queue, out.list, &frames);
    EXPECT_EQ(frames, 0u);
}

// A recording queue that writes into a vector, in the order it is given.
class CollectingQueue : public VELKAudioBufferQueue {
public:
    CollectingQueue(uint32_t buffers, uint32_t frames)
        : VELKAudioBufferQueue(
              buffers, frames,
              *VELKAudioStreamBasicDescription::clientStreamDescription(1, 48000)) {}
    ~CollectingQueue() override { teardownWorkerThread(); }

    void processBuffer(SQueueableAudioBuffer* buffer) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(mDelayMs));
        const auto* samples =
            static_cast<const float*>(buffer->mBuffer.mBufferList->mBuffers[0].mData);
        std::lock_guard lock(mLock);
        for (uint32_t i = buffer->mBuffer.mStartFrame; i < buffer->mBuffer.mEndFrame; ++i) {
            mWritten.push_back(samples[i]);
        }
        SAudioBufferSetEmpty(&buffer->mBuffer);
    }

    int mDelayMs = 0;
    std::mutex mLock;
    std::vector<float> mWritten;
};

TEST(BufferQueue, FlushWritesThePartialBufferAfterPendingOnes) {
    CollectingQueue queue(3, 256);
    queue.mDelayMs = 30; // the worker is slow: flush must wait for it
    float next = 0;
    OneChannel slice(100);
    for (int s = 0; s < 7; ++s) { // 700 frames: two full buffers and 188 more
        for (auto& sample : slice.samples) {
            sample = next++;
        }
        VELKAudioBufferQueueCopyFrom(&queue, slice.list, 100);
    }
    queue.flush();
    std::lock_guard lock(queue.mLock);
    ASSERT_EQ(queue.mWritten.size(), 700u);
    for (size_t i = 0; i < 700; ++i) {
        ASSERT_EQ(queue.mWritten[i], static_cast<float>(i)) << "frames in capture order";
    }
    EXPECT_EQ(queue.errorCount(), 0u);
}

TEST(BufferQueue, OverrunDropsAndCounts) {
    CollectingQueue queue(2, 100);
    queue.mDelayMs = 200;
    OneChannel slice(100);
    VELKAudioBufferQueueCopyFrom(&queue, slice.list, 100); // fills buffer 0, handed over
    VELKAudioBufferQueueCopyFrom(&queue, slice.list, 100); // fills buffer 1, handed over
    VELKAudioBufferQueueCopyFrom(&queue, slice.list, 100); // nowhere to go
    EXPECT_EQ(queue.errorCount(), 1u);
}

TEST(BufferQueue, TeardownTwiceAndAbstractProcessing) {
    VELKAudioBufferQueue queue(2, 64,
                               *VELKAudioStreamBasicDescription::clientStreamDescription(2, 44100));
    queue.teardownWorkerThread();
    queue.teardownWorkerThread(); // harmless
    EXPECT_FALSE(queue.hasWorker());
    EXPECT_THROW(queue.processBuffer(queue.buffer(0)), InternalInconsistencyException);

    SQueueWorker* worker = SAudioNotificationQueueWorkerCreate();
    SQueueWorkerTeardown(worker);
    const auto started = std::chrono::steady_clock::now();
    SQueueWorkerTeardown(worker); // already stopped: returns at once
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(50));
    SQueueWorkerDestroy(worker);
}

TEST(BufferQueue, WorkerRunsEveryNoticeItIsHanded) {
    SAudioNotificationQueueWorker* worker = SAudioNotificationQueueWorkerCreate();
    std::atomic<int> runs{0};
    std::vector<SQueueableAudioNotification*> notices;
    for (int i = 0; i < 50; ++i) {
        notices.push_back(
            SQueueableAudioNotificationCreate([&](SQueueableAudioNotification*) { ++runs; }));
    }
    for (int round = 0; round < 20; ++round) {
        for (auto* notice : notices) {
            SAudioNotificationQueueWorkerAddNotification(worker, notice);
        }
        ASSERT_TRUE(waitFor([&] {
            return std::none_of(notices.begin(), notices.end(),
                                [](auto* n) { return n->mInProgress.load(); });
        })) << "a pushed notice was left asleep";
    }
    EXPECT_EQ(runs.load(), 1000);
    SAudioNotificationQueueWorkerTeardown(worker);
    SAudioNotificationQueueWorkerDestroy(worker);
    for (auto* notice : notices) {
        SQueueableAudioNotificationDestroy(notice);
    }
}

// A job that raises on a worker is logged; the worker lives on, hands the
// job back and runs the next one.
TEST(BufferQueue, WorkerOutlivesAJobThatRaises) {
    SAudioNotificationQueueWorker* worker = SAudioNotificationQueueWorkerCreate();
    auto* failing = SQueueableAudioNotificationCreate(
        [](SQueueableAudioNotification*) { throw std::runtime_error("no such frame"); });
    std::atomic<int> runs{0};
    auto* counting =
        SQueueableAudioNotificationCreate([&](SQueueableAudioNotification*) { ++runs; });
    testing::internal::CaptureStderr();
    SAudioNotificationQueueWorkerAddNotification(worker, failing);
    EXPECT_TRUE(waitFor([&] { return !failing->mInProgress.load(); }));
    SAudioNotificationQueueWorkerAddNotification(worker, counting);
    EXPECT_TRUE(waitFor([&] { return runs.load() == 1; }));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("(ERROR) SQueueWorker : no such frame"),
              std::string::npos);
    SAudioNotificationQueueWorkerTeardown(worker);
    SAudioNotificationQueueWorkerDestroy(worker);
    SQueueableAudioNotificationDestroy(failing);
    SQueueableAudioNotificationDestroy(counting);
}

TEST(FileReader, LoopsWithinItsRange) {
    ScratchFolder folder;
    const std::string path = folder.path("loop.m4a");
    {
        auto description = VELKAudioStreamBasicDescription::alacStreamDescription();
        description->setChannelsPerFrame(1);
        auto file = VELKExtendedAudioFile::forRecording(path, description, 0, nullptr);
        Channels ramp(1, std::vector<float>(20000));
        for (size_t i = 0; i < ramp[0].size(); ++i) {
            ramp[0][i] = static_cast<float>(i % 30000) / 32768.0f;
        }
        writeChannels(*file, ramp);
        file->closeFile();
    }
    auto file = VELKExtendedAudioFile::forPlayback(path);
    VELKAudioFileReader reader(3, 1000, *file->streamDescription(), file);
    reader.setLooping(true);
    reader.setLoopRange({5000, 2500});
    reader.setCurrentFrame(5000);
    reader.start();
    std::vector<float> heard;
    OneChannel out(500);
    for (int tries = 0; heard.size() < 6000 && tries < 1000; ++tries) {
        uint32_t frames = 500;
        VELKAudioBufferQueueCopyInto(&reader, out.list, &frames);
        heard.insert(heard.end(), out.samples.begin(), out.samples.begin() + frames);
        if (frames < 500) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2)); // the worker refills
        }
    }
    ASSERT_GE(heard.size(), 6000u);
    EXPECT_FALSE(reader.endOfStream());
    for (uint32_t i = 0; i < heard.size(); ++i) {
        const int64_t expected = 5000 + (i % 2500);
        ASSERT_EQ(std::lround(heard[i] * 32768.0f), expected) << "frame " << i;
    }
    reader.stop();
    reader.teardownWorkerThread();
}

} // namespace

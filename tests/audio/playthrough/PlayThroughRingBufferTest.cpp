#include "audio/playthrough/CAPlayThrough.h"
#include "audio/playthrough/PlayThroughRingBuffer.h"
#include "platform/audio/DeviceClock.h"
#include "platform/audio/RealtimeScope.h"

#include "../realtime/RealtimeAllocationGuard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

// The ring of input frames by input time, the play-through's offset
// arithmetic and the device clock's rate estimate, without a server.

namespace {

// One-channel float frames whose value is their own time, so any frame read
// shows where it came from.
struct Frames {
    std::vector<float> samples;
    std::vector<uint8_t> storage = std::vector<uint8_t>(AudioBufferListSize(1));
    AudioBufferList* list = reinterpret_cast<AudioBufferList*>(storage.data());

    explicit Frames(uint32_t count) : samples(count) {
        list->mNumberBuffers = 1;
        list->mBuffers[0] = {1, count * 4, samples.data()};
    }
    Frames& stamp(int64_t start) {
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<float>(start + static_cast<int64_t>(i));
        }
        return *this;
    }
};

using Range = std::pair<int64_t, int64_t>;

Range bounds(const PlayThroughRingBuffer& ring) {
    int64_t start = 0;
    int64_t end = 0;
    EXPECT_EQ(ring.CurrentTimeBounds(start, end), 0);
    return {start, end};
}

} // namespace

TEST(PlayThroughRingBuffer, CapacityIsRoundedUpToAPowerOfTwo) {
    PlayThroughRingBuffer ring;
    ring.Allocate(2, 4, 10240);
    EXPECT_EQ(ring.capacityFrames(), 16384u);
    ring.Allocate(2, 4, 1024);
    EXPECT_EQ(ring.capacityFrames(), 1024u);
    ring.Allocate(1, 4, 1);
    EXPECT_EQ(ring.capacityFrames(), 1u);
}

TEST(PlayThroughRingBuffer, WritesKeepTheNewestCapacityAndDiscardOnGoingBack) {
    PlayThroughRingBuffer ring;
    ring.Allocate(1, 4, 1024);
    Frames block(512);

    EXPECT_EQ(ring.WriteFrames(block.stamp(10000).list, 512, 10000), 0);
    EXPECT_EQ(bounds(ring), Range(9488, 10512));
    // The frames before the first write read as silence.
    Frames out(512);
    EXPECT_EQ(ring.ReadFrames(out.list, 512, 9488), 0);
    for (float sample : out.samples) {
        ASSERT_EQ(sample, 0.0f);
    }

    EXPECT_EQ(ring.WriteFrames(block.stamp(10512).list, 512, 10512), 0);
    EXPECT_EQ(bounds(ring), Range(10000, 11024));
    // Across the wrap, frames come back as written.
    EXPECT_EQ(ring.ReadFrames(out.list, 512, 10300), 0);
    for (size_t i = 0; i < out.samples.size(); ++i) {
        ASSERT_EQ(out.samples[i], static_cast<float>(10300 + i));
    }

    EXPECT_EQ(ring.WriteFrames(block.stamp(9900).list, 512, 9900), 0);
    EXPECT_EQ(bounds(ring), Range(9900, 10412));

    Frames tooMany(1025);
    EXPECT_EQ(ring.WriteFrames(tooMany.list, 1025, 20000), 3);
    EXPECT_EQ(bounds(ring), Range(9900, 10412)) << "nothing changed";
}

TEST(PlayThroughRingBuffer, AGapInTheInputReadsAsSilence) {
    PlayThroughRingBuffer ring;
    ring.Allocate(1, 4, 1024);
    Frames block(256);
    ring.WriteFrames(block.stamp(0).list, 256, 0);
    ring.WriteFrames(block.stamp(1000).list, 256, 1000); // frames 256..999 never came
    Frames out(1024);
    // The ring keeps the newest 1024 frames: [232, 1256).
    EXPECT_EQ(ring.ReadFrames(out.list, 1024, 232), 0);
    for (int64_t t = 232; t < 1256; ++t) {
        const float expected = (t < 256 || t >= 1000) ? static_cast<float>(t) : 0.0f;
        ASSERT_EQ(out.samples[static_cast<size_t>(t - 232)], expected) << "frame " << t;
    }
}

TEST(PlayThroughRingBuffer, ClampCodesSayWhereAReadLiesAgainstTheStoredRange) {
    PlayThroughRingBuffer ring;
    ring.Allocate(1, 4, 1024);
    Frames block(500);
    ring.WriteFrames(block.stamp(1000).list, 500, 1000);
    ring.WriteFrames(block.stamp(1500).list, 500, 1500); // stored [1000, 2000)
    struct Case {
        int64_t start, end;
        int32_t code;
        int64_t clampedStart, clampedEnd;
    };
    // The first write into the empty ring kept the 1024 frames before its
    // end; the second pushed the oldest out: [976, 2000) is stored.
    const Case cases[] = {
        {1200, 1300, 0, 1200, 1300}, {1900, 2100, 1, 1900, 2000}, {2100, 2200, 2, 2000, 2000},
        {900, 1100, -1, 976, 1100},  {800, 900, -2, 976, 976},    {900, 2100, 3, 976, 2000},
        {976, 2000, 0, 976, 2000},
    };
    for (const Case& c : cases) {
        int64_t start = c.start;
        int64_t end = c.end;
        EXPECT_EQ(ring.ClampReadRange(start, end), c.code) << c.start << "-" << c.end;
        EXPECT_EQ(start, c.clampedStart) << c.start << "-" << c.end;
        EXPECT_EQ(end, c.clampedEnd) << c.start << "-" << c.end;
    }

    // A read that sticks out is silent where it sticks out and says so.
    Frames out(200);
    EXPECT_EQ(ring.ReadFrames(out.list, 200, 1900), 1);
    for (size_t i = 0; i < 200; ++i) {
        ASSERT_EQ(out.samples[i], i < 100 ? static_cast<float>(1900 + i) : 0.0f);
    }
    EXPECT_EQ(out.list->mBuffers[0].mDataByteSize, 200u * 4);
    EXPECT_EQ(ring.ReadFrames(out.list, 200, 100), -2);
}

// A writer laps a small ring while a reader reads: every read that reports
// success holds exactly the frames asked for; a read the writer overwrote
// under it reports a miss instead.
TEST(PlayThroughRingBuffer, ReadsOverwrittenWhileCopiedAreReportedNotReturned) {
    PlayThroughRingBuffer ring;
    ring.Allocate(1, 4, 256);
    std::atomic<int64_t> written{0};
    std::atomic<bool> stop{false};
    RealtimeAllocationGuard::reset();
    std::thread writer([&] {
        Frames block(64);
        RealtimeScope realtime;
        for (int64_t t = 0; !stop.load(); t += 64) {
            ring.WriteFrames(block.stamp(t).list, 64, t);
            written.store(t + 64);
        }
    });
    Frames out(128);
    uint64_t good = 0;
    uint64_t reported = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < deadline) {
        // Aim at the oldest frames, where the writer overwrites.
        const int64_t start = std::max<int64_t>(0, written.load() - 256);
        int32_t code = 0;
        {
            RealtimeScope realtime;
            code = ring.ReadFrames(out.list, 128, start);
        }
        if (code != 0) {
            ++reported;
            continue;
        }
        ++good;
        for (size_t i = 0; i < 128; ++i) {
            ASSERT_EQ(out.samples[i], static_cast<float>(start + static_cast<int64_t>(i)))
                << "a read reported whole returned overwritten frames";
        }
    }
    stop.store(true);
    writer.join();
    EXPECT_GT(good, 0u);
    EXPECT_GT(reported, 0u) << "the reader never met the writer";
    EXPECT_EQ(RealtimeAllocationGuard::violations(), 0u);
}

TEST(PlayThroughOffset, ALateReadWaitsForTheMissingFramesAndRepeatsNone) {
    // Reading 512 frames whose end lies 40 frames past the stored end: the
    // 472 there are played, and the next read (512 frames on in output
    // time) begins right after them.
    const int64_t requested = 10000 - 512 + 40;
    const double offset = CAPlayThrough::CorrectedOffset(5072, 1, requested, 512, 9000, 10000, 640);
    EXPECT_EQ(offset, 5072.0 + 40);
    EXPECT_EQ(requested + 5072 + 512 - offset, 10000);
    // A read wholly past the end waits for all of it.
    EXPECT_EQ(CAPlayThrough::CorrectedOffset(5072, 2, 10300, 512, 9000, 10000, 640), 5072.0 + 812);
}

TEST(PlayThroughChannels, OneOrTwoOfTheChosenChannelsThatTheDeviceHas) {
    using Map = std::optional<std::vector<int32_t>>;
    using Channels = std::vector<int32_t>;
    EXPECT_EQ(CAPlayThrough::MonitoredChannels(Map{{0, 1}}, 2), (Channels{0, 1}));
    // A mono device recorded "in stereo" gives its one channel.
    EXPECT_EQ(CAPlayThrough::MonitoredChannels(Map{{0, 1}}, 1), (Channels{0}));
    EXPECT_EQ(CAPlayThrough::MonitoredChannels(std::nullopt, 1), (Channels{0}));
    // Channels 3-4 of a four-channel device; channel 2 alone.
    EXPECT_EQ(CAPlayThrough::MonitoredChannels(Map{{2, 3}}, 4), (Channels{2, 3}));
    EXPECT_EQ(CAPlayThrough::MonitoredChannels(Map{{1}}, 4), (Channels{1}));
    // Nothing chosen, or only channels the device lacks: its first two.
    EXPECT_EQ(CAPlayThrough::MonitoredChannels(std::nullopt, 6), (Channels{0, 1}));
    EXPECT_EQ(CAPlayThrough::MonitoredChannels(Map{{4, 5}}, 2), (Channels{0, 1}));
    EXPECT_EQ(CAPlayThrough::MonitoredChannels(Map{{-1, 7}}, 2), (Channels{0, 1}));
}

TEST(PlayThroughOffset, AReadFallenBehindTheRingCatchesUpToTheThroughLatency) {
    // The read starts 600 frames before what a full ring still holds.
    double offset = CAPlayThrough::CorrectedOffset(8000, -2, 9400, 512, 10000, 26384, 1072);
    const double now = 9400 + 8000; // output time of that read
    EXPECT_EQ(now - offset, 26384 - 512 - 1072) << "reads at the usual distance again";
    // With little in the ring, the read lands a step inside it, not at its edge.
    offset = CAPlayThrough::CorrectedOffset(8000, -1, 9900, 512, 10000, 10700, 1072);
    EXPECT_EQ(9900 + 8000 - offset, 10000 + 128);
}

// A device running 500 ppm fast, its callbacks a few milliseconds late at
// random: the clock finds the rate, and the frames it accounts for never
// wander far from the device's own count.
TEST(DeviceClock, FindsTheRateOfAJitteryDevice) {
    DeviceClock clock;
    clock.reset(48000);
    const double actualRate = 48000 * 1.0005;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> lateness(0, 4e6); // ns
    double sampleTime = 0;
    double integrated = 0;     // frames played at the estimated rate scalar
    double worstRateError = 0; // once settled
    AudioTimeStamp previous{};
    bool havePrevious = false;
    for (int cycle = 0; cycle < 60 * 94; ++cycle) { // a minute of 512-frame cycles
        const double hostTime = 1e12 + sampleTime / actualRate * 1e9 + lateness(random);
        clock.feed(sampleTime, static_cast<uint64_t>(hostTime));
        AudioTimeStamp now{};
        ASSERT_TRUE(clock.timeAt(static_cast<uint64_t>(hostTime), now));
        if (havePrevious) {
            integrated += now.mRateScalar * 48000 *
                          (static_cast<double>(now.mHostTime - previous.mHostTime) * 1e-9);
        }
        if (cycle >= 5 * 94) {
            worstRateError = std::max(worstRateError, std::fabs(now.mRateScalar - 1.0005));
        }
        previous = now;
        havePrevious = true;
        sampleTime += 512;
    }
    EXPECT_NEAR(previous.mRateScalar, 1.0005, 0.0001);
    // Two devices estimated 0.01 % apart for 10 s part by 1 ms.
    EXPECT_LT(worstRateError, 0.0001) << "the estimate wandered after settling";
    EXPECT_NEAR(integrated, sampleTime - 512, 48000 * 0.01) << "more than 10 ms adrift";
}

// The device goes on while its callbacks, a few milliseconds late at
// random, stop for 150 ms and then come all at once to make up for it; the
// stall moves the time line, not the rate.
TEST(DeviceClock, AStallAndItsBurstLeaveTheRateAlone) {
    DeviceClock clock;
    clock.reset(48000);
    const double period = 1e9 / 48000;
    std::mt19937 random(5);
    std::uniform_real_distribution<double> jitter(0, 4e6); // ns
    double sampleTime = 0;
    double hostTime = 1e12;
    auto cycle = [&](double lateness) {
        clock.feed(sampleTime, static_cast<uint64_t>(hostTime + lateness + jitter(random)));
        sampleTime += 512;
        hostTime += 512 * period;
    };
    for (int i = 0; i < 10 * 94; ++i) {
        cycle(0);
    }
    // The buffers due in the stall come late, the last of them on time.
    constexpr int kStalled = 14; // 150 ms of 512-frame buffers
    const double stallEnd = hostTime + kStalled * 512 * period;
    for (int i = 0; i < kStalled; ++i) {
        cycle(stallEnd - hostTime);
    }
    double worst = 0;
    for (int i = 0; i < 10 * 94; ++i) {
        cycle(0);
        AudioTimeStamp now{};
        ASSERT_TRUE(clock.timeAt(static_cast<uint64_t>(hostTime), now));
        worst = std::max(worst, std::fabs(now.mRateScalar - 1.0));
    }
    // As close as the jittery device above comes without a stall.
    EXPECT_LT(worst, 0.0001) << "the stall was taken for a change of rate";
}

// A wireless device's callbacks come up to 30 ms late: that is its
// rhythm, not a stall, and the clock still finds its rate.
TEST(DeviceClock, FindsTheRateOfADeviceWithUnevenCallbacks) {
    DeviceClock clock;
    clock.reset(48000);
    const double actualRate = 48000 * 0.9997;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> lateness(0, 30e6); // ns
    double sampleTime = 0;
    AudioTimeStamp now{};
    for (int cycle = 0; cycle < 120 * 94; ++cycle) { // two minutes of 512-frame cycles
        const double hostTime = 1e12 + sampleTime / actualRate * 1e9 + lateness(random);
        clock.feed(sampleTime, static_cast<uint64_t>(hostTime));
        ASSERT_TRUE(clock.timeAt(static_cast<uint64_t>(hostTime), now));
        sampleTime += 512;
    }
    EXPECT_NEAR(now.mRateScalar, 0.9997, 0.0001);
}

TEST(DeviceClock, HasNoTimeForADeviceWithoutRunningStreams) {
    AudioTimeStamp time{};
    EXPECT_NE(DeviceClocks::currentTime(0x7fffffff, time), 0);
}

#include "audio/dsp/SBufferQueue.h"
#include "audio/dsp/SMono.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

namespace {

struct QueueDeleter {
    void operator()(SBufferQueue* queue) const { SBufferQueueDestroy(queue); }
};
using Queue = std::unique_ptr<SBufferQueue, QueueDeleter>;

// Samples keep their order across the ring's end; reading does not consume.
TEST(SBufferQueue, KeepsOrderAcrossTheEndOfTheRing) {
    Queue queue(SBufferQueueCreate(8));
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(SBufferQueueLength(queue.get()), 8u);
    std::vector<float> ramp(8);
    std::iota(ramp.begin(), ramp.end(), 1.0f);
    SBufferQueueAppend(queue.get(), ramp.data(), 6);
    SBufferQueueAdvance(queue.get(), 5);
    SBufferQueueAppend(queue.get(), ramp.data(), 7); // wraps; the queue is full now
    EXPECT_EQ(SBufferQueueUsed(queue.get()), 8u);
    std::vector<float> out(8);
    SBufferQueueRead(queue.get(), out.data(), 8);
    EXPECT_EQ(out, (std::vector<float>{6, 1, 2, 3, 4, 5, 6, 7}));
    SBufferQueueRead(queue.get(), out.data(), 2);
    EXPECT_EQ(SBufferQueueUsed(queue.get()), 8u) << "reading does not consume";
    SBufferQueueAdvance(queue.get(), 3);
    SBufferQueueRead(queue.get(), out.data(), 5);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 5),
              (std::vector<float>{3, 4, 5, 6, 7}));
    SBufferQueueClear(queue.get());
    EXPECT_EQ(SBufferQueueUsed(queue.get()), 0u);
}

// Misuse is a programming error: the process stops and says which rule broke.
TEST(SBufferQueueDeathTest, RefusesMoreThanThereIsRoomOrData) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Queue queue(SBufferQueueCreate(4));
    std::vector<float> samples(8, 1.0f);
    EXPECT_DEATH(SBufferQueueAppend(queue.get(), samples.data(), 5), "inLength <= self->mLength");
    SBufferQueueAppend(queue.get(), samples.data(), 3);
    EXPECT_DEATH(SBufferQueueAppend(queue.get(), samples.data(), 2), "SBufferQueue.*: 0");
    EXPECT_DEATH(SBufferQueueRead(queue.get(), samples.data(), 4), "inLength <= self->mUsed");
    EXPECT_DEATH(SBufferQueueRead(queue.get(), nullptr, 1), "inDestination");
    EXPECT_DEATH(SBufferQueueAdvance(queue.get(), 4), "inLength <= self->mUsed");
    EXPECT_EQ(SBufferQueueUsed(queue.get()), 3u) << "nothing changed in this process";
}

TEST(SMono, FoldsThePairWithTheNewLeftFeedingTheRight) {
    SMono* mono = SMonoCreate();
    EXPECT_EQ(SMonoPanAmount(mono), 0.5);
    EXPECT_FALSE(SMonoOutOfPhase(mono));
    std::vector<float> left{1.0f, 0.0f, 0.5f}, right{0.0f, 1.0f, -0.5f};
    float* const pair[2] = {left.data(), right.data()};
    EXPECT_EQ(SMonoProcess(mono, pair, 3, pair, 3), 3u); // in place
    // L' = (L + R) / 2, R' = L / 4 + 3R / 4
    EXPECT_EQ(left, (std::vector<float>{0.5f, 0.5f, 0.0f}));
    EXPECT_EQ(right, (std::vector<float>{0.25f, 0.75f, -0.25f}));

    SMonoSetOutOfPhase(mono, true);
    SMonoSetPanAmount(mono, 0.25);
    std::vector<float> l{1.0f}, r{1.0f}, outL(1), outR(1);
    float* const in[2] = {l.data(), r.data()};
    float* const out[2] = {outL.data(), outR.data()};
    SMonoProcess(mono, in, 1, out, 1);
    EXPECT_FLOAT_EQ(outL[0], 0.75f - 0.25f);        // L(1 - a) - R a
    EXPECT_FLOAT_EQ(outR[0], 0.5f * 0.75f - 0.25f); // L'(1 - a) - R a
    EXPECT_EQ(l[0], 1.0f) << "the input stays when the output is elsewhere";
    SMonoDestroy(mono);
}

TEST(SMonoDeathTest, RefusesUnequalLengths) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SMono* mono = SMonoCreate();
    std::vector<float> left(4), right(4);
    float* const pair[2] = {left.data(), right.data()};
    EXPECT_DEATH(SMonoProcess(mono, pair, 4, pair, 3), "inSignalLength == outSignalLength");
    SMonoDestroy(mono);
}

} // namespace

#include "audio/playthrough/PlayThroughFillTracker.h"

#include <gtest/gtest.h>

// Seconds of 1000 frames, ten reads each; the fill dips to `floor` once a
// second and is 500 frames above it otherwise. A second is judged at the
// first read of the next.
namespace {

struct Reads {
    PlayThroughFillTracker tracker;
    double now = 0;
    Reads() { tracker.configure(1000, 640); }
    // The frames the tracker asked to skip during this second's reads.
    int64_t second(int64_t floor) {
        int64_t skip = 0;
        for (int i = 0; i < 10; ++i) {
            skip += tracker.track(now, i == 5 ? floor : floor + 500);
            now += 100;
        }
        return skip;
    }
    int64_t seconds(std::initializer_list<int64_t> floors) {
        int64_t skip = 0;
        for (int64_t floor : floors) {
            skip += second(floor);
        }
        return skip;
    }
};

} // namespace

TEST(PlayThroughFillTracker, LeavesAFillThatVariesAsItDidAtFirstAlone) {
    Reads reads;
    EXPECT_EQ(reads.seconds({1000, 1200, 1100}), 0);
    EXPECT_EQ(reads.tracker.baseline(), -1) << "the third second is judged at the next read";
    // Within the allowance (640) and the first seconds' spread (200).
    EXPECT_EQ(reads.seconds({1100, 1700, 1000, 1800, 300, 1500, 1100}), 0);
    EXPECT_EQ(reads.tracker.baseline(), 1000);
}

TEST(PlayThroughFillTracker, SkipsAnExcessThatLastsTwoSecondsDownToTheFirstSecondsHighest) {
    Reads reads;
    reads.seconds({1000, 1200, 1100, 1100});
    EXPECT_EQ(reads.seconds({6000, 6100}), 0) << "the second one is judged a read later";
    EXPECT_EQ(reads.second(1200), 6000 - 1200) << "the lesser of the two excesses";
    EXPECT_EQ(reads.seconds({1200, 1100, 1150}), 0);
}

TEST(PlayThroughFillTracker, LeavesASingleSecondsExcessAlone) {
    Reads reads;
    reads.seconds({1000, 1200, 1100, 1100});
    EXPECT_EQ(reads.seconds({6000, 1100, 6000, 1100, 1100}), 0);
}

TEST(PlayThroughFillTracker, KeepsTheMarginOfAMissSoonAfterASkipOnly) {
    Reads reads;
    reads.seconds({1000, 1200, 1100, 1100, 6000, 6000});
    ASSERT_GT(reads.second(1200), 0);
    // The skip went too far: the next read missed and moved back 2000 frames.
    reads.tracker.noteMarginAdded(2000);
    EXPECT_EQ(reads.tracker.baseline(), 3000);
    EXPECT_EQ(reads.seconds({3200, 3200, 3100, 3200}), 0) << "the margin stays";

    // A miss long after the skip (the one that comes with a stall) is
    // undone with the stall's excess.
    reads.seconds({3200, 3200, 3200, 3200});
    reads.tracker.noteMarginAdded(2000);
    EXPECT_EQ(reads.tracker.baseline(), 3000);
    EXPECT_EQ(reads.seconds({5200, 5200, 3200}), 5200 - 3200);
}

TEST(PlayThroughFillTracker, StartsMeasuringAgainAfterARestart) {
    Reads reads;
    reads.seconds({1000, 1200, 1100, 1100});
    reads.tracker.restart();
    EXPECT_EQ(reads.tracker.baseline(), -1);
    EXPECT_EQ(reads.seconds({5000, 5100, 5000, 5100, 5000}), 0) << "a new baseline, not an excess";
    EXPECT_EQ(reads.tracker.baseline(), 5000);
}

#include "audio/playthrough/PlayThroughPaceControl.h"
#include "audio/playthrough/PlayThroughDeliveryClock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

// The pace control and the delivery clock driven by a simulated
// play-through: an input device that delivers frames in blocks, an output
// that takes 512 output frames a cycle at the measured ratio times the
// trim, and a read point that moves as the engine moves it (on by what it
// read, waiting on a late read, forward by a skip).
namespace {

constexpr double kRate = 44100;
constexpr uint32_t kCycle = 512;
constexpr int64_t kMargin = 132; // 3 ms

struct Simulation {
    PlayThroughPaceControl pace;
    PlayThroughDeliveryClock clock;
    double inputSpeed = 1.0; // the input device's clock against the output's
    double seconds = 0;      // real time
    double arrived = 0;      // input frames delivered so far
    double nextDelivery = 0; // real time of the next delivery
    double read = 0;         // the read point (input frames)
    double carry = 0;        // fraction of a frame the varispeed still owes
    uint64_t misses = 0;
    int64_t leastFillSinceReset = INT64_MAX;
    // Given the frames delivered so far, how many the next delivery brings
    // and how long after this one it comes.
    std::function<std::pair<double, double>()> nextBlock;

    explicit Simulation(std::function<std::pair<double, double>()> block)
        : nextBlock(std::move(block)) {
        pace.configure(kRate, kMargin);
        clock.reset(kRate);
        deliver(); // the first block, then the read point behind it
        read = arrived - kMargin - kCycle - 512;
        pace.restart(read);
    }

    void deliver() {
        const auto [frames, wait] = nextBlock();
        arrived += frames;
        nextDelivery = seconds + wait;
        const auto host = static_cast<uint64_t>(seconds * 1e9) + 1;
        pace.noteDelivery(host);
        clock.noteDelivery(host, arrived);
    }

    // One output cycle: the input delivers what is due by now, then a read.
    void cycle() {
        seconds += kCycle / kRate;
        while (nextDelivery <= seconds) {
            const double at = seconds;
            seconds = nextDelivery;
            deliver();
            seconds = at;
        }
        const double wanted = kCycle * rate() + carry;
        const auto frames = static_cast<int64_t>(wanted);
        carry = wanted - static_cast<double>(frames);
        const double fill = std::floor(arrived) - (std::floor(read) + static_cast<double>(frames));
        if (fill < 0) {
            ++misses;
            pace.noteShortfall(static_cast<int64_t>(-fill));
            read = std::floor(arrived); // the next read begins after what was there
            return;
        }
        read += static_cast<double>(frames);
        leastFillSinceReset = std::min(leastFillSinceReset, static_cast<int64_t>(fill));
        read += static_cast<double>(pace.track(read, static_cast<int64_t>(fill)));
    }
    // Input frames an output frame takes.
    double rate() const { return clock.rateScalar() * pace.trim(); }
    void run(double forSeconds) {
        const double until = seconds + forSeconds;
        while (seconds < until) {
            cycle();
        }
    }
    void resetMeasures() {
        misses = 0;
        leastFillSinceReset = INT64_MAX;
    }
};

// A device delivering `block` frames at a steady pace, `speed` times the
// output's.
std::function<std::pair<double, double>()> steady(double block, double speed) {
    return [=] { return std::pair{block, block / (kRate * speed)}; };
}

} // namespace

TEST(PlayThroughPaceControl, FollowsASteadyDeviceWhoseClockDiffers) {
    for (const double speed : {1.0, 1.002, 0.9985}) {
        Simulation run(steady(511, speed));
        run.run(40);
        run.resetMeasures();
        run.run(60);
        EXPECT_EQ(run.misses, 0u) << "clock " << speed;
        EXPECT_NEAR(run.rate(), speed, 2e-4) << "the rate settles on the clock ratio";
        EXPECT_GT(run.leastFillSinceReset, 0) << "clock " << speed;
        // Close behind what arrived: the margin, a delivery and a read.
        EXPECT_LE(run.leastFillSinceReset, kMargin + 512) << "clock " << speed;
        EXPECT_EQ(run.pace.skips(), 0u);
    }
}

// Blocks of 5 to 80 ms at random moments, as a network or wireless source
// passes them on, never behind real time on the whole.
TEST(PlayThroughPaceControl, KeepsAnUnevenInputWithoutMissesOrDrift) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> blockSeconds(0.005, 0.080);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    Simulation* self = nullptr;
    double written = 0;
    Simulation run([&] {
        const double frames = std::round(blockSeconds(random) * kRate);
        written += frames;
        const double now = self ? self->seconds : 0;
        const double ahead = written / kRate - now;
        const double least = std::max(0.0, ahead - 0.080);
        return std::pair{frames, least + share(random) * std::max(ahead - least, 0.0)};
    });
    self = &run;
    run.run(60);
    run.resetMeasures();
    const double readBefore = run.read;
    run.run(120);
    EXPECT_EQ(run.misses, 0u);
    EXPECT_EQ(run.pace.skips(), 0u);
    EXPECT_NEAR((run.read - readBefore) / 120.0, kRate, kRate * 2e-3)
        << "the read point keeps the input's pace";
    EXPECT_NEAR(run.rate(), 1.0, 2e-3);
    // It waits at most for the longest block beyond the margin.
    EXPECT_LE(run.leastFillSinceReset, kMargin + static_cast<int64_t>(0.080 * kRate));
}

// A source that hands over two seconds at a time: the reads wait for each
// block's end only once, then keep pace without missing.
TEST(PlayThroughPaceControl, WaitsOutASourceThatDeliversSecondsAtATime) {
    Simulation run(steady(2 * kRate, 1.0));
    run.run(20);
    run.resetMeasures();
    run.run(40);
    EXPECT_EQ(run.misses, 0u);
    EXPECT_LT(run.leastFillSinceReset, 0.05 * kRate) << "not later than it has to be";
}

TEST(PlayThroughPaceControl, SkipsALastingExcessButDrainsASmallOne) {
    Simulation run(steady(511, 1.0));
    run.run(20);
    // The output stalled for 150 ms while the input went on.
    run.read -= 0.150 * kRate;
    run.run(1.5);
    EXPECT_EQ(run.pace.skips(), 0u) << "an excess is skipped only once it has lasted";
    run.run(2);
    EXPECT_EQ(run.pace.skips(), 1u);
    run.resetMeasures();
    run.run(20);
    EXPECT_EQ(run.misses, 0u) << "the skip went too far";
    EXPECT_LE(run.leastFillSinceReset, kMargin + 512) << "the stall's latency is gone";

    // 10 ms too late is drained by the pace alone.
    run.read -= 0.010 * kRate;
    run.resetMeasures();
    run.run(20);
    EXPECT_EQ(run.pace.skips(), 1u);
    EXPECT_EQ(run.misses, 0u);
    EXPECT_LE(run.leastFillSinceReset, kMargin + 512);
}

TEST(PlayThroughPaceControl, ALateReadWidensTheMarginWithinALimit) {
    PlayThroughPaceControl pace;
    pace.configure(kRate, kMargin);
    pace.noteShortfall(40);
    EXPECT_EQ(pace.margin(), kMargin + 40);
    pace.noteShortfall(5000); // a long wait adds one step only
    EXPECT_EQ(pace.margin(), kMargin + 40 + static_cast<int64_t>(0.002 * kRate));
    for (int i = 0; i < 100; ++i) {
        pace.noteShortfall(5000);
    }
    EXPECT_EQ(pace.margin(), static_cast<int64_t>(PlayThroughPaceControl::kMostMargins * kMargin));
}

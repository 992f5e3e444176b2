#pragma once

#include <array>
#include <atomic>
#include <cstdint>

// Keeps the output reading a small margin behind what has arrived in the
// ring, whatever the size and spacing of the input's deliveries.
//
// The output reads the ring continuously: each read starts where the last
// one ended, and the varispeed's rate decides how many input frames an
// output cycle takes. That rate is the ratio of the two devices' measured
// rates (the input's from its deliveries) times a trim set here. What the
// trim looks after is the least fill: the fewest frames the ring held ahead
// of a read, over a window long enough to see the input's longest wait
// between deliveries, and the lowest of those over the last seconds (where
// the two sides' cycles fall against each other changes it by up to a
// delivery). A slow, critically damped loop keeps that at the margin, so
// that the read point never has to jump:
//
// - a least fill far above the margin for two seconds (the output stalled
//   while the input went on, or a backlog arrived at once) is skipped down
//   to the margin, the one jump left;
// - a read that finds too few frames (a late delivery) waits for the rest:
//   the shortfall is heard as silence and nothing is heard twice; the
//   margin grows a little each time, up to a limit.
//
// Fills, margins and times are in input frames. Used on the output thread,
// except noteDelivery (input thread). Real-time: no allocation, no locks.
class PlayThroughPaceControl {
public:
    static constexpr double kShortestWindowSeconds = 0.2;
    static constexpr double kLongestWindowSeconds = 4.0;
    // Windows span this many of the longest recent waits for input.
    static constexpr double kWindowPerWait = 3.0;
    // The least fills of this many seconds back count.
    static constexpr double kHistorySeconds = 10.0;
    // The loop's natural frequency (rad/s): slow beside any window.
    static constexpr double kBandwidth = 0.05;
    // How far the trim may take the rate (the measured ratio does the rest).
    static constexpr double kMostTrim = 0.01;
    // An excess held this long (s) and beyond this many seconds of fill is
    // skipped.
    static constexpr double kSkipAfterSeconds = 2.0;
    static constexpr double kSkipExcessSeconds = 0.04;
    // A late read adds at most this much margin (s); the margin stays below
    // kMostMargins times its starting value.
    static constexpr double kMarginStepSeconds = 0.002;
    static constexpr double kMostMargins = 2.0;

    // `inputRate`: input frames a second; `margin`: the least fill to keep.
    void configure(double inputRate, int64_t margin);
    // Starts measuring afresh at input time `now` (-1: at the next read),
    // after a start or a new read point. The trim learned stays.
    void restart(double now);

    // Input thread: a delivery arrived at `hostTime` (ns).
    void noteDelivery(uint64_t hostTime);

    // After a read at input time `now` that left `fill` frames ahead of it:
    // the frames to move the read point forward by (0: none).
    int64_t track(double now, int64_t fill);
    // After a read that ran `shortfall` frames past the newest frame.
    void noteShortfall(int64_t shortfall);

    // The factor by which to trim the measured rate ratio.
    double trim() const { return 1.0 + mTrim; }
    int64_t margin() const { return mMargin; }
    // The lowest least fill of the recent windows (frames), -1 before one
    // has passed.
    int64_t leastFill() const { return mHistoryCount > 0 ? historyLeast() : -1; }
    uint64_t skips() const { return mSkips; }
    double windowSeconds() const { return mWindowFrames / mInputRate; }

private:
    struct Window {
        int64_t least;
        double seconds;
    };
    static constexpr size_t kHistory = 64;

    int64_t judge(int64_t least, double seconds);
    void adaptWindow();
    void remember(int64_t least, double seconds);
    int64_t historyLeast() const;

    double mInputRate = 48000;
    int64_t mBaseMargin = 0;
    int64_t mMargin = 0;
    double mWindowFrames = 0;
    double mRecentWaitSeconds = 0;

    double mWindowStart = -1;
    int64_t mWindowLeast = 0;
    bool mFirstWindow = true;
    double mExcessSeconds = 0; // how long the least fill has been far too high

    std::array<Window, kHistory> mHistory{};
    size_t mHistoryNext = 0;
    size_t mHistoryCount = 0;

    double mTrim = 0;
    double mIntegral = 0;
    uint64_t mSkips = 0;

    // Input thread writes, output thread takes: the longest wait between
    // deliveries since the output last looked.
    std::atomic<uint64_t> mLastDelivery{0};
    std::atomic<uint64_t> mLongestWait{0};
};

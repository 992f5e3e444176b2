#pragma once

#include <cstdint>

// Watches how much the ring holds ahead of the output's read point, and says
// when the read point should skip forward.
//
// A stall of the output (the server or this process not run for a while) is
// played as silence by the device, while the frames due then wait in the
// ring: the read point trails the input by the stall for the rest of the
// session. The least fill of each second shows it. The least fills of the
// first seconds set a baseline and how much they vary; a least fill beyond
// that for two seconds in a row is skipped, down to the highest of the first
// seconds' least fills.
//
// Used on the output thread only. Real-time: no allocation, no locks.
class PlayThroughFillTracker {
public:
    static constexpr int kBaselineSeconds = 3;
    // A miss this many seconds after a skip says the skip went too far.
    static constexpr int kSkipProbationSeconds = 3;

    // `secondFrames`: frames of the output's time line in a second;
    // `allowance`: frames the least fill may vary by at least.
    void configure(double secondFrames, int64_t allowance);
    // Starts again from nothing (a new start, or a read point set anew).
    void restart();
    // After a read at output time `now` that left `fill` frames ahead of it:
    // the frames to move the read point forward by (0: none).
    int64_t track(double now, int64_t fill);
    // After a read that ran ahead of the input moved the read point back by
    // `margin` frames.
    void noteMarginAdded(int64_t margin);

    // The least fill of the first seconds (frames), or -1 before they passed.
    int64_t baseline() const;

private:
    int64_t judge(int64_t floor);

    double mSecondFrames = 48000;
    int64_t mMinimumAllowance = 0;
    double mWindowStart = -1;
    int64_t mWindowFloor = 0;
    int mBaselineSecondsLeft = kBaselineSeconds;
    int64_t mLowest = 0;  // of the first seconds' least fills
    int64_t mHighest = 0; // likewise
    int64_t mPendingExcess = 0;
    int mProbationLeft = 0;
};

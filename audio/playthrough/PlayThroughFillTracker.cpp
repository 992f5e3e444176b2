#include "audio/playthrough/PlayThroughFillTracker.h"

#include <algorithm>

void PlayThroughFillTracker::configure(double secondFrames, int64_t allowance) {
    mSecondFrames = secondFrames;
    mMinimumAllowance = allowance;
    restart();
}

void PlayThroughFillTracker::restart() {
    mWindowStart = -1;
    mBaselineSecondsLeft = kBaselineSeconds;
    mPendingExcess = 0;
    mProbationLeft = 0;
}

int64_t PlayThroughFillTracker::baseline() const {
    return mBaselineSecondsLeft == 0 ? mLowest : -1;
}

int64_t PlayThroughFillTracker::track(double now, int64_t fill) {
    fill = std::max<int64_t>(fill, 0);
    if (mWindowStart < 0) {
        mWindowStart = now;
        mWindowFloor = fill;
        return 0;
    }
    if (now - mWindowStart < mSecondFrames) {
        mWindowFloor = std::min(mWindowFloor, fill);
        return 0;
    }
    // This read begins the next second.
    const int64_t floor = mWindowFloor;
    mWindowStart = now;
    mWindowFloor = fill;
    return judge(floor);
}

int64_t PlayThroughFillTracker::judge(int64_t floor) {
    if (mBaselineSecondsLeft > 0) {
        const bool first = mBaselineSecondsLeft == kBaselineSeconds;
        mLowest = first ? floor : std::min(mLowest, floor);
        mHighest = first ? floor : std::max(mHighest, floor);
        --mBaselineSecondsLeft;
        return 0;
    }
    mProbationLeft = std::max(mProbationLeft - 1, 0);
    const int64_t spread = mHighest - mLowest;
    if (floor - mLowest <= mMinimumAllowance + spread) {
        mPendingExcess = 0;
        return 0;
    }
    // Down to the highest least fill of the first seconds, not below it.
    const int64_t excess = floor - mHighest;
    if (mPendingExcess == 0) {
        mPendingExcess = excess; // to be confirmed a second on
        return 0;
    }
    const int64_t skip = std::min(excess, mPendingExcess);
    mPendingExcess = 0;
    mProbationLeft = kSkipProbationSeconds;
    return skip;
}

// A miss soon after a skip: the margin the miss asked for is kept from now
// on. Any other miss (a stall's, as the output resumes before the input's
// backlog arrives) is undone with the stall's excess. The fills before the
// move no longer count either way.
void PlayThroughFillTracker::noteMarginAdded(int64_t margin) {
    if (mProbationLeft > 0 && mBaselineSecondsLeft == 0) {
        mLowest += margin;
        mHighest += margin;
    }
    mWindowStart = -1;
    mPendingExcess = 0;
}

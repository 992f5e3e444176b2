#include "audio/playthrough/PlayThroughPaceControl.h"

#include <algorithm>
#include <cstdint>

void PlayThroughPaceControl::configure(double inputRate, int64_t margin) {
    mInputRate = inputRate > 0 ? inputRate : 48000;
    mBaseMargin = std::max<int64_t>(margin, 1);
    mMargin = mBaseMargin;
    mTrim = 0;
    mIntegral = 0;
    mSkips = 0;
    restart(-1);
}

void PlayThroughPaceControl::restart(double now) {
    mWindowStart = now;
    mWindowLeast = INT64_MAX;
    mFirstWindow = true;
    mExcessSeconds = 0;
    mHistoryCount = 0;
    mRecentWaitSeconds = 0;
    mWindowFrames = kShortestWindowSeconds * mInputRate;
    mLastDelivery.store(0, std::memory_order_relaxed); // a stopped input waits for nothing
    mLongestWait.store(0, std::memory_order_relaxed);
}

// Input thread. Real-time: no allocation, no locks.
void PlayThroughPaceControl::noteDelivery(uint64_t hostTime) {
    const uint64_t last = mLastDelivery.exchange(hostTime, std::memory_order_relaxed);
    if (last == 0 || hostTime <= last) {
        return;
    }
    const uint64_t wait = hostTime - last;
    uint64_t longest = mLongestWait.load(std::memory_order_relaxed);
    while (wait > longest &&
           !mLongestWait.compare_exchange_weak(longest, wait, std::memory_order_relaxed)) {
    }
}

// Real-time: no allocation, no locks.
int64_t PlayThroughPaceControl::track(double now, int64_t fill) {
    if (mWindowStart < 0) {
        mWindowStart = now;
    }
    mWindowLeast = std::min(mWindowLeast, fill);
    const double elapsed = now - mWindowStart;
    if (elapsed < mWindowFrames) {
        return 0;
    }
    const int64_t least = mWindowLeast;
    mWindowStart = now;
    mWindowLeast = INT64_MAX;
    adaptWindow();
    const int64_t skip = judge(least, elapsed / mInputRate);
    if (skip > 0) {
        ++mSkips;
        restart(-1); // the fills measured so far were before the move
    }
    return skip;
}

// Real-time: no allocation, no locks. A late read waits for its frames: the
// margin was too small.
void PlayThroughPaceControl::noteShortfall(int64_t shortfall) {
    const auto step = static_cast<int64_t>(kMarginStepSeconds * mInputRate);
    const auto most = static_cast<int64_t>(kMostMargins * static_cast<double>(mBaseMargin));
    mMargin = std::min(mMargin + std::min(std::max<int64_t>(shortfall, 0), step), most);
    mWindowLeast = std::min<int64_t>(mWindowLeast, 0); // the read took all there was
}

// A window spans a few of the longest recent waits between deliveries, so
// that its least fill is the one just before a delivery.
void PlayThroughPaceControl::adaptWindow() {
    const double wait =
        static_cast<double>(mLongestWait.exchange(0, std::memory_order_relaxed)) * 1e-9;
    mRecentWaitSeconds = std::max(wait, mRecentWaitSeconds * 0.8);
    mWindowFrames = std::clamp(kWindowPerWait * mRecentWaitSeconds, kShortestWindowSeconds,
                               kLongestWindowSeconds) *
                    mInputRate;
}

void PlayThroughPaceControl::remember(int64_t least, double seconds) {
    mHistory[mHistoryNext] = {least, seconds};
    mHistoryNext = (mHistoryNext + 1) % kHistory;
    mHistoryCount = std::min(mHistoryCount + 1, kHistory);
}

int64_t PlayThroughPaceControl::historyLeast() const {
    int64_t least = INT64_MAX;
    double seconds = 0;
    for (size_t i = 0; i < mHistoryCount && seconds < kHistorySeconds; ++i) {
        const Window& window = mHistory[(mHistoryNext + kHistory - 1 - i) % kHistory];
        least = std::min(least, window.least);
        seconds += window.seconds;
    }
    return least;
}

// Returns the frames to skip.
int64_t PlayThroughPaceControl::judge(int64_t least, double seconds) {
    if (mFirstWindow) {
        mFirstWindow = false; // it began before the read point settled
        return 0;
    }
    if (static_cast<double>(least - mMargin) > kSkipExcessSeconds * mInputRate) {
        // Far too much, lasting: skipped rather than drained, and not taken
        // for a clock ratio.
        mExcessSeconds += seconds;
        if (mExcessSeconds >= kSkipAfterSeconds) {
            mExcessSeconds = 0;
            return least - mMargin;
        }
        return 0;
    }
    mExcessSeconds = 0;
    remember(least, seconds);
    const double error = static_cast<double>(historyLeast() - mMargin) / mInputRate; // s
    constexpr double kProportional = 2.0 * kBandwidth;
    constexpr double kIntegral = kBandwidth * kBandwidth;
    mIntegral = std::clamp(mIntegral + kIntegral * error * seconds, -kMostTrim, kMostTrim);
    mTrim = std::clamp(kProportional * error + mIntegral, -kMostTrim, kMostTrim);
    return 0;
}

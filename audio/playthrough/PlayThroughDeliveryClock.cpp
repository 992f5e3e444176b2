#include "audio/playthrough/PlayThroughDeliveryClock.h"

#include <cmath>

void PlayThroughDeliveryClock::reset(double nominalRate) {
    mNominalRate = nominalRate > 0 ? nominalRate : 48000;
    mStarted = false;
    mWeight = mSumX = mSumY = mSumXX = mSumXY = 0;
    mRateScalar.store(1.0, std::memory_order_relaxed);
    mSettled.store(false, std::memory_order_relaxed);
}

// Real-time: no allocation, no locks.
void PlayThroughDeliveryClock::noteDelivery(uint64_t hostTime, double endFrame) {
    if (!mStarted) {
        mStarted = true;
        mFirstHost = hostTime;
        mFirstFrame = endFrame;
        mLastSeconds = 0;
    }
    const double x = static_cast<double>(hostTime - mFirstHost) * 1e-9;
    const double y = endFrame - mFirstFrame;
    // What came before fades with the time passed since.
    const double fade = std::exp(-std::max(x - mLastSeconds, 0.0) / kMemorySeconds);
    mLastSeconds = std::max(x, mLastSeconds);
    mWeight = mWeight * fade + 1;
    mSumX = mSumX * fade + x;
    mSumY = mSumY * fade + y;
    mSumXX = mSumXX * fade + x * x;
    mSumXY = mSumXY * fade + x * y;
    const double meanX = mSumX / mWeight;
    const double spread = mSumXX / mWeight - meanX * meanX; // variance of x
    if (spread < kLeastSpreadSeconds * kLeastSpreadSeconds / 12) {
        return; // too short a stretch to tell a rate from the jitter
    }
    const double slope = (mSumXY / mWeight - meanX * mSumY / mWeight) / spread;
    const double scalar = slope / mNominalRate;
    // A device is never off by more than a few percent: anything else is
    // a start still full of the server's backlog.
    if (scalar > 0.95 && scalar < 1.05) {
        mRateScalar.store(scalar, std::memory_order_relaxed);
        mSettled.store(true, std::memory_order_relaxed);
    }
}

#pragma once

#include <atomic>
#include <cstdint>

// How fast an input really delivers frames, judged from every delivery's
// arrival time and frame count, whatever the deliveries' size and spacing.
//
// A loop that follows each callback's timing takes a burst for a stall and
// a late block for a slower clock; this fits a straight line through the
// last seconds' deliveries instead (least squares, older deliveries fading
// out with kMemorySeconds), which neither block sizes nor a burst of backlog
// tilt by more than a trifle.
//
// noteDelivery runs on the input thread, rateScalar on any. Real-time: no
// allocation, no locks.
class PlayThroughDeliveryClock {
public:
    static constexpr double kMemorySeconds = 20.0;
    // The deliveries must spread over this much time before the fit counts.
    static constexpr double kLeastSpreadSeconds = 0.5;

    // Starts afresh for an input of `nominalRate` frames a second.
    void reset(double nominalRate);
    // Frames up to `endFrame` (counted from the input's start) had arrived
    // at `hostTime` (ns of the monotonic clock).
    void noteDelivery(uint64_t hostTime, double endFrame);
    // Frames a second against the nominal rate; 1.0 until the fit counts.
    double rateScalar() const { return mRateScalar.load(std::memory_order_relaxed); }
    bool settled() const { return mSettled.load(std::memory_order_relaxed); }

private:
    double mNominalRate = 48000;
    bool mStarted = false;
    uint64_t mFirstHost = 0;
    double mFirstFrame = 0;
    double mLastSeconds = 0;
    // Weighted sums of 1, x, y, xx, xy: x seconds and y frames since the
    // first delivery.
    double mWeight = 0;
    double mSumX = 0;
    double mSumY = 0;
    double mSumXX = 0;
    double mSumXY = 0;
    std::atomic<double> mRateScalar{1.0};
    std::atomic<bool> mSettled{false};
};

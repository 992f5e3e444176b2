#pragma once

#include <cstdint>

// Tells when a recording's audio stops arriving (a frozen sound server, a
// suspended or unplugged source) and when it comes back, from the frames
// recorded so far and the time they were seen at.
class RecordingStallWatch {
public:
    enum class Change { None, Stalled, Resumed };

    // Audio missing for longer than this is a stall, in seconds.
    explicit RecordingStallWatch(double threshold = 2.0) : mThreshold(threshold) {}

    // `frames` recorded so far, at `now` (seconds on a steady clock).
    Change update(int64_t frames, double now);
    bool stalled() const { return mStalled; }
    // How long no audio has arrived, in seconds.
    double silentFor(double now) const { return now - mLastProgress; }

private:
    double mThreshold;
    int64_t mFrames = -1;
    double mLastProgress = 0;
    bool mStalled = false;
};

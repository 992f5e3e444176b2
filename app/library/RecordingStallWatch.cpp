#include "app/library/RecordingStallWatch.h"

RecordingStallWatch::Change RecordingStallWatch::update(int64_t frames, double now) {
    if (frames != mFrames) {
        mFrames = frames;
        mLastProgress = now;
        if (mStalled) {
            mStalled = false;
            return Change::Resumed;
        }
        return Change::None;
    }
    if (!mStalled && now - mLastProgress > mThreshold) {
        mStalled = true;
        return Change::Stalled;
    }
    return Change::None;
}

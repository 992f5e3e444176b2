#include "app/deck/BeatTimer.h"

#include <algorithm>
#include <numeric>

BeatTimer::BeatTimer(int beats, QObject* parent) : QObject(parent), mBeats(std::max(1, beats)) {}

BeatTimer::~BeatTimer() {
    stop();
}

void BeatTimer::start() {
    if (!mActive) {
        mActive = true;
        DisplayBeat::shared().add(this);
    }
}

void BeatTimer::stop() {
    if (mActive) {
        mActive = false;
        DisplayBeat::shared().remove(this);
    }
}

DisplayBeat& DisplayBeat::shared() {
    static DisplayBeat beat;
    return beat;
}

DisplayBeat::DisplayBeat() {
    mTimer.setTimerType(Qt::PreciseTimer);
    connect(&mTimer, &QTimer::timeout, this, &DisplayBeat::beat);
}

void DisplayBeat::add(BeatTimer* timer) {
    mTimers.push_back(timer);
    retime();
}

void DisplayBeat::remove(BeatTimer* timer) {
    const auto found = std::find(mTimers.begin(), mTimers.end(), timer);
    if (found == mTimers.end()) {
        return;
    }
    if (mBeating) {
        *found = nullptr; // dropped when the beat is over
        return;
    }
    mTimers.erase(found);
    retime();
}

void DisplayBeat::retime() {
    // Wake only on beats some timer fires on: while only the meter and the
    // counter run (every second beat), 15 times a second. Timers stopped
    // during a beat are null until it ends.
    int stride = 0;
    for (const BeatTimer* timer : mTimers) {
        stride = timer ? std::gcd(stride, timer->mBeats) : stride;
    }
    if (stride == 0) {
        mTimer.stop();
        return;
    }
    if (stride != mStride || !mTimer.isActive()) {
        mStride = stride;
        mCount -= mCount % stride; // keep the count on the new stride's beats
        mTimer.start(1000 * stride / BeatTimer::BeatsPerSecond);
    }
}

void DisplayBeat::beat() {
    mCount += mStride;
    // By index: a timer may start or stop timers, itself included, as it fires.
    mBeating = true;
    for (std::size_t index = 0; index < mTimers.size(); ++index) {
        BeatTimer* timer = mTimers[index];
        if (timer && mCount % timer->mBeats == 0) {
            emit timer->timeout();
        }
    }
    mBeating = false;
    if (std::erase(mTimers, nullptr) > 0) {
        retime();
    }
}

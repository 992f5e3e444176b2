#pragma once

#include "platform/audio/AudioUnitTypes.h"

#include <atomic>
#include <cstdint>

// The time line of one device as our streams on it see it: which sample
// frame the device is at now, and how fast it really runs against the host
// clock. One stream on the device (the first to call in) feeds it from its
// I/O callbacks; a delay-locked loop smooths the callbacks' jitter into a
// steady frame period, so that two devices whose clocks drift apart can be
// kept in step by their rate scalars.
//
// The loop tracks the phase of the frame counter, so the error of its rate
// estimate integrates to no more than its phase error (a few milliseconds):
// following the rate never lets two devices wander apart.
class DeviceClock {
public:
    // A snapshot of the loop: host time (ns) of frame `sampleTime`, and the
    // frame period in ns.
    struct Estimate {
        double sampleTime = 0;
        double hostTime = 0;
        double period = 0;
        double nominalPeriod = 0;
    };

    // Restarts the estimate for a device of `nominalRate` frames a second.
    void reset(double nominalRate);
    // Real-time: no allocation, no locks. Frame `sampleTime` of the device's
    // time line is passing at host time `hostTime` (ns of the monotonic clock).
    void feed(double sampleTime, uint64_t hostTime);
    // Real-time: no allocation, no locks. False until the loop has been fed
    // (until its second point it answers the nominal rate), or when a
    // consistent snapshot could not be read.
    bool read(Estimate& estimate) const;
    // Real-time: no allocation, no locks. The device's time at `hostTime`.
    bool timeAt(uint64_t hostTime, AudioTimeStamp& timeStamp) const;

    // The loop's bandwidth (Hz): wide while it settles, then narrowing to
    // the settled bandwidth.
    static constexpr double kSettlingBandwidth = 1.0;
    static constexpr double kSettledBandwidth = 0.05;
    static constexpr double kSettlingSeconds = 0.5;
    // A callback this far (ns) from where the loop expects it means a stall,
    // or the burst that makes up for one: the time line has moved against
    // the frame count. Until none has been this far off for kStallSettling
    // ns, the loop keeps its period, jumps to such callbacks' phase and
    // follows the others' by kStallPhaseGain, so that the step is not taken
    // for a change of rate. On a device whose callbacks come less evenly (a
    // wireless one), the mark is kStallJitters times their mean distance
    // from where the loop expects them.
    static constexpr double kStallError = 15e6;
    static constexpr double kStallSettling = 500e6;
    static constexpr double kStallJitters = 4.0;
    static constexpr double kStallPhaseGain = 0.125;

private:
    double bandwidthAt(double sampleTime) const;

    // Writer state, touched only by the feeding thread.
    bool mStarted = false;
    double mSampleRef = 0;
    double mHostRef = 0;
    double mPeriod = 0;
    double mNominalPeriod = 0;
    double mFirstSample = 0; // the loop's age is counted from here
    double mStallSettledAt = 0; // host time (ns) until which the phase is taken up
    double mJitter = 0;         // mean distance (ns) of the callbacks from the loop
    int mPoints = 0;

    // The published snapshot, behind a sequence counter (odd while written).
    std::atomic<uint32_t> mSequence{0};
    std::atomic<double> mPubSample{0};
    std::atomic<double> mPubHost{0};
    std::atomic<double> mPubPeriod{0};
    std::atomic<double> mPubNominal{0};
    std::atomic<bool> mPubValid{false};
};

// The clocks of the devices that have running streams of ours. A unit
// attaches when its stream starts and detaches when it stops; while attached
// it offers its callbacks' times, and the first attached unit to offer feeds
// the device's clock.
struct DeviceClockSlot;
namespace DeviceClocks {
// Not real-time. Returns the unit's handle on the device's clock (nullptr
// when too many devices run at once: the unit then feeds no clock).
DeviceClockSlot* attach(AudioDeviceID device, double nominalRate);
void detach(DeviceClockSlot* slot, const void* unit);
// Real-time: no allocation, no locks.
void offer(DeviceClockSlot* slot, const void* unit, double sampleTime, uint64_t hostTime);
// Real-time: no allocation, no locks. The device's current time, or
// kAudioHardwareNotRunningError when no stream of ours runs on it.
OSStatus currentTime(AudioDeviceID device, AudioTimeStamp& timeStamp);
} // namespace DeviceClocks

#include "platform/audio/DeviceClock.h"

#include "platform/audio/AudioUnitService.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <numbers>

void DeviceClock::reset(double nominalRate) {
    mStarted = false;
    mPoints = 0;
    mNominalPeriod = nominalRate > 0 ? 1e9 / nominalRate : 0;
    mPeriod = mNominalPeriod;
    mPubValid.store(false, std::memory_order_release);
}

// Wide while the loop settles, then narrowing as 1/t: the estimate keeps
// averaging over all it has seen, like a fit over the whole run, instead
// of keeping whatever error the wide loop had when it was cut down.
double DeviceClock::bandwidthAt(double sampleTime) const {
    const double elapsed = (sampleTime - mFirstSample) * mNominalPeriod * 1e-9;
    if (elapsed <= kSettlingSeconds) {
        return kSettlingBandwidth;
    }
    return std::max(kSettledBandwidth, kSettlingBandwidth * kSettlingSeconds / elapsed);
}

// Real-time: no allocation, no locks.
void DeviceClock::feed(double sampleTime, uint64_t hostTime) {
    if (mNominalPeriod <= 0) {
        return;
    }
    const auto host = static_cast<double>(hostTime);
    if (!mStarted) {
        mStarted = true;
        mSampleRef = sampleTime;
        mHostRef = host;
        mFirstSample = sampleTime;
        mStallSettledAt = 0;
        mJitter = 0;
        mPoints = 1;
    } else {
        const double frames = sampleTime - mSampleRef;
        if (frames <= 0) {
            return; // nothing new has passed
        }
        const double predicted = mHostRef + frames * mPeriod;
        const double error = host - predicted;
        // A mean over about the last 64 callbacks, a stall's share of it bounded.
        mJitter += (std::min(std::fabs(error), 4 * kStallError) - mJitter) / 64;
        const bool stalled = std::fabs(error) > std::max(kStallError, kStallJitters * mJitter);
        if (stalled) {
            mStallSettledAt = host + kStallSettling;
            if (bandwidthAt(sampleTime) >= kSettlingBandwidth) {
                mFirstSample = sampleTime; // still settling: settle from here
            }
        }
        if (host < mStallSettledAt) {
            // The phase jumps to a callback this far off, and follows the
            // others gently, averaging their jitter: the loop resumes from a
            // phase, not from one callback's lateness.
            mHostRef = stalled ? host : predicted + kStallPhaseGain * error;
            mSampleRef = sampleTime;
        } else {
            const double bandwidth = bandwidthAt(sampleTime);
            const double omega =
                std::min(2.0 * std::numbers::pi * bandwidth * frames * mPeriod * 1e-9, 0.5);
            mHostRef = predicted + std::numbers::sqrt2 * omega * error;
            mSampleRef = sampleTime;
            mPeriod += omega * omega * error / frames;
            // A device is never off by more than a few percent.
            mPeriod = std::clamp(mPeriod, mNominalPeriod * 0.95, mNominalPeriod * 1.05);
            ++mPoints;
        }
    }
    const uint32_t sequence = mSequence.load(std::memory_order_relaxed);
    mSequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    mPubSample.store(mSampleRef, std::memory_order_relaxed);
    mPubHost.store(mHostRef, std::memory_order_relaxed);
    mPubPeriod.store(mPeriod, std::memory_order_relaxed);
    mPubNominal.store(mNominalPeriod, std::memory_order_relaxed);
    mPubValid.store(mPoints >= 1, std::memory_order_relaxed);
    mSequence.store(sequence + 2, std::memory_order_release);
}

// Real-time: no allocation, no locks.
bool DeviceClock::read(Estimate& estimate) const {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const uint32_t before = mSequence.load(std::memory_order_acquire);
        if (before & 1) {
            continue;
        }
        estimate.sampleTime = mPubSample.load(std::memory_order_relaxed);
        estimate.hostTime = mPubHost.load(std::memory_order_relaxed);
        estimate.period = mPubPeriod.load(std::memory_order_relaxed);
        estimate.nominalPeriod = mPubNominal.load(std::memory_order_relaxed);
        const bool valid = mPubValid.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (mSequence.load(std::memory_order_relaxed) == before) {
            return valid && estimate.period > 0;
        }
    }
    return false;
}

// Real-time: no allocation, no locks.
bool DeviceClock::timeAt(uint64_t hostTime, AudioTimeStamp& timeStamp) const {
    Estimate estimate;
    if (!read(estimate)) {
        return false;
    }
    timeStamp = AudioTimeStamp{};
    timeStamp.mHostTime = hostTime;
    timeStamp.mSampleTime =
        estimate.sampleTime + (static_cast<double>(hostTime) - estimate.hostTime) / estimate.period;
    // Frames a second against the nominal rate: a shorter period is a faster device.
    timeStamp.mRateScalar = estimate.nominalPeriod / estimate.period;
    timeStamp.mFlags = kAudioTimeStampSampleTimeValid | kAudioTimeStampHostTimeValid |
                       kAudioTimeStampRateScalarValid;
    return true;
}

struct DeviceClockSlot {
    std::atomic<AudioDeviceID> device{kAudioObjectUnknown};
    std::atomic<const void*> feeder{nullptr};
    double nominalRate = 0;
    int attached = 0; // under gSlotsLock
    DeviceClock clock;
};

namespace {

constexpr size_t kSlots = 64;
std::array<DeviceClockSlot, kSlots> gSlots;
std::mutex gSlotsLock;

} // namespace

namespace DeviceClocks {

DeviceClockSlot* attach(AudioDeviceID device, double nominalRate) {
    if (device == kAudioObjectUnknown) {
        return nullptr;
    }
    std::lock_guard lock(gSlotsLock);
    DeviceClockSlot* free = nullptr;
    for (DeviceClockSlot& slot : gSlots) {
        if (slot.device.load() == device) {
            ++slot.attached;
            return &slot;
        }
        if (!free && slot.attached == 0) {
            free = &slot;
        }
    }
    if (!free) {
        return nullptr;
    }
    free->device.store(kAudioObjectUnknown);
    free->feeder.store(nullptr);
    free->nominalRate = nominalRate;
    free->attached = 1;
    free->device.store(device);
    return free;
}

void detach(DeviceClockSlot* slot, const void* unit) {
    if (!slot) {
        return;
    }
    std::lock_guard lock(gSlotsLock);
    const void* feeder = unit;
    // Another attached unit takes over at its next callback, from scratch.
    slot->feeder.compare_exchange_strong(feeder, nullptr);
    if (--slot->attached == 0) {
        slot->device.store(kAudioObjectUnknown);
    }
}

// Real-time: no allocation, no locks.
void offer(DeviceClockSlot* slot, const void* unit, double sampleTime, uint64_t hostTime) {
    if (!slot) {
        return;
    }
    const void* feeder = slot->feeder.load(std::memory_order_acquire);
    if (feeder == nullptr) {
        if (!slot->feeder.compare_exchange_strong(feeder, unit)) {
            return;
        }
        // A new feeder counts frames on a time line of its own.
        slot->clock.reset(slot->nominalRate);
    } else if (feeder != unit) {
        return;
    }
    slot->clock.feed(sampleTime, hostTime);
}

// Real-time: no allocation, no locks.
OSStatus currentTime(AudioDeviceID device, AudioTimeStamp& timeStamp) {
    if (device == kAudioObjectUnknown) {
        return kAudioHardwareBadDeviceError;
    }
    for (DeviceClockSlot& slot : gSlots) {
        if (slot.device.load(std::memory_order_acquire) == device &&
            slot.feeder.load(std::memory_order_acquire) != nullptr) {
            return slot.clock.timeAt(AudioGetCurrentHostTime(), timeStamp)
                       ? kAudioHardwareNoError
                       : kAudioHardwareNotRunningError;
        }
    }
    return kAudioHardwareNotRunningError;
}

} // namespace DeviceClocks

#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

// A stand-in for an audio callback that does nothing that could stall: at
// the capture thread's real-time priority it wakes once a buffer period and
// copies one buffer's worth of frames, timing each copy. A copy that took
// milliseconds was held up by the machine (another thread, the hypervisor),
// so its longest copy tells whether a long callback of ours in the same
// window was ours or the machine's.
class StallProbe {
public:
    StallProbe(uint32_t frames, double rate);
    ~StallProbe();
    StallProbe(const StallProbe&) = delete;
    StallProbe& operator=(const StallProbe&) = delete;

    uint64_t longestCopyNanoseconds() const { return mLongest.load(); }
    // The probe thread's own CPU time, for taking it out of the process's.
    double cpuSeconds() const;
    bool realTime() const { return mRealTime.load(); }

private:
    void run();

    const uint32_t mFrames;
    const double mPeriodSeconds;
    std::atomic<bool> mStop{false};
    std::atomic<bool> mRealTime{false};
    std::atomic<uint64_t> mLongest{0};
    std::atomic<uint64_t> mCpuNanoseconds{0};
    std::thread mThread;
};

#include "StallProbe.h"

#include "platform/audio/PulseHardware.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <vector>

namespace {

uint64_t threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

} // namespace

StallProbe::StallProbe(uint32_t frames, double rate)
    : mFrames(frames), mPeriodSeconds(frames / rate), mThread([this] { run(); }) {}

StallProbe::~StallProbe() {
    mStop = true;
    mThread.join();
}

double StallProbe::cpuSeconds() const {
    return static_cast<double>(mCpuNanoseconds.load()) / 1e9;
}

void StallProbe::run() {
    pthread_setname_np(pthread_self(), "stall probe");
    sched_param parameters{};
    parameters.sched_priority = PulseHardware::kIOThreadPriority;
    mRealTime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0;
    // Stereo floats, copied twice as a capture callback does (out of the
    // server's buffer, into the recorder's).
    std::vector<float> from(size_t{2} * mFrames, 0.25f), through(from.size()), to(from.size());
    using Clock = std::chrono::steady_clock;
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(mPeriodSeconds));
    auto next = Clock::now() + period;
    while (!mStop.load()) {
        std::this_thread::sleep_until(next);
        // After a stall the probe goes on from now rather than catching up.
        next = std::max(next + period, Clock::now());
        const auto began = Clock::now();
        std::memcpy(through.data(), from.data(), from.size() * sizeof(float));
        std::memcpy(to.data(), through.data(), through.size() * sizeof(float));
        from[0] = to[from.size() - 1]; // the copies are not optimised away
        const auto took = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - began).count());
        if (took > mLongest.load(std::memory_order_relaxed)) {
            mLongest.store(took, std::memory_order_relaxed);
        }
        mCpuNanoseconds.store(threadCpuNanoseconds(), std::memory_order_relaxed);
    }
}

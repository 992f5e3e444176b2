#pragma once

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

// Notes when this machine held a thread at the highest real-time priority
// off the CPU: it wakes every millisecond, and a wake that came more than
// `kStall` late means that nothing here could run in time, the audio server
// and our audio threads included (a hypervisor taking the CPU away, say).
// Without real-time priority it watches nothing: an ordinary thread's late
// wakes prove only that others ran.
class MachineStallWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kStall{4};

    MachineStallWatch() : mThread([this] { run(); }) {}
    ~MachineStallWatch() {
        mStop = true;
        mThread.join();
    }
    MachineStallWatch(const MachineStallWatch&) = delete;
    MachineStallWatch& operator=(const MachineStallWatch&) = delete;

    bool watching() const { return mRealTime.load(); }

    // Where the stalls came, in seconds after `from`.
    std::vector<double> stallsSince(Clock::time_point from) const {
        std::lock_guard<std::mutex> lock(mMutex);
        std::vector<double> seconds;
        for (const Clock::time_point at : mStalls) {
            if (at >= from) {
                seconds.push_back(std::chrono::duration<double>(at - from).count());
            }
        }
        return seconds;
    }

private:
    void run() {
        sched_param parameters{};
        parameters.sched_priority = sched_get_priority_max(SCHED_FIFO);
        mRealTime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0;
        if (!mRealTime) {
            return;
        }
        constexpr std::chrono::milliseconds kPeriod{1};
        auto due = Clock::now() + kPeriod;
        while (!mStop.load()) {
            std::this_thread::sleep_until(due);
            const auto woke = Clock::now();
            if (woke - due > kStall) {
                std::lock_guard<std::mutex> lock(mMutex);
                mStalls.push_back(due);
            }
            due = woke + kPeriod;
        }
    }

    std::atomic<bool> mStop{false};
    std::atomic<bool> mRealTime{false};
    mutable std::mutex mMutex;
    std::vector<Clock::time_point> mStalls;
    std::thread mThread;
};

#include "AudioServerTools.h"
#include "platform/audio/AudioHardwareService.h"
#include "platform/audio/AudioUnitService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

// What an input unit's callbacks cost their thread, as the benchmarks judge
// them: a callback that sleeps counts as one that waited, one that computes
// shows its CPU time, and no callback used more CPU than it took.

namespace {

using namespace std::chrono_literals;

uint64_t threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

class CostedInput {
public:
    static constexpr int kSleeping = 10;  // this callback sleeps 5 ms
    static constexpr int kComputing = 20; // this one computes for 3 ms of CPU
    static constexpr int kEnough = 30;

    explicit CostedInput(AudioDeviceID source)
        : mUnit(AudioServerTools::openMonoInputUnit(source, &CostedInput::captured, this, mRate)) {
        const uint32_t measure = 1;
        EXPECT_EQ(AudioUnitSetProperty(mUnit, kPulseAudioUnitProperty_MeasureCallbackCost,
                                       kAudioUnitScope_Global, 0, &measure, sizeof(measure)),
                  0);
        EXPECT_EQ(AudioOutputUnitStart(mUnit), 0);
    }
    ~CostedInput() {
        AudioOutputUnitStop(mUnit);
        AudioComponentInstanceDispose(mUnit);
    }

    bool waitForEnough() const {
        for (int i = 0; i < 500 && mCallbacks.load() < kEnough; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return mCallbacks.load() >= kEnough;
    }

    PulseCallbackCost cost() const {
        PulseCallbackCost cost{};
        uint32_t size = sizeof(cost);
        EXPECT_EQ(AudioUnitGetProperty(mUnit, kPulseAudioUnitProperty_CallbackCost,
                                       kAudioUnitScope_Global, 0, &cost, &size),
                  0);
        return cost;
    }
    uint64_t longest() const {
        uint64_t longest = 0;
        uint32_t size = sizeof(longest);
        AudioUnitGetProperty(mUnit, kPulseAudioUnitProperty_LongestCallback, kAudioUnitScope_Global,
                             0, &longest, &size);
        return longest;
    }

private:
    static OSStatus captured(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                             uint32_t, uint32_t, AudioBufferList*) {
        auto* self = static_cast<CostedInput*>(refCon);
        const int callback = ++self->mCallbacks;
        if (callback == kSleeping) {
            std::this_thread::sleep_for(5ms);
        } else if (callback == kComputing) {
            const uint64_t until = threadCpuNanoseconds() + 3'000'000;
            while (threadCpuNanoseconds() < until) {
            }
        }
        return 0;
    }

    double mRate = 48000; // set as the unit is opened, so before it
    AudioUnit mUnit = nullptr;
    std::atomic<int> mCallbacks{0};
};

TEST(CallbackCost, SleepingIsWaitingAndComputingIsCpuTime) {
    const CostedInput input(AudioServerTools::waitForDevice("cassora_sine"));
    ASSERT_TRUE(input.waitForEnough());
    const PulseCallbackCost cost = input.cost();
    EXPECT_EQ(cost.callbacksThatWaited, 1u) << "only the sleeping callback waited";
    EXPECT_GE(cost.longestCpuNanoseconds, 2'900'000u) << "the computing callback's 3 ms";
    EXPECT_LT(cost.longestCpuNanoseconds, 50'000'000u);
    EXPECT_GE(input.longest(), cost.longestCpuNanoseconds);
    EXPECT_LE(cost.cpuOfLongestNanoseconds, input.longest());
}

} // namespace

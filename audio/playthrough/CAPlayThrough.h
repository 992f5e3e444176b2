#pragma once

#include "audio/playthrough/PlayThroughFillTracker.h"
#include "audio/playthrough/PlayThroughRingBuffer.h"
#include "platform/audio/AudioUnitService.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

// What the play-through needs to know about one of its devices.
struct PlayThroughDevice {
    AudioDeviceID deviceID = kAudioObjectUnknown; // 0: the system default, once chosen
    bool isInput = false;
    uint32_t safetyOffset = 0;     // frames
    uint32_t bufferSizeFrames = 0; // frames
    AudioStreamBasicDescription format{};

    // Reads the device's safety offset, buffer size and stream format (for a
    // device other than 0).
    void Init(AudioDeviceID device, bool input);
};

// Live monitoring of an input device on an output device, in software:
//
//   input device -> input unit -> one float buffer a channel -> ring buffer
//   (by input sample time) -> varispeed (at the ratio of the two devices'
//   clock rates) -> output unit on the output device.
//
// The output reads the ring `inToOutSampleOffset` frames behind its own time
// line. The offset starts as the through-latency of the two devices, lined
// up at the first output cycle, and moves whenever a read misses: back by at
// least 128 frames when the output runs ahead of the input, forward by the
// shortfall when it has fallen behind what the ring still holds.
//
// The offset also moves forward when the output has fallen behind for good
// without missing: after a stall of the output, which the device played as
// silence, a fill tracker finds the lasting excess and it is skipped.
//
// Construction builds and initializes everything without starting; a step
// that fails prints "CAPlayThrough Error: STATUS ->  CAPlayThrough:  STEP"
// and leaves an object whose initStatus() is that status and that never
// starts. Start, stop and destruction run on one thread at a time (the
// host serialises them).
class CAPlayThrough {
public:
    CAPlayThrough(AudioDeviceID input, AudioDeviceID output,
                  std::optional<std::vector<int32_t>> channelMap);
    ~CAPlayThrough();
    CAPlayThrough(const CAPlayThrough&) = delete;
    CAPlayThrough& operator=(const CAPlayThrough&) = delete;

    OSStatus initStatus() const { return mInitStatus; }
    OSStatus Start();
    OSStatus Stop();
    bool IsRunning();

    AudioDeviceID GetInputDeviceID() const { return mInputDevice.deviceID; }
    AudioDeviceID GetOutputDeviceID() const { return mOutputDevice.deviceID; }
    const PlayThroughDevice& inputDevice() const { return mInputDevice; }
    const PlayThroughDevice& outputDevice() const { return mOutputDevice; }
    const std::optional<std::vector<int32_t>>& channelMap() const { return mChannelMap; }
    // Whether a device's stream went away under a running play-through.
    bool StreamLost();

    // For measuring: how far (frames) the output reads behind the input's
    // newest frame, the offset now, the misses so far and the callbacks'
    // times (ns).
    struct Statistics {
        double offset = 0;
        int64_t fill = 0; // frames the ring holds ahead of the read point
        uint64_t misses = 0;
        uint64_t longestInputCallback = 0;
        uint64_t longestOutputCallback = 0;
        PulseCallbackHistogram inputCallbacks{};
        PulseCallbackHistogram outputCallbacks{};
        float varispeedRate = 1.0f;
        uint64_t realignments = 0; // lasting excesses skipped
        int64_t floorBaseline = -1; // frames; -1 until the first seconds are measured
    };
    Statistics statistics();

    // The offset arithmetic. The offset at the first output cycle:
    static double InitialOffset(double throughLatency, double firstInputTime,
                                double firstOutputTime);
    // The offset after a read of `frames` frames at `requestedStart` missed
    // the stored range [start, end) with ring code `code`. A read that fell
    // behind the ring moves forward to `distance` frames behind its
    // end (at least a minimum step inside the ring), rather than to the
    // ring's oldest frame, where the next cycle would miss again.
    static double CorrectedOffset(double offset, int32_t code, int64_t requestedStart,
                                  uint32_t frames, int64_t start, int64_t end, double distance);
    static constexpr double kMinimumCorrection = 128.0;

private:
    OSStatus SetupAUHAL(AudioDeviceID input);
    OSStatus SetupGraph(AudioDeviceID output);
    OSStatus SetupBuffers();
    OSStatus EnableIO();
    OSStatus CallbackSetup();
    OSStatus SetInputDeviceAsCurrent(AudioDeviceID input);
    OSStatus SetOutputDeviceAsCurrent(AudioDeviceID output);
    OSStatus MakeGraph();
    void Cleanup();
    // Prints an error of a callback, kept until now because the I/O threads
    // do not print.
    void ReportCallbackError();

    static OSStatus InputProc(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                              const AudioTimeStamp* inTimeStamp, uint32_t inBusNumber,
                              uint32_t inNumberFrames, AudioBufferList* ioData);
    static OSStatus OutputProc(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                               const AudioTimeStamp* inTimeStamp, uint32_t inBusNumber,
                               uint32_t inNumberFrames, AudioBufferList* ioData);
    void NoteCallbackError(OSStatus status, int step);
    // Output thread: the fill after a read at output time `now`.
    void TrackFill(double now, int64_t fill);
    // Output thread: after a miss moved the offset by `correction` (code's
    // sign `direction`).
    void NoteMissCorrection(int32_t direction, double correction);

    AudioUnit mInputUnit = nullptr;
    AudioBufferList* mInputBuffer = nullptr;
    std::vector<float> mInputBufferData;
    PlayThroughDevice mInputDevice;
    PlayThroughDevice mOutputDevice;
    PlayThroughRingBuffer* mBuffer = nullptr;

    AUGraph mGraph = nullptr;
    AUNode mVarispeedNode = 0;
    AudioUnit mVarispeedUnit = nullptr;
    AUNode mOutputNode = 0;
    AudioUnit mOutputUnit = nullptr;

    std::atomic<double> mFirstInputTime{-1.0};
    std::atomic<double> mFirstOutputTime{-1.0};
    std::atomic<double> mInToOutSampleOffset{0.0};
    double mThroughLatency = 0; // frames
    // How far (frames) the read point is put behind the ring's newest frame
    // when it is set anew: the frames a cycle of each side may still owe.
    double mResyncDistance = 0;
    std::optional<std::vector<int32_t>> mChannelMap;
    OSStatus mInitStatus = 0;

    PlayThroughFillTracker mFillTracker; // output thread only
    std::atomic<int64_t> mFloorBaseline{-1};
    std::atomic<uint64_t> mRealignments{0};

    std::atomic<int64_t> mLastReadStart{0};
    std::atomic<uint64_t> mMisses{0};
    std::atomic<float> mVarispeedRate{1.0f};
    // The first error of a callback since the last report: status, step.
    std::atomic<int64_t> mPendingError{0};
};

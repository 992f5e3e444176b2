#pragma once

#include "audio/playthrough/PlayThroughDeliveryClock.h"
#include "audio/playthrough/PlayThroughPaceControl.h"
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
//   (by input frame) -> varispeed -> output unit on the output device.
//
// The input's frames are stamped with their count, so the ring holds them
// by the position they arrived at, however they were cut up. The output
// reads the ring continuously, `inToOutSampleOffset` frames behind the
// varispeed's own count of input frames taken; the offset is set once, when
// the first output cycle finds enough in the ring, and afterwards moves only
// by what a late read waited for (no frame is heard twice) or by a lasting
// excess that is skipped. The varispeed plays at the ratio of the input's
// rate, measured from the frames it really delivers, to the output device's
// rate, trimmed by a pace control that keeps a small margin of frames ahead
// of each read.
//
// One or two of the input's channels are monitored, on a stereo (or mono)
// output: a single channel is heard on both sides.
//
// Construction builds and initializes everything without starting; a step
// that fails prints "CAPlayThrough Error: STATUS ->  CAPlayThrough:  STEP"
// and leaves an object whose initStatus() is that status (initStep() the
// step) and that never starts. Start, stop and destruction run on one
// thread at a time (the host serialises them).
class CAPlayThrough {
public:
    CAPlayThrough(AudioDeviceID input, AudioDeviceID output,
                  std::optional<std::vector<int32_t>> channelMap);
    ~CAPlayThrough();
    CAPlayThrough(const CAPlayThrough&) = delete;
    CAPlayThrough& operator=(const CAPlayThrough&) = delete;

    OSStatus initStatus() const { return mInitStatus; }
    // The step that failed first (its number as printed), 0 if none.
    int initStep() const { return mFailedStep; }
    // The step at which the last Start failed, 0 if it did not.
    int startStep() const { return mStartFailedStep; }
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
    // newest frame, the offset now, the late reads so far and the
    // callbacks' times (ns).
    struct Statistics {
        double offset = 0;
        int64_t fill = 0; // frames the ring holds ahead of the read point
        uint64_t misses = 0;
        uint64_t longestInputCallback = 0;
        uint64_t longestOutputCallback = 0;
        PulseCallbackHistogram inputCallbacks{};
        PulseCallbackHistogram outputCallbacks{};
        float varispeedRate = 1.0f;
        uint64_t realignments = 0;               // lasting excesses skipped
        int64_t leastFill = -1;                  // of the pace control's last window; -1 before one
        int64_t margin = 0;                      // the least fill the pace control keeps
        uint64_t outputUnderruns = 0;            // times the output device found nothing to play
        PulseOutputBufferRequest outputBuffer{}; // what the output asked the server for
    };
    Statistics statistics();

    // The device channels monitored for a chosen channel map on a device of
    // `deviceChannels` channels: the first two of the chosen channels that
    // the device has, else its first two (or one).
    static std::vector<int32_t> MonitoredChannels(const std::optional<std::vector<int32_t>>& map,
                                                  uint32_t deviceChannels);

    // The offset after a read of `frames` frames at `requestedStart` missed
    // the stored range [start, end) with ring code `code`. A read that ran
    // past the newest frame waits for the rest: the next one starts right
    // after the last frame it found. A read that fell behind the ring moves
    // forward to `distance` frames behind its end (at least a minimum step
    // inside the ring), rather than to the ring's oldest frame, where the
    // next cycle would miss again.
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
    // Runs `call`; on failure prints it under `step`, keeps the first
    // failed step and returns the status.
    template <typename Call>
    OSStatus Checked(int step, Call&& call);
    // Output thread: the fill after a read at input time `now`.
    void TrackFill(double now, int64_t fill);
    // Output thread: the first cycle places the read point.
    bool PlaceReadPoint(double now, uint32_t frames);
    // Output thread: whether this cycle is silent, catching up after the
    // output device ran dry (see the definition).
    bool CatchingUpAfterUnderrun(double now, uint32_t frames);
    void SkipWhatTheGapWasDue(uint64_t host);
    void NoteCycleWait(uint64_t host);
    // A count the output unit keeps (a uint64_t property).
    uint64_t OutputCount(uint32_t property);
    // Output thread: after a read at `readStart` that missed with `code`.
    void CorrectMiss(int32_t code, int64_t readStart, uint32_t frames);
    void CorrectLateRead(int64_t readStart, uint32_t frames, int64_t playedEnd);
    // Output thread: silences what a read at `readStart` holds of frames
    // already played, and notes how far it played (`playedEnd`).
    void KeepFramesUnrepeated(AudioBufferList* data, int64_t readStart, uint32_t frames,
                              int64_t playedEnd);

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
    // How far (frames) the read point is put behind the ring's newest frame
    // when it is set anew: the margin and a delivery still to come.
    double mStartDistance = 0;
    double mInputRate = 48000;                       // frames a second
    std::optional<std::vector<int32_t>> mChannelMap; // as asked for
    OSStatus mInitStatus = 0;
    int mFailedStep = 0;
    int mStartFailedStep = 0;

    PlayThroughDeliveryClock mDeliveryClock; // fed by the input thread
    PlayThroughPaceControl mPace;            // output thread, but for noteDelivery
    std::atomic<int64_t> mLeastFill{-1};
    std::atomic<int64_t> mMargin{0};
    std::atomic<uint64_t> mRealignments{0};

    std::atomic<int64_t> mLastReadStart{0};
    uint64_t mUnderrunsSeen = 0; // output thread: the output device's underruns handled
    uint64_t mCatchUpUntil = 0;  // output thread: host time (ns) a catch-up ends; 0: none
    // Output thread: host times (ns) of the last cycle and of the longest
    // recent wait between two, and that wait.
    uint64_t mLastCycleHost = 0;
    uint64_t mLongestCycleWaitAt = 0;
    uint64_t mLongestCycleWait = 0;
    double mOutputBufferSeconds = 0; // what the output keeps ahead of the device
    int64_t mNextUnplayed = 0;       // output thread: the input frame after the last one played
    std::atomic<uint64_t> mMisses{0};
    std::atomic<float> mVarispeedRate{1.0f};
    // The first error of a callback since the last report: status, step.
    std::atomic<int64_t> mPendingError{0};
};

#pragma once

#include "platform/audio/AudioUnitTypes.h"
#include "platform/audio/DeviceClock.h"

#include <pulse/pulseaudio.h>

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

// The base of the service's units: properties the units share, property
// listeners, and the graph connection a unit pulls its input from.
class PulseAudioUnit {
public:
    virtual ~PulseAudioUnit();

    virtual OSStatus setProperty(uint32_t property, uint32_t scope, uint32_t element,
                                 const void* data, uint32_t size);
    virtual OSStatus getProperty(uint32_t property, uint32_t scope, uint32_t element, void* outData,
                                 uint32_t* ioSize);
    virtual OSStatus setParameter(uint32_t parameter, uint32_t scope, float value);
    virtual OSStatus getParameter(uint32_t parameter, uint32_t scope, float* outValue);
    virtual OSStatus initialize();
    virtual OSStatus uninitialize();
    virtual OSStatus start() { return kAudioUnitErr_CannotDoInCurrentContext; }
    virtual OSStatus stop() { return kAudioUnitErr_CannotDoInCurrentContext; }
    // Real-time: produces (or, for the input unit, copies) `frames` frames.
    virtual OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                            uint32_t bus, uint32_t frames, AudioBufferList* data) = 0;

    OSStatus addPropertyListener(uint32_t property, AudioUnitPropertyListenerProc proc,
                                 void* refCon);
    OSStatus removePropertyListener(uint32_t property, AudioUnitPropertyListenerProc proc,
                                    void* refCon);

    // The unit this one pulls from, when a graph connects one.
    void setSourceUnit(PulseAudioUnit* source) { mSourceUnit = source; }
    bool isInitialized() const { return mInitialized; }
    bool isRunning() const { return mRunning.load(std::memory_order_acquire); }
    // Whether the unit stopped because its device or the server went away.
    bool streamLost() const { return mStreamLost.load(std::memory_order_relaxed); }
    AudioUnit handle() { return reinterpret_cast<AudioUnit>(this); }

protected:
    // What a unit's stream on the server is.
    struct StreamRequest {
        const char* name;
        bool record; // a record stream on a source, else playback on a sink
        std::string device;
        AudioDeviceID deviceID; // whose clock the stream's callbacks feed
        pa_sample_spec spec;
        pa_channel_map map;
        pa_buffer_attr attributes;
    };
    // Starts the unit: creates and connects `mStream` (after `attachCallbacks`)
    // and waits until it is ready. An already running unit stays as it is.
    OSStatus startStream(const StreamRequest& request);
    // Stops the unit; when this returns, none of its callbacks runs again.
    OSStatus stopStream();
    // Installs the stream's I/O callback, with the loop locked.
    virtual void attachCallbacks(pa_stream*) {}

    // Real-time: pulls input from the render callback or the source unit.
    OSStatus pullInput(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                       uint32_t frames, AudioBufferList* data);
    void setRunning(bool running);
    // What a callback's thread has used and done so far, while the cost is
    // measured: read at a callback's start and passed to
    // noteCallbackDuration at its end. Real-time: system calls that never
    // wait.
    struct ThreadUse {
        bool measured = false;
        uint64_t cpuNanoseconds = 0;
        uint64_t waits = 0; // voluntary context switches
    };
    ThreadUse threadUse() const;
    // Real-time: records how long a callback took, and what it cost its
    // thread since `before`.
    void noteCallbackDuration(uint64_t nanoseconds, const ThreadUse& before);
    // Real-time: frame `sampleTime` of the stream passes at `hostTime`; it
    // times the device's clock.
    void offerDeviceTime(double sampleTime, uint64_t hostTime) {
        DeviceClocks::offer(mClockSlot.load(std::memory_order_relaxed), this, sampleTime, hostTime);
    }
    const AudioStreamBasicDescription& format(uint32_t scope) const;

    AudioStreamBasicDescription mInputFormat{};
    AudioStreamBasicDescription mOutputFormat{};
    AURenderCallbackStruct mRenderCallback{nullptr, nullptr};
    PulseAudioUnit* mSourceUnit = nullptr;
    uint32_t mMaximumFramesPerSlice = 512;
    bool mInitialized = false;
    pa_stream* mStream = nullptr;

private:
    struct Listener {
        uint32_t property;
        AudioUnitPropertyListenerProc proc;
        void* refCon;
    };
    void notifyListeners(uint32_t property);
    static void streamStateChanged(pa_stream* stream, void* userData);

    void detachClock();
    void forgetCallbackFigures();

    std::atomic<DeviceClockSlot*> mClockSlot{nullptr};
    std::atomic<bool> mRunning{false};
    std::atomic<bool> mStreamLost{false};
    std::atomic<uint64_t> mLongestCallback{0};
    std::atomic<bool> mMeasuringCost{false};
    std::atomic<uint64_t> mLongestCallbackCpu{0};
    std::atomic<uint64_t> mCpuOfLongestCallback{0};
    std::atomic<uint64_t> mCallbacksThatWaited{0};
    std::array<std::atomic<uint64_t>, kPulseCallbackBuckets> mCallbackCounts{};
    std::mutex mListenerLock;
    std::vector<Listener> mListeners;
    std::mutex mDispatchLock; // held while listeners run
};

// Float, one buffer per channel.
bool isClientFormat(const AudioStreamBasicDescription& format);
// Waits (with the main loop locked) until a new stream is ready or failed.
bool waitUntilStreamReady(pa_threaded_mainloop* mainloop, pa_stream* stream);
// Disconnects and releases a stream (locking the main loop unless called on
// its thread); when this returns, none of the stream's callbacks runs again.
void closeStream(pa_threaded_mainloop* mainloop, pa_stream*& stream);

#include "audio/playthrough/CAPlayThrough.h"

#include "platform/audio/AudioHardwareService.h"
#include "platform/audio/RealtimeScope.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr const char* kUnitName = "CAPlayThrough";

void report(OSStatus status, int step) {
    std::printf("CAPlayThrough Error: %d ->  %s:  %d\n", static_cast<int>(status), kUnitName, step);
    std::fflush(stdout);
}

// Runs `call`; on failure reports it under `step` and returns its status.
template <typename Call>
OSStatus checked(int step, Call&& call) {
    const OSStatus status = call();
    if (status != 0) {
        report(status, step);
    }
    return status;
}

template <typename T>
OSStatus readDeviceProperty(AudioDeviceID device, uint32_t selector, uint32_t scope, T& value) {
    const AudioObjectPropertyAddress address{selector, scope, kAudioObjectPropertyElementMain};
    uint32_t size = sizeof(T);
    return AudioObjectGetPropertyData(device, &address, 0, nullptr, &size, &value);
}

AudioStreamBasicDescription clientFormat(uint32_t channels, double sampleRate) {
    AudioStreamBasicDescription format{};
    format.mSampleRate = sampleRate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    format.mBytesPerPacket = sizeof(float);
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = sizeof(float);
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = 32;
    return format;
}

// Real-time: no allocation, no locks.
void silence(AudioBufferList* list) {
    for (uint32_t b = 0; b < list->mNumberBuffers; ++b) {
        if (list->mBuffers[b].mData) {
            std::memset(list->mBuffers[b].mData, 0, list->mBuffers[b].mDataByteSize);
        }
    }
}

} // namespace

void PlayThroughDevice::Init(AudioDeviceID device, bool input) {
    deviceID = device;
    isInput = input;
    if (device == kAudioObjectUnknown) {
        return;
    }
    // Statuses ignored: a device that has gone leaves zeros here and fails
    // at the unit that is bound to it.
    readDeviceProperty(device, kAudioDevicePropertySafetyOffset, kAudioObjectPropertyScopeGlobal,
                       safetyOffset);
    readDeviceProperty(device, kAudioDevicePropertyBufferFrameSize, kAudioObjectPropertyScopeGlobal,
                       bufferSizeFrames);
    readDeviceProperty(device, kAudioDevicePropertyStreamFormat,
                       input ? kAudioObjectPropertyScopeInput : kAudioObjectPropertyScopeOutput,
                       format);
}

CAPlayThrough::CAPlayThrough(AudioDeviceID input, AudioDeviceID output,
                             std::optional<std::vector<int32_t>> channelMap) {
    if (channelMap && !channelMap->empty()) {
        mChannelMap = std::move(channelMap);
    }
    OSStatus status = checked(158, [&] { return SetupAUHAL(input); });
    if (status == 0) {
        status = checked(162, [&] { return SetupGraph(output); });
    }
    if (status == 0) {
        status = checked(165, [&] { return SetupBuffers(); });
    }
    if (status == 0) {
        status = checked(169, [&] {
            return AUGraphConnectNodeInput(mGraph, mVarispeedNode, 0, mOutputNode, 0);
        });
    }
    if (status == 0) {
        status = checked(172, [&] { return AUGraphInitialize(mGraph); });
    }
    // Frames from a sample entering the input to its leaving the output.
    // The server reports a device's whole adjustable buffer as its latency
    // (seconds for an idle null sink); the streams here ask for short
    // buffers, so no more than one device buffer of it is a margin we wait
    // for.
    auto margin = [](const PlayThroughDevice& device) {
        return std::min(device.safetyOffset, device.bufferSizeFrames);
    };
    mThroughLatency = static_cast<double>(margin(mInputDevice)) + mInputDevice.bufferSizeFrames +
                      margin(mOutputDevice) + mOutputDevice.bufferSizeFrames;
    mInToOutSampleOffset.store(mThroughLatency);
    // The devices' own latencies lie outside the ring: it has to cover only
    // an input buffer still to come and an output cycle's pull.
    mResyncDistance =
        static_cast<double>(mInputDevice.bufferSizeFrames) + mOutputDevice.bufferSizeFrames;
    // The least fill of a second moves by up to a buffer of either side
    // (in input frames) with the way the two sides' cycles fall.
    const double inputRate = mInputDevice.format.mSampleRate > 0 ? mInputDevice.format.mSampleRate
                                                                 : 48000.0;
    const double outputRate =
        mOutputDevice.format.mSampleRate > 0 ? mOutputDevice.format.mSampleRate : inputRate;
    mFillTracker.configure(
        inputRate, static_cast<int64_t>(std::max<double>(mInputDevice.bufferSizeFrames,
                                                         mOutputDevice.bufferSizeFrames *
                                                             inputRate / outputRate) +
                                        kMinimumCorrection));
    mInitStatus = status;
}

CAPlayThrough::~CAPlayThrough() {
    Cleanup();
}

void CAPlayThrough::Cleanup() {
    Stop();
    delete mBuffer;
    mBuffer = nullptr;
    ::operator delete(mInputBuffer);
    mInputBuffer = nullptr;
    mInputBufferData.clear();
    if (mInputUnit) {
        AudioUnitUninitialize(mInputUnit);
        AudioComponentInstanceDispose(mInputUnit);
        mInputUnit = nullptr;
    }
    if (mGraph) {
        AUGraphClose(mGraph);
        DisposeAUGraph(mGraph);
        mGraph = nullptr;
    }
    ReportCallbackError();
}

OSStatus CAPlayThrough::SetupAUHAL(AudioDeviceID input) {
    const AudioComponentDescription description{kAudioUnitType_Output, kAudioUnitSubType_HALOutput,
                                                kAudioUnitManufacturer_Apple, 0, 0};
    if (const int16_t found = AudioComponentInstanceNew(&description, &mInputUnit); found != 0) {
        mInputUnit = nullptr;
        return found;
    }
    // The unit is initialized once its formats are set (below, with the
    // buffers): ours cannot be initialized without a client format.
    if (const OSStatus status = checked(438, [&] { return EnableIO(); })) {
        return status;
    }
    if (const OSStatus status = checked(441, [&] { return SetInputDeviceAsCurrent(input); })) {
        return status;
    }
    return checked(444, [&] { return CallbackSetup(); });
}

OSStatus CAPlayThrough::EnableIO() {
    const uint32_t enable = 1;
    if (const OSStatus status = checked(472, [&] {
            return AudioUnitSetProperty(mInputUnit, kAudioOutputUnitProperty_EnableIO,
                                        kAudioUnitScope_Input, 1, &enable, sizeof(enable));
        })) {
        return status;
    }
    const uint32_t disable = 0;
    return AudioUnitSetProperty(mInputUnit, kAudioOutputUnitProperty_EnableIO,
                                kAudioUnitScope_Output, 0, &disable, sizeof(disable));
}

OSStatus CAPlayThrough::SetInputDeviceAsCurrent(AudioDeviceID input) {
    if (input == kAudioObjectUnknown) {
        const AudioObjectPropertyAddress address{kAudioHardwarePropertyDefaultInputDevice,
                                                 kAudioObjectPropertyScopeGlobal,
                                                 kAudioObjectPropertyElementMain};
        uint32_t size = sizeof(input);
        if (const OSStatus status = checked(299, [&] {
                const OSStatus read = AudioObjectGetPropertyData(kAudioObjectSystemObject, &address,
                                                                 0, nullptr, &size, &input);
                return read != 0
                           ? read
                           : (input == kAudioObjectUnknown ? kAudioHardwareBadDeviceError : 0);
            })) {
            return status;
        }
    }
    mInputDevice.Init(input, true);
    return checked(312, [&] {
        return AudioUnitSetProperty(mInputUnit, kAudioOutputUnitProperty_CurrentDevice,
                                    kAudioUnitScope_Global, 0, &mInputDevice.deviceID,
                                    sizeof(mInputDevice.deviceID));
    });
}

OSStatus CAPlayThrough::CallbackSetup() {
    const AURenderCallbackStruct callback{&CAPlayThrough::InputProc, this};
    return checked(500, [&] {
        return AudioUnitSetProperty(mInputUnit, kAudioOutputUnitProperty_SetInputCallback,
                                    kAudioUnitScope_Global, 0, &callback, sizeof(callback));
    });
}

OSStatus CAPlayThrough::SetupGraph(AudioDeviceID output) {
    if (const OSStatus status = checked(325, [&] { return NewAUGraph(&mGraph); })) {
        return status;
    }
    if (const OSStatus status = checked(329, [&] { return AUGraphOpen(mGraph); })) {
        return status;
    }
    if (const OSStatus status = checked(332, [&] { return MakeGraph(); })) {
        return status;
    }
    if (const OSStatus status = checked(335, [&] { return SetOutputDeviceAsCurrent(output); })) {
        return status;
    }
    const uint32_t atZero = 0;
    if (const OSStatus status = checked(346, [&] {
            return AudioUnitSetProperty(mOutputUnit, kAudioOutputUnitProperty_StartTimestampsAtZero,
                                        kAudioUnitScope_Global, 0, &atZero, sizeof(atZero));
        })) {
        return status;
    }
    const AURenderCallbackStruct callback{&CAPlayThrough::OutputProc, this};
    return checked(359, [&] {
        return AudioUnitSetProperty(mVarispeedUnit, kAudioUnitProperty_SetRenderCallback,
                                    kAudioUnitScope_Input, 0, &callback, sizeof(callback));
    });
}

OSStatus CAPlayThrough::MakeGraph() {
    const AudioComponentDescription varispeed{kAudioUnitType_FormatConverter,
                                              kAudioUnitSubType_Varispeed,
                                              kAudioUnitManufacturer_Apple, 0, 0};
    if (const OSStatus status =
            checked(389, [&] { return AUGraphAddNode(mGraph, &varispeed, &mVarispeedNode); })) {
        return status;
    }
    const AudioComponentDescription output{kAudioUnitType_Output, kAudioUnitSubType_DefaultOutput,
                                           kAudioUnitManufacturer_Apple, 0, 0};
    if (const OSStatus status =
            checked(391, [&] { return AUGraphAddNode(mGraph, &output, &mOutputNode); })) {
        return status;
    }
    if (const OSStatus status = checked(395, [&] {
            return AUGraphNodeInfo(mGraph, mVarispeedNode, nullptr, &mVarispeedUnit);
        })) {
        return status;
    }
    return checked(397,
                   [&] { return AUGraphNodeInfo(mGraph, mOutputNode, nullptr, &mOutputUnit); });
}

OSStatus CAPlayThrough::SetOutputDeviceAsCurrent(AudioDeviceID output) {
    if (output == kAudioObjectUnknown) {
        const AudioObjectPropertyAddress address{kAudioHardwarePropertyDefaultOutputDevice,
                                                 kAudioObjectPropertyScopeGlobal,
                                                 kAudioObjectPropertyElementMain};
        uint32_t size = sizeof(output);
        if (const OSStatus status = checked(273, [&] {
                const OSStatus read = AudioObjectGetPropertyData(kAudioObjectSystemObject, &address,
                                                                 0, nullptr, &size, &output);
                return read != 0
                           ? read
                           : (output == kAudioObjectUnknown ? kAudioHardwareBadDeviceError : 0);
            })) {
            return status;
        }
    }
    mOutputDevice.Init(output, false);
    return AudioUnitSetProperty(mOutputUnit, kAudioOutputUnitProperty_CurrentDevice,
                                kAudioUnitScope_Global, 0, &mOutputDevice.deviceID,
                                sizeof(mOutputDevice.deviceID));
}

OSStatus CAPlayThrough::SetupBuffers() {
    uint32_t bufferSizeFrames = 0;
    readDeviceProperty(mInputDevice.deviceID, kAudioDevicePropertyBufferFrameSize,
                       kAudioObjectPropertyScopeGlobal, bufferSizeFrames);
    if (bufferSizeFrames == 0) {
        return kAudioHardwareBadDeviceError; // the device went away meanwhile
    }
    // The device sides are the devices' own formats.
    const AudioStreamBasicDescription& inputSide = mInputDevice.format;
    const AudioStreamBasicDescription& outputSide = mOutputDevice.format;
    const uint32_t channels = std::min(inputSide.mChannelsPerFrame, outputSide.mChannelsPerFrame);
    if (channels == 0) {
        return kAudioUnitErr_FormatNotSupported;
    }

    double inputRate = 0;
    readDeviceProperty(mInputDevice.deviceID, kAudioDevicePropertyNominalSampleRate,
                       kAudioObjectPropertyScopeInput, inputRate);
    AudioStreamBasicDescription format = clientFormat(channels, inputRate);
    if (const OSStatus status = checked(575, [&] {
            return AudioUnitSetProperty(mInputUnit, kAudioUnitProperty_StreamFormat,
                                        kAudioUnitScope_Output, 1, &format, sizeof(format));
        })) {
        return status;
    }
    if (const OSStatus status = checked(577, [&] {
            return AudioUnitSetProperty(mVarispeedUnit, kAudioUnitProperty_StreamFormat,
                                        kAudioUnitScope_Input, 0, &format, sizeof(format));
        })) {
        return status;
    }
    if (mChannelMap) {
        if (const OSStatus status = checked(587, [&] {
                return AudioUnitSetProperty(
                    mInputUnit, kAudioOutputUnitProperty_ChannelMap, kAudioUnitScope_Output, 1,
                    mChannelMap->data(),
                    static_cast<uint32_t>(mChannelMap->size() * sizeof(int32_t)));
            })) {
            return status;
        }
    }

    double outputRate = 0;
    readDeviceProperty(mOutputDevice.deviceID, kAudioDevicePropertyNominalSampleRate,
                       kAudioObjectPropertyScopeOutput, outputRate);
    format = clientFormat(channels, outputRate);
    if (const OSStatus status = checked(600, [&] {
            return AudioUnitSetProperty(mVarispeedUnit, kAudioUnitProperty_StreamFormat,
                                        kAudioUnitScope_Output, 0, &format, sizeof(format));
        })) {
        return status;
    }
    if (const OSStatus status = checked(602, [&] {
            return AudioUnitSetProperty(mOutputUnit, kAudioUnitProperty_StreamFormat,
                                        kAudioUnitScope_Input, 0, &format, sizeof(format));
        })) {
        return status;
    }

    // The varispeed renders the output's slices and pulls up to as many
    // input frames as the rates make of them.
    uint32_t outputSlice = 512;
    uint32_t size = sizeof(outputSlice);
    AudioUnitGetProperty(mOutputUnit, kAudioUnitProperty_MaximumFramesPerSlice,
                         kAudioUnitScope_Global, 0, &outputSlice, &size);
    const double ratio = std::max(std::ceil(inputRate / std::max(outputRate, 1.0)), 1.0);
    const uint32_t varispeedSlice =
        (static_cast<uint32_t>(outputSlice * ratio) + 16) & ~static_cast<uint32_t>(15);
    AudioUnitSetProperty(mVarispeedUnit, kAudioUnitProperty_MaximumFramesPerSlice,
                         kAudioUnitScope_Global, 0, &varispeedSlice, sizeof(varispeedSlice));
    // A short playback buffer: two device buffers ahead of the device.
    const uint32_t target = 2 * std::max<uint32_t>(mOutputDevice.bufferSizeFrames, 64);
    AudioUnitSetProperty(mOutputUnit, kPulseOutputUnitProperty_TargetLatency,
                         kAudioUnitScope_Global, 0, &target, sizeof(target));

    mInputDevice.bufferSizeFrames = bufferSizeFrames;
    mInputBufferData.assign(static_cast<size_t>(bufferSizeFrames) * channels, 0.0f);
    // The list is a block of its own; the samples are in mInputBufferData.
    mInputBuffer = static_cast<AudioBufferList*>(::operator new(AudioBufferListSize(channels)));
    mInputBuffer->mNumberBuffers = channels;
    for (uint32_t c = 0; c < channels; ++c) {
        mInputBuffer->mBuffers[c] = {1, bufferSizeFrames * static_cast<uint32_t>(sizeof(float)),
                                     mInputBufferData.data() +
                                         static_cast<size_t>(c) * bufferSizeFrames};
    }
    mBuffer = new PlayThroughRingBuffer;
    mBuffer->Allocate(channels, format.mBytesPerFrame, bufferSizeFrames * 20);

    // Now that its formats are set, the input unit can be initialized.
    return checked(435, [&] { return AudioUnitInitialize(mInputUnit); });
}

OSStatus CAPlayThrough::Start() {
    if (mInitStatus != 0) {
        return mInitStatus;
    }
    ReportCallbackError();
    if (IsRunning()) {
        return 0;
    }
    mFirstInputTime.store(-1.0);
    mFirstOutputTime.store(-1.0);
    if (const OSStatus status = checked(211, [&] { return AudioOutputUnitStart(mInputUnit); })) {
        return status;
    }
    if (const OSStatus status = checked(214, [&] { return AUGraphStart(mGraph); })) {
        AudioOutputUnitStop(mInputUnit);
        return status;
    }
    return 0;
}

OSStatus CAPlayThrough::Stop() {
    if (!mInputUnit || !mGraph) {
        return 0;
    }
    if (IsRunning()) {
        AudioOutputUnitStop(mInputUnit);
        AUGraphStop(mGraph);
    }
    mFirstInputTime.store(-1.0);
    mFirstOutputTime.store(-1.0);
    ReportCallbackError();
    return 0;
}

bool CAPlayThrough::IsRunning() {
    uint32_t inputRunning = 0;
    uint32_t outputRunning = 0;
    uint32_t size = sizeof(uint32_t);
    if (mInputUnit) {
        AudioUnitGetProperty(mInputUnit, kAudioOutputUnitProperty_IsRunning, kAudioUnitScope_Global,
                             0, &inputRunning, &size);
    }
    size = sizeof(uint32_t);
    if (mOutputUnit) {
        AudioUnitGetProperty(mOutputUnit, kAudioOutputUnitProperty_IsRunning,
                             kAudioUnitScope_Global, 0, &outputRunning, &size);
    }
    ReportCallbackError();
    return inputRunning != 0 || outputRunning != 0;
}

bool CAPlayThrough::StreamLost() {
    for (AudioUnit unit : {mInputUnit, mOutputUnit}) {
        uint32_t lost = 0;
        uint32_t size = sizeof(lost);
        if (unit &&
            AudioUnitGetProperty(unit, kPulseAudioUnitProperty_StreamLost, kAudioUnitScope_Global,
                                 0, &lost, &size) == 0 &&
            lost) {
            return true;
        }
    }
    return false;
}

CAPlayThrough::Statistics CAPlayThrough::statistics() {
    Statistics result;
    result.offset = mInToOutSampleOffset.load();
    result.misses = mMisses.load();
    result.varispeedRate = mVarispeedRate.load();
    result.realignments = mRealignments.load();
    result.floorBaseline = mFloorBaseline.load();
    int64_t start = 0;
    int64_t end = 0;
    if (mBuffer && mBuffer->CurrentTimeBounds(start, end) == 0) {
        result.fill = end - mLastReadStart.load();
    }
    uint32_t size = sizeof(uint64_t);
    if (mInputUnit) {
        AudioUnitGetProperty(mInputUnit, kPulseAudioUnitProperty_LongestCallback,
                             kAudioUnitScope_Global, 0, &result.longestInputCallback, &size);
        size = sizeof(PulseCallbackHistogram);
        AudioUnitGetProperty(mInputUnit, kPulseAudioUnitProperty_CallbackHistogram,
                             kAudioUnitScope_Global, 0, &result.inputCallbacks, &size);
    }
    size = sizeof(uint64_t);
    if (mOutputUnit) {
        AudioUnitGetProperty(mOutputUnit, kPulseAudioUnitProperty_LongestCallback,
                             kAudioUnitScope_Global, 0, &result.longestOutputCallback, &size);
        size = sizeof(PulseCallbackHistogram);
        AudioUnitGetProperty(mOutputUnit, kPulseAudioUnitProperty_CallbackHistogram,
                             kAudioUnitScope_Global, 0, &result.outputCallbacks, &size);
    }
    return result;
}

double CAPlayThrough::InitialOffset(double throughLatency, double firstInputTime,
                                    double firstOutputTime) {
    return throughLatency - (firstInputTime - firstOutputTime);
}

double CAPlayThrough::CorrectedOffset(double offset, int32_t code, int64_t requestedStart,
                                      uint32_t frames, int64_t start, int64_t end,
                                      double distance) {
    if (code < 0) {
        // The output has fallen behind what the ring still holds: move the
        // read point forward by the shortfall and on to the usual distance
        // behind the input, staying a minimum step inside the stored range.
        const double lowest = static_cast<double>(start) + kMinimumCorrection;
        const double highest = static_cast<double>(end) - frames;
        const double target =
            std::max(lowest, std::min(highest, static_cast<double>(end) - frames - distance));
        return offset - (target - static_cast<double>(requestedStart));
    }
    // The output has run ahead of the input: read further behind it.
    const double shortfall = static_cast<double>(requestedStart + frames - end);
    return offset + std::max(kMinimumCorrection, shortfall);
}

// Output thread. A read that fell out of the ring's back was set anew at a
// distance behind the input: the fill is measured again from there.
void CAPlayThrough::NoteMissCorrection(int32_t direction, double correction) {
    if (direction < 0) {
        mFillTracker.restart();
    } else {
        mFillTracker.noteMarginAdded(static_cast<int64_t>(correction));
    }
    mFloorBaseline.store(mFillTracker.baseline(), std::memory_order_relaxed);
}

// Output thread. Real-time: no allocation, no locks.
void CAPlayThrough::TrackFill(double now, int64_t fill) {
    const int64_t skip = mFillTracker.track(now, fill);
    mFloorBaseline.store(mFillTracker.baseline(), std::memory_order_relaxed);
    if (skip > 0) {
        mInToOutSampleOffset.store(mInToOutSampleOffset.load(std::memory_order_relaxed) -
                                       static_cast<double>(skip),
                                   std::memory_order_relaxed);
        mRealignments.fetch_add(1, std::memory_order_relaxed);
    }
}

void CAPlayThrough::NoteCallbackError(OSStatus status, int step) {
    int64_t expected = 0;
    const int64_t packed = (static_cast<int64_t>(step) << 32) | static_cast<uint32_t>(status);
    mPendingError.compare_exchange_strong(expected, packed, std::memory_order_relaxed);
}

void CAPlayThrough::ReportCallbackError() {
    const int64_t packed = mPendingError.exchange(0, std::memory_order_relaxed);
    if (packed != 0) {
        report(static_cast<OSStatus>(static_cast<uint32_t>(packed & 0xffffffff)),
               static_cast<int>(packed >> 32));
    }
}

// Real-time: no allocation, no locks.
OSStatus CAPlayThrough::InputProc(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                  const AudioTimeStamp* inTimeStamp, uint32_t,
                                  uint32_t inNumberFrames, AudioBufferList*) {
    RealtimeScope realtime;
    auto* self = static_cast<CAPlayThrough*>(inRefCon);
    if (self->mFirstInputTime.load(std::memory_order_relaxed) < 0) {
        self->mFirstInputTime.store(inTimeStamp->mSampleTime, std::memory_order_relaxed);
    }
    AudioBufferList* list = self->mInputBuffer;
    for (uint32_t c = 0; c < list->mNumberBuffers; ++c) {
        list->mBuffers[c].mDataByteSize =
            self->mInputDevice.bufferSizeFrames * static_cast<uint32_t>(sizeof(float));
    }
    const OSStatus status =
        AudioUnitRender(self->mInputUnit, ioActionFlags, inTimeStamp, 1, inNumberFrames, list);
    if (status != 0) {
        self->NoteCallbackError(status, 680);
        return status;
    }
    return self->mBuffer->WriteFrames(list, inNumberFrames,
                                      static_cast<int64_t>(inTimeStamp->mSampleTime));
}

// Real-time: no allocation, no locks.
OSStatus CAPlayThrough::OutputProc(void* inRefCon, AudioUnitRenderActionFlags*,
                                   const AudioTimeStamp* inTimeStamp, uint32_t,
                                   uint32_t inNumberFrames, AudioBufferList* ioData) {
    RealtimeScope realtime;
    auto* self = static_cast<CAPlayThrough*>(inRefCon);
    const double firstInputTime = self->mFirstInputTime.load(std::memory_order_relaxed);
    if (firstInputTime < 0) {
        silence(ioData);
        return 0;
    }
    AudioTimeStamp inputTime{};
    if (AudioDeviceGetCurrentTime(self->mInputDevice.deviceID, &inputTime) != 0) {
        silence(ioData);
        return 0;
    }
    AudioTimeStamp outputTime{};
    if (const OSStatus status =
            AudioDeviceGetCurrentTime(self->mOutputDevice.deviceID, &outputTime);
        status != 0) {
        self->NoteCallbackError(status, 717);
        silence(ioData);
        return status;
    }
    const auto rate = static_cast<float>(inputTime.mRateScalar / outputTime.mRateScalar);
    if (const OSStatus status = AudioUnitSetParameter(
            self->mVarispeedUnit, kVarispeedParam_PlaybackRate, kAudioUnitScope_Global, 0, rate, 0);
        status != 0) {
        self->NoteCallbackError(status, 721);
        silence(ioData);
        return status;
    }
    self->mVarispeedRate.store(rate, std::memory_order_relaxed);

    const double now = inTimeStamp->mSampleTime;
    if (self->mFirstOutputTime.load(std::memory_order_relaxed) < 0) {
        // The first cycle waits for the ring to hold a read's distance: set
        // up earlier, the read point would sit at the ring's oldest frame,
        // where every late input buffer is a miss.
        int64_t start = 0;
        int64_t end = 0;
        if (self->mBuffer->CurrentTimeBounds(start, end) != 0 ||
            static_cast<double>(end - start) <
                self->mResyncDistance + inNumberFrames + kMinimumCorrection) {
            silence(ioData);
            return 0;
        }
        self->mFirstOutputTime.store(now, std::memory_order_relaxed);
        self->mInToOutSampleOffset.store(InitialOffset(self->mThroughLatency, firstInputTime, now),
                                         std::memory_order_relaxed);
        self->mFillTracker.restart();
        self->mFloorBaseline.store(-1, std::memory_order_relaxed);
        silence(ioData);
        return 0;
    }

    const double offset = self->mInToOutSampleOffset.load(std::memory_order_relaxed);
    const auto readStart = static_cast<int64_t>(now - offset);
    self->mLastReadStart.store(readStart + inNumberFrames, std::memory_order_relaxed);
    const int32_t code = self->mBuffer->ReadFrames(ioData, inNumberFrames, readStart);
    int64_t start = 0;
    int64_t end = 0;
    const bool bounded = self->mBuffer->CurrentTimeBounds(start, end) == 0;
    if (code == PlayThroughRingBuffer::OK) {
        if (bounded) {
            self->TrackFill(now, end - (readStart + inNumberFrames));
        }
        return 0;
    }
    if (!bounded) {
        // No consistent bounds to measure by: step back the minimum.
        start = end = readStart + inNumberFrames;
    }
    const int32_t direction = code < 0 ? -1 : 1;
    const double corrected = CorrectedOffset(offset, direction, readStart, inNumberFrames, start,
                                             end, self->mResyncDistance);
    self->mInToOutSampleOffset.store(corrected, std::memory_order_relaxed);
    self->NoteMissCorrection(direction, corrected - offset);
    self->mMisses.fetch_add(1, std::memory_order_relaxed);
    // A read that ran past the newest frame holds every frame up to it in
    // its place, the rest silent: those are played, and the next cycle goes
    // on from there. Any other read holds nothing, or frames that may have
    // been overwritten while it copied them.
    if (code != PlayThroughRingBuffer::EndsLate) {
        silence(ioData);
    }
    return 0;
}

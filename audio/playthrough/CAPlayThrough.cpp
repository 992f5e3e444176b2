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

// How much more than it needs the ring holds, and at least how long: some
// sources deliver seconds at a time (a tone generator, a filter over one).
constexpr uint32_t kRingBuffers = 20;
constexpr double kRingSeconds = 4.0;
// The least the ring keeps ahead of a read, in seconds and frames: room for
// a delivery that comes a little later than the ones before it (on a busy
// machine the server's and our threads are now and then a few
// milliseconds late).
constexpr double kMarginSeconds = 0.008;
constexpr int64_t kLeastMargin = 128;
// After the output device ran dry, how long (ns) the output waits at most,
// silent, for the input's frames it skipped to.
constexpr uint64_t kCatchUpNanoseconds = 100'000'000;
// How far back (ns) the longest wait between output cycles is looked for.
constexpr uint64_t kCycleWaitMemory = 500'000'000;

// The varispeed plays its input untouched at exactly 1 and through a
// converter otherwise; each switch between the two moves the sound by part
// of a frame, a click. The rate here hovers around 1 (two clocks compared),
// so it keeps to the converter: exactly 1 becomes the float just past it,
// on the side the rate came from.
float ConverterRate(double rate, float previous) {
    const auto result = static_cast<float>(rate);
    if (result != 1.0f) {
        return result;
    }
    return std::nextafter(1.0f, previous < 1.0f ? 0.0f : 2.0f);
}

} // namespace

template <typename Call>
OSStatus CAPlayThrough::Checked(int step, Call&& call) {
    const OSStatus status = call();
    if (status != 0) {
        report(status, step);
        if (mFailedStep == 0) {
            mFailedStep = step;
        }
    }
    return status;
}

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
    OSStatus status = Checked(158, [&] { return SetupAUHAL(input); });
    if (status == 0) {
        status = Checked(162, [&] { return SetupGraph(output); });
    }
    if (status == 0) {
        status = Checked(165, [&] { return SetupBuffers(); });
    }
    if (status == 0) {
        status = Checked(169, [&] {
            return AUGraphConnectNodeInput(mGraph, mVarispeedNode, 0, mOutputNode, 0);
        });
    }
    if (status == 0) {
        status = Checked(172, [&] { return AUGraphInitialize(mGraph); });
    }
    mInputRate = mInputDevice.format.mSampleRate > 0 ? mInputDevice.format.mSampleRate : 48000.0;
    const auto margin =
        std::max(kLeastMargin, static_cast<int64_t>(std::lround(kMarginSeconds * mInputRate)));
    mPace.configure(mInputRate, margin);
    mDeliveryClock.reset(mInputRate);
    // A new read point leaves the margin and a whole delivery still to come.
    mStartDistance = static_cast<double>(margin) + mInputDevice.bufferSizeFrames;
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
    if (const OSStatus status = Checked(438, [&] { return EnableIO(); })) {
        return status;
    }
    if (const OSStatus status = Checked(441, [&] { return SetInputDeviceAsCurrent(input); })) {
        return status;
    }
    return Checked(444, [&] { return CallbackSetup(); });
}

OSStatus CAPlayThrough::EnableIO() {
    const uint32_t enable = 1;
    if (const OSStatus status = Checked(472, [&] {
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
        if (const OSStatus status = Checked(299, [&] {
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
    return Checked(312, [&] {
        return AudioUnitSetProperty(mInputUnit, kAudioOutputUnitProperty_CurrentDevice,
                                    kAudioUnitScope_Global, 0, &mInputDevice.deviceID,
                                    sizeof(mInputDevice.deviceID));
    });
}

OSStatus CAPlayThrough::CallbackSetup() {
    const AURenderCallbackStruct callback{&CAPlayThrough::InputProc, this};
    return Checked(500, [&] {
        return AudioUnitSetProperty(mInputUnit, kAudioOutputUnitProperty_SetInputCallback,
                                    kAudioUnitScope_Global, 0, &callback, sizeof(callback));
    });
}

OSStatus CAPlayThrough::SetupGraph(AudioDeviceID output) {
    if (const OSStatus status = Checked(325, [&] { return NewAUGraph(&mGraph); })) {
        return status;
    }
    if (const OSStatus status = Checked(329, [&] { return AUGraphOpen(mGraph); })) {
        return status;
    }
    if (const OSStatus status = Checked(332, [&] { return MakeGraph(); })) {
        return status;
    }
    if (const OSStatus status = Checked(335, [&] { return SetOutputDeviceAsCurrent(output); })) {
        return status;
    }
    const uint32_t atZero = 0;
    if (const OSStatus status = Checked(346, [&] {
            return AudioUnitSetProperty(mOutputUnit, kAudioOutputUnitProperty_StartTimestampsAtZero,
                                        kAudioUnitScope_Global, 0, &atZero, sizeof(atZero));
        })) {
        return status;
    }
    const AURenderCallbackStruct callback{&CAPlayThrough::OutputProc, this};
    return Checked(359, [&] {
        return AudioUnitSetProperty(mVarispeedUnit, kAudioUnitProperty_SetRenderCallback,
                                    kAudioUnitScope_Input, 0, &callback, sizeof(callback));
    });
}

OSStatus CAPlayThrough::MakeGraph() {
    const AudioComponentDescription varispeed{kAudioUnitType_FormatConverter,
                                              kAudioUnitSubType_Varispeed,
                                              kAudioUnitManufacturer_Apple, 0, 0};
    if (const OSStatus status =
            Checked(389, [&] { return AUGraphAddNode(mGraph, &varispeed, &mVarispeedNode); })) {
        return status;
    }
    const AudioComponentDescription output{kAudioUnitType_Output, kAudioUnitSubType_DefaultOutput,
                                           kAudioUnitManufacturer_Apple, 0, 0};
    if (const OSStatus status =
            Checked(391, [&] { return AUGraphAddNode(mGraph, &output, &mOutputNode); })) {
        return status;
    }
    if (const OSStatus status = Checked(395, [&] {
            return AUGraphNodeInfo(mGraph, mVarispeedNode, nullptr, &mVarispeedUnit);
        })) {
        return status;
    }
    return Checked(397,
                   [&] { return AUGraphNodeInfo(mGraph, mOutputNode, nullptr, &mOutputUnit); });
}

OSStatus CAPlayThrough::SetOutputDeviceAsCurrent(AudioDeviceID output) {
    if (output == kAudioObjectUnknown) {
        const AudioObjectPropertyAddress address{kAudioHardwarePropertyDefaultOutputDevice,
                                                 kAudioObjectPropertyScopeGlobal,
                                                 kAudioObjectPropertyElementMain};
        uint32_t size = sizeof(output);
        if (const OSStatus status = Checked(273, [&] {
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
    // The device sides are the devices' own formats. One or two of the
    // input's channels are heard in stereo (mono on a one-channel output):
    // a single channel on both sides.
    const uint32_t deviceChannels = mInputDevice.format.mChannelsPerFrame;
    const uint32_t outputChannels = mOutputDevice.format.mChannelsPerFrame;
    if (deviceChannels == 0 || outputChannels == 0) {
        return kAudioUnitErr_FormatNotSupported;
    }
    const uint32_t channels = std::min<uint32_t>(outputChannels, 2);
    const std::vector<int32_t> monitored = MonitoredChannels(mChannelMap, deviceChannels);

    double inputRate = 0;
    readDeviceProperty(mInputDevice.deviceID, kAudioDevicePropertyNominalSampleRate,
                       kAudioObjectPropertyScopeInput, inputRate);
    AudioStreamBasicDescription format = clientFormat(channels, inputRate);
    if (const OSStatus status = Checked(575, [&] {
            return AudioUnitSetProperty(mInputUnit, kAudioUnitProperty_StreamFormat,
                                        kAudioUnitScope_Output, 1, &format, sizeof(format));
        })) {
        return status;
    }
    if (const OSStatus status = Checked(577, [&] {
            return AudioUnitSetProperty(mVarispeedUnit, kAudioUnitProperty_StreamFormat,
                                        kAudioUnitScope_Input, 0, &format, sizeof(format));
        })) {
        return status;
    }
    // The unit repeats a map shorter than the client's channels.
    if (const OSStatus status = Checked(587, [&] {
            return AudioUnitSetProperty(mInputUnit, kAudioOutputUnitProperty_ChannelMap,
                                        kAudioUnitScope_Output, 1, monitored.data(),
                                        static_cast<uint32_t>(monitored.size() * sizeof(int32_t)));
        })) {
        return status;
    }

    double outputRate = 0;
    readDeviceProperty(mOutputDevice.deviceID, kAudioDevicePropertyNominalSampleRate,
                       kAudioObjectPropertyScopeOutput, outputRate);
    format = clientFormat(channels, outputRate);
    if (const OSStatus status = Checked(600, [&] {
            return AudioUnitSetProperty(mVarispeedUnit, kAudioUnitProperty_StreamFormat,
                                        kAudioUnitScope_Output, 0, &format, sizeof(format));
        })) {
        return status;
    }
    if (const OSStatus status = Checked(602, [&] {
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
    mOutputBufferSeconds = outputRate > 0 ? target / outputRate : 0;

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
    mBuffer->Allocate(channels, format.mBytesPerFrame,
                      std::max(bufferSizeFrames * kRingBuffers,
                               static_cast<uint32_t>(kRingSeconds * std::max(inputRate, 8000.0))));

    // Now that its formats are set, the input unit can be initialized.
    return Checked(435, [&] { return AudioUnitInitialize(mInputUnit); });
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
    mStartFailedStep = 0;
    // The input counts its frames from 0 again.
    mDeliveryClock.reset(mInputRate);
    mPace.restart(-1);
    if (const OSStatus status = AudioOutputUnitStart(mInputUnit)) {
        report(status, 211);
        mStartFailedStep = 211;
        return status;
    }
    if (const OSStatus status = AUGraphStart(mGraph)) {
        report(status, 214);
        mStartFailedStep = 214;
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
    result.leastFill = mLeastFill.load();
    result.margin = mMargin.load();
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
        result.outputUnderruns = OutputCount(kPulseOutputUnitProperty_Underruns);
        size = sizeof(PulseOutputBufferRequest);
        AudioUnitGetProperty(mOutputUnit, kPulseOutputUnitProperty_BufferRequest,
                             kAudioUnitScope_Global, 0, &result.outputBuffer, &size);
    }
    return result;
}

std::vector<int32_t>
CAPlayThrough::MonitoredChannels(const std::optional<std::vector<int32_t>>& map,
                                 uint32_t deviceChannels) {
    std::vector<int32_t> chosen;
    if (map) {
        for (const int32_t channel : *map) {
            if (channel >= 0 && static_cast<uint32_t>(channel) < deviceChannels &&
                chosen.size() < 2) {
                chosen.push_back(channel);
            }
        }
    }
    if (chosen.empty()) {
        for (uint32_t channel = 0; channel < std::min<uint32_t>(deviceChannels, 2); ++channel) {
            chosen.push_back(static_cast<int32_t>(channel));
        }
    }
    return chosen;
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
    // The output has run ahead of the input: the next read begins where the
    // stored frames ended, so the missing ones are heard late, not lost, and
    // none twice.
    return offset + static_cast<double>(requestedStart + frames - end);
}

// Output thread. Real-time: no allocation, no locks. The read point goes
// the start distance behind the newest frame once the ring holds that much
// and a read; until then the output stays silent.
bool CAPlayThrough::PlaceReadPoint(double now, uint32_t frames) {
    int64_t start = 0;
    int64_t end = 0;
    if (mBuffer->CurrentTimeBounds(start, end) != 0 ||
        static_cast<double>(end - start) < mStartDistance + frames) {
        return false;
    }
    const double readStart = static_cast<double>(end) - mStartDistance - frames;
    mInToOutSampleOffset.store(now - readStart, std::memory_order_relaxed);
    mNextUnplayed = static_cast<int64_t>(readStart);
    mFirstOutputTime.store(now, std::memory_order_relaxed);
    mPace.restart(now);
    // Underruns before the read point was placed left nothing to skip.
    mUnderrunsSeen = OutputCount(kPulseOutputUnitProperty_Underruns);
    mCatchUpUntil = 0;
    return true;
}

// Output thread. Real-time: no allocation, no locks. When the output
// device ran dry (this machine did not run the output in time), the input
// went on meanwhile: the frames due during the silence would be heard that
// much later for as long as monitoring runs. They are skipped as soon as
// the server says so, while the output is silent anyway, so that the jump
// joins the gap instead of breaking the sound a second time. How many: the
// silence lasted as long as the output's longest recent wait between
// cycles less what its buffer held. The output stays silent until the ring
// holds the frames skipped to (the input's backlog from the stall may still
// be on its way), within a limit.
bool CAPlayThrough::CatchingUpAfterUnderrun(double now, uint32_t frames) {
    const uint64_t host = AudioGetCurrentHostTime();
    NoteCycleWait(host);
    const uint64_t underruns = OutputCount(kPulseOutputUnitProperty_Underruns);
    if (underruns != mUnderrunsSeen) {
        mUnderrunsSeen = underruns;
        SkipWhatTheGapWasDue(host);
    }
    if (mCatchUpUntil == 0) {
        return false;
    }
    int64_t start = 0;
    int64_t end = 0;
    const auto readStart =
        static_cast<int64_t>(now - mInToOutSampleOffset.load(std::memory_order_relaxed));
    const bool arrived =
        mBuffer->CurrentTimeBounds(start, end) == 0 && end >= readStart + frames + mPace.margin();
    if (!arrived && host < mCatchUpUntil) {
        return true;
    }
    mCatchUpUntil = 0;
    mNextUnplayed = std::max(mNextUnplayed, readStart); // the frames passed over are not due
    return false;
}

// Output thread. Real-time: no allocation, no locks.
void CAPlayThrough::SkipWhatTheGapWasDue(uint64_t host) {
    const double gapSeconds = static_cast<double>(mLongestCycleWait) * 1e-9 - mOutputBufferSeconds;
    mLongestCycleWait = 0;
    const double skip = std::floor(gapSeconds * mInputRate);
    if (skip < 1) {
        return; // the server ran dry on its own account: nothing piled up
    }
    mInToOutSampleOffset.store(mInToOutSampleOffset.load(std::memory_order_relaxed) - skip,
                               std::memory_order_relaxed);
    mCatchUpUntil = host + kCatchUpNanoseconds;
    mRealignments.fetch_add(1, std::memory_order_relaxed);
    mPace.restart(-1); // the fills measured so far were before the move
}

// Output thread. Real-time: no allocation, no locks. Keeps the longest
// wait between output cycles of the last moments.
void CAPlayThrough::NoteCycleWait(uint64_t host) {
    if (mLastCycleHost != 0 && host > mLastCycleHost) {
        const uint64_t wait = host - mLastCycleHost;
        if (wait >= mLongestCycleWait || host - mLongestCycleWaitAt > kCycleWaitMemory) {
            mLongestCycleWait = wait;
            mLongestCycleWaitAt = host;
        }
    }
    mLastCycleHost = host;
}

// Real-time: no allocation, no locks.
uint64_t CAPlayThrough::OutputCount(uint32_t property) {
    uint64_t count = 0;
    uint32_t size = sizeof(count);
    AudioUnitGetProperty(mOutputUnit, property, kAudioUnitScope_Global, 0, &count, &size);
    return count;
}

// Output thread. Real-time: no allocation, no locks. A read that found
// the ring's frames only up to `playedEnd` waits for the rest, and a
// margin longer, so that the reads after it find theirs: one gap instead
// of a run of them.
void CAPlayThrough::CorrectLateRead(int64_t readStart, uint32_t frames, int64_t playedEnd) {
    const double offset = mInToOutSampleOffset.load(std::memory_order_relaxed);
    mPace.noteShortfall(readStart + frames - playedEnd);
    mInToOutSampleOffset.store(CorrectedOffset(offset, PlayThroughRingBuffer::EndsLate, readStart,
                                               frames, readStart, playedEnd, mStartDistance) +
                                   static_cast<double>(mPace.margin()),
                               std::memory_order_relaxed);
    mMargin.store(mPace.margin(), std::memory_order_relaxed);
    mMisses.fetch_add(1, std::memory_order_relaxed);
}

// Output thread. Real-time: no allocation, no locks. Any other miss: a
// read wholly after the newest frame waits like a late one; one that fell
// behind the ring's oldest frame starts again the start distance behind
// its newest.
void CAPlayThrough::CorrectMiss(int32_t code, int64_t readStart, uint32_t frames) {
    int64_t start = 0;
    int64_t end = 0;
    if (mBuffer->CurrentTimeBounds(start, end) != 0) {
        return; // no consistent bounds: try again next cycle
    }
    if (code > 0) {
        CorrectLateRead(readStart, frames, end);
        return;
    }
    const double offset = mInToOutSampleOffset.load(std::memory_order_relaxed);
    mInToOutSampleOffset.store(
        CorrectedOffset(offset, code, readStart, frames, start, end, mStartDistance),
        std::memory_order_relaxed);
    mPace.restart(-1); // a new read point: measured afresh
    mMisses.fetch_add(1, std::memory_order_relaxed);
}

// Output thread. Real-time: no allocation, no locks. After a late read the
// next ones begin before the frames they wait for, where frames already
// played lie: those are silence, never heard twice.
void CAPlayThrough::KeepFramesUnrepeated(AudioBufferList* data, int64_t readStart, uint32_t frames,
                                         int64_t playedEnd) {
    if (readStart < mNextUnplayed) {
        const auto played =
            static_cast<uint32_t>(std::min<int64_t>(mNextUnplayed - readStart, frames));
        for (uint32_t b = 0; b < data->mNumberBuffers; ++b) {
            if (data->mBuffers[b].mData) {
                std::memset(data->mBuffers[b].mData, 0, played * sizeof(float));
            }
        }
    }
    mNextUnplayed = std::max(mNextUnplayed, playedEnd);
}

// Output thread. Real-time: no allocation, no locks.
void CAPlayThrough::TrackFill(double now, int64_t fill) {
    const int64_t skip = mPace.track(now, fill);
    mLeastFill.store(mPace.leastFill(), std::memory_order_relaxed);
    mMargin.store(mPace.margin(), std::memory_order_relaxed);
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
    self->mPace.noteDelivery(inTimeStamp->mHostTime);
    self->mDeliveryClock.noteDelivery(inTimeStamp->mHostTime,
                                      inTimeStamp->mSampleTime + inNumberFrames);
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
    // The input's rate as its deliveries show it (its callbacks' timing
    // until they have shown it), trimmed to keep the margin.
    const double inputRate =
        self->mDeliveryClock.settled() ? self->mDeliveryClock.rateScalar() : inputTime.mRateScalar;
    const float rate = ConverterRate(inputRate / outputTime.mRateScalar * self->mPace.trim(),
                                     self->mVarispeedRate.load(std::memory_order_relaxed));
    if (const OSStatus status = AudioUnitSetParameter(
            self->mVarispeedUnit, kVarispeedParam_PlaybackRate, kAudioUnitScope_Global, 0, rate, 0);
        status != 0) {
        self->NoteCallbackError(status, 721);
        silence(ioData);
        return status;
    }
    self->mVarispeedRate.store(rate, std::memory_order_relaxed);

    // The varispeed's count of the input frames it has taken.
    const double now = inTimeStamp->mSampleTime;
    if (self->mFirstOutputTime.load(std::memory_order_relaxed) < 0 &&
        !self->PlaceReadPoint(now, inNumberFrames)) {
        silence(ioData);
        return 0;
    }
    if (self->CatchingUpAfterUnderrun(now, inNumberFrames)) {
        silence(ioData);
        return 0;
    }
    const double offset = self->mInToOutSampleOffset.load(std::memory_order_relaxed);
    const auto readStart = static_cast<int64_t>(now - offset);
    self->mLastReadStart.store(readStart + inNumberFrames, std::memory_order_relaxed);
    const int32_t code = self->mBuffer->ReadFrames(ioData, inNumberFrames, readStart);
    if (code == PlayThroughRingBuffer::OK) {
        self->KeepFramesUnrepeated(ioData, readStart, inNumberFrames, readStart + inNumberFrames);
        int64_t start = 0;
        int64_t end = 0;
        if (self->mBuffer->CurrentTimeBounds(start, end) == 0) {
            self->TrackFill(now, end - (readStart + inNumberFrames));
        }
        return 0;
    }
    if (code == PlayThroughRingBuffer::EndsLate) {
        // The frames up to the newest one are in place (the buffers say
        // how many), the rest silent.
        const int64_t playedEnd =
            readStart + ioData->mBuffers[0].mDataByteSize / static_cast<int64_t>(sizeof(float));
        self->KeepFramesUnrepeated(ioData, readStart, inNumberFrames, playedEnd);
        self->CorrectLateRead(readStart, inNumberFrames, playedEnd);
        return 0;
    }
    if (code == PlayThroughRingBuffer::CPUOverload) {
        silence(ioData); // the bounds could not be read: nothing known was copied
        return 0;
    }
    // A read that began before the oldest frame holds what was still there;
    // any other holds nothing.
    if (code != PlayThroughRingBuffer::StartsEarly) {
        silence(ioData);
    }
    self->CorrectMiss(code, readStart, inNumberFrames);
    return 0;
}

#include "audio/units/VELKInputAudioUnit.h"

#include "audio/format/InternalInconsistencyException.h"
#include "audio/format/NSXException.h"
#include "platform/audio/AudioHardwareService.h"
#include "platform/audio/AudioUnitService.h"

#include <algorithm>

VELKInputAudioUnit::VELKInputAudioUnit(
    std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription,
    std::shared_ptr<VELKAudioDevice> device, std::optional<std::vector<int32_t>> channels)
    : VELKAudioUnit(std::move(streamDescription)), mDevice(std::move(device)),
      mChannels(std::move(channels)) {
    if (mChannels && mStreamDescription->channelsPerFrame() != mChannels->size()) {
        throw InternalInconsistencyException("Invalid parameter not satisfying: !inChannels || "
                                             "sd.channelsPerFrame == [inChannels count]",
                                             "VELKInputAudioUnit", __LINE__);
    }
    if (!mDevice) {
        throw InternalInconsistencyException("Invalid parameter not satisfying: device",
                                             "VELKInputAudioUnit", __LINE__);
    }
    audioUnitInitialize();
}

VELKInputAudioUnit::VELKInputAudioUnit(std::shared_ptr<VELKAudioDevice> device,
                                       std::optional<std::vector<int32_t>> channels)
    : VELKInputAudioUnit(device ? device->deviceNativeRecordStreamDescription() : nullptr, device,
                         std::move(channels)) {}

VELKInputAudioUnit::~VELKInputAudioUnit() {
    if (mAudioUnit) {
        AudioOutputUnitStop(mAudioUnit); // no capture callback runs after this
    }
}

void VELKInputAudioUnit::audioUnitInitialize() {
    const AudioComponentDescription description{kAudioUnitType_Output, kAudioUnitSubType_HALOutput,
                                                kAudioUnitManufacturer_Apple, 0, 0};
    NSXThrowIfError(AudioComponentInstanceNew(&description, &mAudioUnit));

    const uint32_t enable = 1;
    NSXThrowIfError(AudioUnitSetProperty(mAudioUnit, kAudioOutputUnitProperty_EnableIO,
                                         kAudioUnitScope_Input, 1, &enable, sizeof(uint32_t)));
    const uint32_t disable = 0;
    NSXThrowIfError(AudioUnitSetProperty(mAudioUnit, kAudioOutputUnitProperty_EnableIO,
                                         kAudioUnitScope_Output, 0, &disable, sizeof(uint32_t)));
    const AudioDeviceID deviceID = mDevice->deviceID();
    NSXThrowIfError(AudioUnitSetProperty(mAudioUnit, kAudioOutputUnitProperty_CurrentDevice,
                                         kAudioUnitScope_Global, 0, &deviceID, sizeof(deviceID)));
    const uint32_t atZero = 1;
    NSXThrowIfError(AudioUnitSetProperty(mAudioUnit, kAudioOutputUnitProperty_StartTimestampsAtZero,
                                         kAudioUnitScope_Global, 0, &atZero, sizeof(uint32_t)));
    const AURenderCallbackStruct input{&VELKInputAudioUnit::IAUInputProc, this};
    NSXThrowIfError(AudioUnitSetProperty(mAudioUnit, kAudioOutputUnitProperty_SetInputCallback,
                                         kAudioUnitScope_Global, 0, &input, sizeof(input)));
    const AudioStreamBasicDescription asbd = mStreamDescription->audioStreamBasicDescription();
    NSXThrowIfError(AudioUnitSetProperty(mAudioUnit, kAudioUnitProperty_StreamFormat,
                                         kAudioUnitScope_Output, 1, &asbd, sizeof(asbd)));
    if (mChannels && !mChannels->empty()) {
        NSXThrowIfError(AudioUnitSetProperty(
            mAudioUnit, kAudioOutputUnitProperty_ChannelMap, kAudioUnitScope_Input, 1,
            mChannels->data(), static_cast<uint32_t>(mChannels->size() * sizeof(int32_t))));
    }
    const AudioObjectPropertyAddress frameSize{kAudioDevicePropertyBufferFrameSize,
                                               kAudioObjectPropertyScopeGlobal, 0};
    uint32_t frames = 0;
    uint32_t size = sizeof(frames);
    NSXThrowIfError(AudioObjectGetPropertyData(deviceID, &frameSize, 0, nullptr, &size, &frames));
    mInputAudioBuffer =
        std::make_unique<VELKAudioBuffer>(frames, mStreamDescription->channelsPerFrame());
    installPropertyListener();
    NSXThrowIfError(AudioUnitInitialize(mAudioUnit));
}

void VELKInputAudioUnit::setWakeInterval(double seconds) {
    const double frames = seconds * mStreamDescription->sampleRate();
    const auto wakeFrames = static_cast<uint32_t>(std::clamp(frames, 0.0, 10.0 * 192000));
    setProperty(kPulseInputUnitProperty_WakeFrames, kAudioUnitScope_Global, 0, &wakeFrames,
                sizeof(wakeFrames));
}

uint32_t VELKInputAudioUnit::wakeFrames() const {
    uint32_t frames = 0;
    uint32_t size = sizeof(frames);
    NSXThrowIfError(AudioUnitGetProperty(mAudioUnit, kPulseInputUnitProperty_WakeFrames,
                                         kAudioUnitScope_Global, 0, &frames, &size));
    return frames;
}

void VELKInputAudioUnit::audioUnitUninitialize() {
    NSXThrowIfError(AudioUnitUninitialize(mAudioUnit));
}

// Real-time: no allocation, no locks.
OSStatus VELKInputAudioUnit::IAUInputProc(void* refCon, AudioUnitRenderActionFlags* flags,
                                          const AudioTimeStamp* timeStamp, uint32_t bus,
                                          uint32_t frames, AudioBufferList*) {
    auto* self = static_cast<VELKInputAudioUnit*>(refCon);
    AudioBufferList* list = self->mInputAudioBuffer->audioBufferList();
    for (uint32_t b = 0; b < list->mNumberBuffers; ++b) {
        list->mBuffers[b].mDataByteSize = self->mInputAudioBuffer->byteSize(); // full capacity
    }
    const OSStatus status = AudioUnitRender(self->mAudioUnit, flags, timeStamp, 1, frames, list);
    if (status != 0 || frames == 0) {
        return status;
    }
    if (self->mInputProcessingBlock) {
        self->mInputProcessingBlock(flags, timeStamp, bus, frames, list);
    }
    return status;
}

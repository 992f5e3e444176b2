#include "audio/units/VELKOutputAudioUnit.h"

#include "audio/format/NSXException.h"
#include "platform/audio/AudioUnitService.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

void logFailure(const char* what, OSStatus status) {
    if (status != 0) {
        std::fprintf(stderr, "(ERROR) VELKOutputAudioUnit : %s failed (%d)\n", what, status);
    }
}

} // namespace

uint32_t VELKOutputAudioUnit::varispeedMaximumFramesPerSlice(uint32_t outputMaximum,
                                                             double inputRate, double outputRate) {
    const double factor = std::max(std::ceil(inputRate / outputRate), 1.0);
    const auto frames = static_cast<uint32_t>(outputMaximum * factor) + 16;
    return frames & ~0xFu;
}

VELKOutputAudioUnit::VELKOutputAudioUnit(
    std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription,
    std::shared_ptr<VELKAudioDevice> device)
    : mStreamDescription(std::move(streamDescription)) {
    NSXThrowIfError(NewAUGraph(&mGraph));
    try {
        NSXThrowIfError(AUGraphOpen(mGraph));
        const AudioComponentDescription varispeed{kAudioUnitType_FormatConverter,
                                                  kAudioUnitSubType_Varispeed,
                                                  kAudioUnitManufacturer_Apple, 0, 0};
        const AudioComponentDescription output{kAudioUnitType_Output,
                                               kAudioUnitSubType_DefaultOutput,
                                               kAudioUnitManufacturer_Apple, 0, 0};
        NSXThrowIfError(AUGraphAddNode(mGraph, &varispeed, &mVarispeedNode));
        NSXThrowIfError(AUGraphAddNode(mGraph, &output, &mOutputNode));
        NSXThrowIfError(AUGraphNodeInfo(mGraph, mVarispeedNode, nullptr, &mVarispeedUnit));
        NSXThrowIfError(AUGraphNodeInfo(mGraph, mOutputNode, nullptr, &mOutputUnit));

        const AudioDeviceID deviceID = device ? device->deviceID() : kAudioObjectUnknown;
        NSXThrowIfError(AudioUnitSetProperty(mOutputUnit, kAudioOutputUnitProperty_CurrentDevice,
                                             kAudioUnitScope_Global, 0, &deviceID,
                                             sizeof(deviceID)));
        const AURenderCallbackStruct render{&VELKOutputAudioUnit::OAUOutputProc, this};
        NSXThrowIfError(AudioUnitSetProperty(mVarispeedUnit, kAudioUnitProperty_SetRenderCallback,
                                             kAudioUnitScope_Input, 0, &render, sizeof(render)));
        const AudioStreamBasicDescription asbd = mStreamDescription->audioStreamBasicDescription();
        NSXThrowIfError(AudioUnitSetProperty(mVarispeedUnit, kAudioUnitProperty_StreamFormat,
                                             kAudioUnitScope_Input, 0, &asbd, sizeof(asbd)));
        NSXThrowIfError(AudioUnitSetProperty(mVarispeedUnit, kAudioUnitProperty_StreamFormat,
                                             kAudioUnitScope_Output, 0, &asbd, sizeof(asbd)));
        NSXThrowIfError(AudioUnitSetProperty(mOutputUnit, kAudioUnitProperty_StreamFormat,
                                             kAudioUnitScope_Input, 0, &asbd, sizeof(asbd)));

        uint32_t maximum = 0;
        uint32_t size = sizeof(maximum);
        NSXThrowIfError(AudioUnitGetProperty(mOutputUnit, kAudioUnitProperty_MaximumFramesPerSlice,
                                             kAudioUnitScope_Global, 0, &maximum, &size));
        double inputRate = 0;
        double outputRate = 0;
        size = sizeof(inputRate);
        NSXThrowIfError(AudioUnitGetProperty(mOutputUnit, kAudioUnitProperty_SampleRate,
                                             kAudioUnitScope_Input, 0, &inputRate, &size));
        size = sizeof(outputRate);
        NSXThrowIfError(AudioUnitGetProperty(mOutputUnit, kAudioUnitProperty_SampleRate,
                                             kAudioUnitScope_Output, 0, &outputRate, &size));
        const uint32_t varispeedMaximum = varispeedMaximumFramesPerSlice(
            maximum, inputRate, outputRate > 0 ? outputRate : inputRate);
        NSXThrowIfError(AudioUnitSetProperty(
            mVarispeedUnit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0,
            &varispeedMaximum, sizeof(varispeedMaximum)));
        NSXThrowIfError(AudioUnitSetParameter(mVarispeedUnit, kVarispeedParam_PlaybackRate,
                                              kAudioUnitScope_Global, 0, 1.0f, 0));
        NSXThrowIfError(AUGraphConnectNodeInput(mGraph, mVarispeedNode, 0, mOutputNode, 0));
        // A unit always has its worker: start and stop rely on it.
        NSXThrowIfError(mAudioNotificationQueueWorker = SAudioNotificationQueueWorkerCreate());
        NSXThrowIfError(AUGraphInitialize(mGraph));
    } catch (...) {
        if (mAudioNotificationQueueWorker) {
            SAudioNotificationQueueWorkerDestroy(mAudioNotificationQueueWorker);
        }
        DisposeAUGraph(mGraph);
        throw;
    }
}

VELKOutputAudioUnit::~VELKOutputAudioUnit() {
    if (mListening) {
        AudioUnitRemovePropertyListenerWithUserData(mOutputUnit, kAudioOutputUnitProperty_IsRunning,
                                                    &VELKOutputAudioUnit::isRunningChanged, this);
    }
    logFailure("AUGraphStop", AUGraphStop(mGraph));
    logFailure("AUGraphUninitialize", AUGraphUninitialize(mGraph));
    logFailure("DisposeAUGraph", DisposeAUGraph(mGraph));
    mAudioBufferQueue.reset();
    SAudioNotificationQueueWorkerTeardown(mAudioNotificationQueueWorker);
    SAudioNotificationQueueWorkerDestroy(mAudioNotificationQueueWorker);
    SQueueableAudioNotificationDestroy(mAudioNotification);
}

void VELKOutputAudioUnit::start() {
    mTailFramesLeft.store(-1, std::memory_order_relaxed);
    mDone.store(false, std::memory_order_release);
    if (mVocalRemoverStage) {
        mVocalRemoverStage->requestReset();
    }
    SAudioNotificationQueueWorkerStart(mAudioNotificationQueueWorker);
    const OSStatus status = AUGraphStart(mGraph);
    if (status != 0) {
        // Nothing plays (the device has gone, the server is not there): the
        // caller is told rather than left with a unit that only looks started.
        SAudioNotificationQueueWorkerStop(mAudioNotificationQueueWorker);
        NSXThrowIfError(status);
    }
}

void VELKOutputAudioUnit::stop() {
    AUGraphStop(mGraph);
    SAudioNotificationQueueWorkerStop(mAudioNotificationQueueWorker);
}

bool VELKOutputAudioUnit::isRunning() const {
    uint32_t running = 0;
    uint32_t size = sizeof(running);
    NSXThrowIfError(AudioUnitGetProperty(mOutputUnit, kAudioOutputUnitProperty_IsRunning,
                                         kAudioUnitScope_Global, 0, &running, &size));
    return running != 0;
}

void VELKOutputAudioUnit::setPlaybackRate(double rate) {
    NSXThrowIfError(AudioUnitSetParameter(mVarispeedUnit, kVarispeedParam_PlaybackRate,
                                          kAudioUnitScope_Global, 0, static_cast<float>(rate), 0));
    mTailRate.store(std::abs(rate), std::memory_order_relaxed);
}

double VELKOutputAudioUnit::playbackRate() const {
    float rate = 0;
    NSXThrowIfError(AudioUnitGetParameter(mVarispeedUnit, kVarispeedParam_PlaybackRate,
                                          kAudioUnitScope_Global, 0, &rate));
    return rate;
}

void VELKOutputAudioUnit::setPlaybackLevel(double level) {
    NSXThrowIfError(AudioUnitSetParameter(mOutputUnit, kHALOutputParam_Volume,
                                          kAudioUnitScope_Global, 0, static_cast<float>(level), 0));
}

uint32_t VELKOutputAudioUnit::unplayedFramesAtStop() const {
    return outputProperty(kPulseOutputUnitProperty_UnplayedFramesAtStop);
}

void VELKOutputAudioUnit::holdAndDropUnplayed() {
    setHolding(1);
}

void VELKOutputAudioUnit::renderAgain() {
    setHolding(0);
}

uint32_t VELKOutputAudioUnit::unplayedFrames() const {
    return outputProperty(kPulseOutputUnitProperty_UnplayedFrames);
}

uint32_t VELKOutputAudioUnit::outputProperty(uint32_t property) const {
    uint32_t value = 0;
    uint32_t size = sizeof(value);
    NSXThrowIfError(AudioUnitGetProperty(mOutputUnit, property, kAudioUnitScope_Global, 0, &value,
                                         &size));
    return value;
}

void VELKOutputAudioUnit::setHolding(uint32_t holding) {
    NSXThrowIfError(AudioUnitSetProperty(mOutputUnit, kPulseOutputUnitProperty_Holding,
                                         kAudioUnitScope_Global, 0, &holding, sizeof(holding)));
}

void VELKOutputAudioUnit::setSteadyBuffer(uint32_t frames, uint32_t requestFrames,
                                          uint32_t stepFrames) {
    const PulseOutputGrowth growth{frames, requestFrames, stepFrames};
    NSXThrowIfError(AudioUnitSetProperty(mOutputUnit, kPulseOutputUnitProperty_Growth,
                                         kAudioUnitScope_Global, 0, &growth, sizeof(growth)));
    const double seconds = frames / mStreamDescription->sampleRate();
    mTailSeconds.store(std::max(kEndTailSeconds, seconds + kEndTailBeyondBufferSeconds),
                       std::memory_order_relaxed);
}

void VELKOutputAudioUnit::setDeviceLostBlock(std::function<void()> block) {
    mDeviceLostBlock = std::move(block);
    if (!mListening) {
        NSXThrowIfError(AudioUnitAddPropertyListener(
            mOutputUnit, kAudioOutputUnitProperty_IsRunning, &VELKOutputAudioUnit::isRunningChanged,
            this));
        mListening = true;
    }
}

bool VELKOutputAudioUnit::deviceLost() const {
    uint32_t lost = 0;
    uint32_t size = sizeof(lost);
    return AudioUnitGetProperty(mOutputUnit, kPulseAudioUnitProperty_StreamLost,
                                kAudioUnitScope_Global, 0, &lost, &size) == 0 &&
           lost != 0;
}

// On the audio-unit service's thread.
void VELKOutputAudioUnit::isRunningChanged(void* refCon, AudioUnit, uint32_t, uint32_t, uint32_t) {
    auto* self = static_cast<VELKOutputAudioUnit*>(refCon);
    if (self->mDeviceLostBlock && self->deviceLost()) {
        self->mDeviceLostBlock();
    }
}

void VELKOutputAudioUnit::setVocalRemoverStage(std::shared_ptr<VELKVocalRemoverStage> stage) {
    if (mVocalRemoverStage || !stage) {
        return; // the render thread may be using the one it has
    }
    mVocalRemoverStage = std::move(stage);
    mStage.store(mVocalRemoverStage.get(), std::memory_order_release);
}

void VELKOutputAudioUnit::setEndOfStreamNotificationBlock(std::function<void()> block) {
    SQueueableAudioNotificationDestroy(mAudioNotification);
    mAudioNotification =
        SQueueableAudioNotificationCreate([block = std::move(block)](SQueueableAudioNotification*) {
            if (block) {
                block();
            }
        });
}

// Real-time: no allocation, no locks.
OSStatus VELKOutputAudioUnit::OAUOutputProc(void* refCon, AudioUnitRenderActionFlags*,
                                            const AudioTimeStamp*, uint32_t, uint32_t frames,
                                            AudioBufferList* data) {
    auto* self = static_cast<VELKOutputAudioUnit*>(refCon);
    if (self->mDone.load(std::memory_order_acquire) || !self->mAudioBufferQueue) {
        for (uint32_t b = 0; b < data->mNumberBuffers; ++b) {
            std::memset(data->mBuffers[b].mData, 0, data->mBuffers[b].mDataByteSize);
        }
        return 0;
    }
    VELKVocalRemoverStage* stage = self->mStage.load(std::memory_order_acquire);
    bool ended = false;
    if (stage) {
        stage->beginSlice();
    }
    if (stage && stage->draining()) {
        // The queue has ended; the stage plays out what it holds.
        for (uint32_t b = 0; b < data->mNumberBuffers; ++b) {
            std::memset(data->mBuffers[b].mData, 0, data->mBuffers[b].mDataByteSize);
        }
    } else {
        uint32_t delivered = frames;
        VELKAudioBufferQueueCopyInto(self->mAudioBufferQueue.get(), data, &delivered);
        if (delivered < frames) {
            const uint32_t bytesPerFrame = data->mBuffers[0].mNumberChannels * sizeof(float);
            for (uint32_t b = 0; b < data->mNumberBuffers; ++b) {
                auto* bytes = static_cast<uint8_t*>(data->mBuffers[b].mData);
                std::memset(bytes + static_cast<size_t>(delivered) * bytesPerFrame, 0,
                            static_cast<size_t>(frames - delivered) * bytesPerFrame);
            }
        }
        ended = VELKAudioBufferQueueReachedEndOfStream(self->mAudioBufferQueue.get());
        if (ended && stage) {
            stage->beginDrain();
        }
    }
    if (stage) {
        stage->process(data, frames);
        ended = stage->drained();
    }
    if (ended) {
        // The slice that reached the end carried the last audio; the tail of
        // silence after it lets the server play out what it holds.
        int64_t left = self->mTailFramesLeft.load(std::memory_order_relaxed);
        if (left < 0) {
            left = static_cast<int64_t>(self->mTailSeconds.load(std::memory_order_relaxed) *
                                        self->mStreamDescription->sampleRate() *
                                        self->mTailRate.load(std::memory_order_relaxed));
        } else {
            left -= frames;
        }
        self->mTailFramesLeft.store(left, std::memory_order_relaxed);
        ended = left <= 0;
    }
    if (ended) {
        if (self->mAudioNotification && !self->mDone.load(std::memory_order_relaxed)) {
            SAudioNotificationQueueWorkerAddNotification(self->mAudioNotificationQueueWorker,
                                                         self->mAudioNotification);
        }
        self->mDone.store(true, std::memory_order_release);
    }
    return 0;
}

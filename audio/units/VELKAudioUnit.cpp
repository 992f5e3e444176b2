#include "audio/units/VELKAudioUnit.h"

#include "audio/format/NSXException.h"
#include "platform/audio/AudioUnitService.h"

const char* const kAudioUnitDidStartNotification = "AudioUnitDidStartNotification";
const char* const kAudioUnitDidStopNotification = "AudioUnitDidStopNotification";

VELKAudioUnit::VELKAudioUnit(std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription)
    : mStreamDescription(std::move(streamDescription)) {}

VELKAudioUnit::~VELKAudioUnit() {
    if (mAudioUnit) {
        if (mListening) {
            AudioUnitRemovePropertyListenerWithUserData(
                mAudioUnit, kAudioOutputUnitProperty_IsRunning,
                &VELKAudioUnit::AUPropertyListenerProc, this);
        }
        AudioOutputUnitStop(mAudioUnit);
        AudioUnitUninitialize(mAudioUnit);
        AudioComponentInstanceDispose(mAudioUnit);
    }
}

void VELKAudioUnit::start() {
    NSXThrowIfError(AudioOutputUnitStart(mAudioUnit));
}

void VELKAudioUnit::stop() {
    NSXThrowIfError(AudioOutputUnitStop(mAudioUnit));
}

bool VELKAudioUnit::isRunning() const {
    uint32_t running = 0;
    uint32_t size = sizeof(running);
    NSXThrowIfError(AudioUnitGetProperty(mAudioUnit, kAudioOutputUnitProperty_IsRunning,
                                         kAudioUnitScope_Global, 0, &running, &size));
    return running != 0;
}

void VELKAudioUnit::installPropertyListener() {
    NSXThrowIfError(AudioUnitAddPropertyListener(mAudioUnit, kAudioOutputUnitProperty_IsRunning,
                                                 &VELKAudioUnit::AUPropertyListenerProc, this));
    mListening = true;
}

void VELKAudioUnit::setProperty(uint32_t property, uint32_t scope, uint32_t element,
                                const void* data, uint32_t size) {
    NSXThrowIfError(AudioUnitSetProperty(mAudioUnit, property, scope, element, data, size));
}

void VELKAudioUnit::audioUnitInitialize() {
    NSXThrowIfError(AudioUnitInitialize(mAudioUnit));
}

void VELKAudioUnit::audioUnitUninitialize() {
    NSXThrowIfError(AudioUnitUninitialize(mAudioUnit));
}

AudioUnit VELKAudioUnit::openDefaultComponentType(uint32_t, uint32_t) {
    const AudioComponentDescription description{
        kAudioUnitType_Output, kAudioUnitSubType_DefaultOutput, kAudioUnitManufacturer_Apple, 0, 0};
    AudioUnit unit = nullptr;
    NSXThrowIfError(AudioComponentInstanceNew(&description, &unit));
    return unit;
}

// On the audio-unit service's thread.
void VELKAudioUnit::AUPropertyListenerProc(void* refCon, AudioUnit unit, uint32_t property,
                                           uint32_t, uint32_t) {
    auto* self = static_cast<VELKAudioUnit*>(refCon);
    if (unit != self->mAudioUnit || property != kAudioOutputUnitProperty_IsRunning) {
        return;
    }
    try {
        const bool running = self->isRunning();
        if (VELKAudioUnitDelegate* delegate = self->mDelegate) {
            if (running) {
                delegate->audioUnitDidStart(self);
            } else {
                delegate->audioUnitDidStop(self);
            }
        }
    } catch (const NSXException&) {
        // The unit is going away; nobody is left to tell.
    }
}

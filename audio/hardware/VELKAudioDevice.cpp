#include "audio/hardware/VELKAudioDevice.h"

#include "audio/format/NSXException.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "platform/audio/AudioHardwareService.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

std::shared_ptr<VELKAudioDevice> VELKAudioDevice::withDeviceID(AudioDeviceID deviceID) {
    return std::make_shared<VELKAudioDevice>(deviceID);
}

std::shared_ptr<VELKAudioDevice> VELKAudioDevice::withDeviceUID(const std::string& uid) {
    const AudioDeviceID deviceID = VELKAudioHardware::deviceIDForDeviceUID(uid);
    if (deviceID == kAudioObjectUnknown) {
        return nullptr;
    }
    return withDeviceID(deviceID);
}

uint32_t VELKAudioDevice::scopeForDirection(int32_t direction) {
    return direction == kVELKAudioDirectionInput ? kAudioObjectPropertyScopeInput
                                                 : kAudioObjectPropertyScopeOutput;
}

std::string VELKAudioDevice::getStringProperty(uint32_t selector) const {
    const AudioObjectPropertyAddress address{selector, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    char* text = nullptr;
    uint32_t size = sizeof(text);
    NSXThrowIfError(AudioObjectGetPropertyData(mDeviceID, &address, 0, nullptr, &size, &text));
    std::string result = text ? text : "";
    std::free(text);
    return result;
}

std::string VELKAudioDevice::deviceUID() const {
    return getStringProperty(kAudioDevicePropertyDeviceUID);
}

std::string VELKAudioDevice::deviceName() const {
    return getStringProperty(kAudioObjectPropertyName);
}

double VELKAudioDevice::sampleRateForDirection(int32_t direction) const {
    const AudioObjectPropertyAddress address{kAudioDevicePropertyNominalSampleRate,
                                             scopeForDirection(direction),
                                             kAudioObjectPropertyElementMain};
    double rate = 0.0;
    uint32_t size = sizeof(rate);
    NSXThrowIfError(AudioObjectGetPropertyData(mDeviceID, &address, 0, nullptr, &size, &rate));
    return rate;
}

// The channels of every buffer of the device's stream configuration.
uint32_t VELKAudioDevice::numberOfChannelsForDirection(int32_t direction) const {
    const AudioObjectPropertyAddress address{kAudioDevicePropertyStreamConfiguration,
                                             scopeForDirection(direction),
                                             kAudioObjectPropertyElementMain};
    uint32_t size = 0;
    NSXThrowIfError(AudioObjectGetPropertyDataSize(mDeviceID, &address, 0, nullptr, &size));
    if (size < AudioBufferListSize(0)) {
        return 0;
    }
    std::vector<uint8_t> storage(std::max<size_t>(size, sizeof(AudioBufferList)));
    auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
    NSXThrowIfError(AudioObjectGetPropertyData(mDeviceID, &address, 0, nullptr, &size, list));
    uint32_t channels = 0;
    for (uint32_t i = 0; i < list->mNumberBuffers && AudioBufferListSize(i + 1) <= size; ++i) {
        channels += list->mBuffers[i].mNumberChannels;
    }
    return channels;
}

uint32_t VELKAudioDevice::numberOfRecordChannels() const {
    return numberOfChannelsForDirection(kVELKAudioDirectionInput);
}

uint32_t VELKAudioDevice::numberOfPlaybackChannels() const {
    return numberOfChannelsForDirection(kVELKAudioDirectionOutput);
}

bool VELKAudioDevice::canRecord() const {
    return numberOfRecordChannels() != 0;
}

bool VELKAudioDevice::canPlayback() const {
    return numberOfPlaybackChannels() != 0;
}

bool VELKAudioDevice::canRecordStereo() const {
    return numberOfRecordChannels() > 1;
}

std::shared_ptr<VELKAudioStreamBasicDescription>
VELKAudioDevice::deviceNativeStreamDescriptionForDirection(int32_t direction) const {
    auto description = VELKAudioStreamBasicDescription::nativeStreamDescription();
    description->setChannelsPerFrame(numberOfChannelsForDirection(direction));
    description->setSampleRate(sampleRateForDirection(direction));
    description->setNativeFormat();
    description->setIsInterleaved(false);
    return description;
}

std::shared_ptr<VELKAudioStreamBasicDescription>
VELKAudioDevice::deviceNativeRecordStreamDescription() const {
    return deviceNativeStreamDescriptionForDirection(kVELKAudioDirectionInput);
}

std::shared_ptr<VELKAudioStreamBasicDescription>
VELKAudioDevice::deviceNativePlaybackStreamDescription() const {
    return deviceNativeStreamDescriptionForDirection(kVELKAudioDirectionOutput);
}

bool VELKAudioDevice::isEqual(const VELKAudioDevice& other) const {
    return deviceUID() == other.deviceUID();
}

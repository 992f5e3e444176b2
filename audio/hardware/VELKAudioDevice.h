#pragma once

#include "audio/format/VELKAudioStreamBasicDescription.h"
#include "platform/audio/AudioHardwareTypes.h"

#include <memory>
#include <string>

// Directions of a device: 1 is input (recording); any other value output.
constexpr int32_t kVELKAudioDirectionOutput = 0;
constexpr int32_t kVELKAudioDirectionInput = 1;

// A light handle on one audio device. Devices are equal when their UIDs are.
// Failed reads raise NSXException.
class VELKAudioDevice {
public:
    explicit VELKAudioDevice(AudioDeviceID deviceID) : mDeviceID(deviceID) {}

    static std::shared_ptr<VELKAudioDevice> withDeviceID(AudioDeviceID deviceID);
    // nullptr when no device has that UID.
    static std::shared_ptr<VELKAudioDevice> withDeviceUID(const std::string& uid);

    AudioDeviceID deviceID() const { return mDeviceID; }
    std::string getStringProperty(uint32_t selector) const;
    std::string deviceUID() const;
    std::string deviceName() const;

    double sampleRateForDirection(int32_t direction) const;
    uint32_t numberOfChannelsForDirection(int32_t direction) const;
    uint32_t numberOfRecordChannels() const;
    uint32_t numberOfPlaybackChannels() const;
    bool canRecord() const;
    bool canPlayback() const;
    bool canRecordStereo() const;

    // The client format at the device's rate and channel count.
    std::shared_ptr<VELKAudioStreamBasicDescription>
    deviceNativeStreamDescriptionForDirection(int32_t direction) const;
    std::shared_ptr<VELKAudioStreamBasicDescription> deviceNativeRecordStreamDescription() const;
    std::shared_ptr<VELKAudioStreamBasicDescription> deviceNativePlaybackStreamDescription() const;

    bool isEqual(const VELKAudioDevice& other) const;
    bool operator==(const VELKAudioDevice& other) const { return isEqual(other); }

    // The property scope of a direction.
    static uint32_t scopeForDirection(int32_t direction);

private:
    AudioDeviceID mDeviceID;
};

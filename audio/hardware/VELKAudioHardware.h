#pragma once

#include "audio/hardware/VELKAudioDevice.h"
#include "platform/audio/AudioHardwareTypes.h"

#include <memory>
#include <string>
#include <vector>

// Told on the main thread about changes of the system's audio devices.
class VELKAudioHardwareDelegate {
public:
    virtual ~VELKAudioHardwareDelegate() = default;
    virtual void defaultInputDeviceDidChange() = 0;
    virtual void deviceListDidChange() = 0;
    virtual void defaultInputDeviceSampleRateDidChange() = 0;
};

// The system's audio devices. The shared instance watches the device list,
// the default input device and that device's sample rate, and passes every
// change on to its delegates on the main thread (through MainQueue).
// Failed platform calls raise NSXException.
class VELKAudioHardware {
public:
    // Made on first use and kept for the life of the process. Raises when the
    // listeners cannot be installed (no audio server); the next call tries again.
    static VELKAudioHardware& sharedInstance();

    // 0 when no device has that UID.
    static AudioDeviceID deviceIDForDeviceUID(const std::string& uid);
    static AudioDeviceID defaultInputDeviceID();
    static AudioDeviceID defaultOutputDeviceID();
    static AudioDeviceID systemOutputDeviceID();
    static std::shared_ptr<VELKAudioDevice> defaultInputDevice();
    static std::shared_ptr<VELKAudioDevice> defaultOutputDevice();
    static std::vector<AudioDeviceID> allDeviceIDs();
    static std::vector<std::shared_ptr<VELKAudioDevice>> allDevices();
    static std::vector<std::shared_ptr<VELKAudioDevice>> playbackDevices();
    static std::vector<std::shared_ptr<VELKAudioDevice>> recordingDevices();
    static std::vector<std::shared_ptr<VELKAudioDevice>> stereoRecordingDevices();

    uint32_t numberOfChannelsForDevice(AudioDeviceID device, int32_t direction) const;
    uint32_t numberOfChannelsForDefaultInputDevice() const;

    // Delegates are not owned; one added twice hears every notice twice.
    // Main thread only.
    void addDelegate(VELKAudioHardwareDelegate* delegate);
    // Removes every occurrence.
    void removeDelegate(VELKAudioHardwareDelegate* delegate);

    // Sends the named notice ("deviceListDidChange", ...) to every delegate
    // in order, then to the hardware object itself.
    void notifyDelegatesWithSelectorString(const std::string& name);

    // The hardware object's own reactions to the notices.
    void defaultInputDeviceDidChange();
    void deviceListDidChange() {}
    void defaultInputDeviceSampleRateDidChange() {}

    void addDefaultInputListeners();
    void removeDefaultInputListeners();
    // The device whose sample rate is watched; 0 when none.
    AudioDeviceID watchedInputDevice() const { return mDefaultInputDevice; }

private:
    VELKAudioHardware();
    ~VELKAudioHardware() = delete;

    static OSStatus hardwareListener(AudioObjectID object, uint32_t numberAddresses,
                                     const AudioObjectPropertyAddress* addresses, void* clientData);
    static OSStatus deviceListener(AudioObjectID object, uint32_t numberAddresses,
                                   const AudioObjectPropertyAddress* addresses, void* clientData);
    static AudioDeviceID systemDeviceProperty(uint32_t selector);
    static std::vector<std::shared_ptr<VELKAudioDevice>>
    filteredDevices(bool (VELKAudioDevice::*predicate)() const);

    std::vector<VELKAudioHardwareDelegate*> mDelegates;
    AudioDeviceID mDefaultInputDevice = kAudioObjectUnknown;
};

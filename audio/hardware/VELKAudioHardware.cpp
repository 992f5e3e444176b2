#include "audio/hardware/VELKAudioHardware.h"

#include "audio/format/NSXException.h"
#include "platform/audio/AudioHardwareService.h"
#include "platform/audio/MainQueue.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr AudioObjectPropertyAddress kDeviceListAddress{kAudioHardwarePropertyDevices,
                                                        kAudioObjectPropertyScopeGlobal,
                                                        kAudioObjectPropertyElementMain};
constexpr AudioObjectPropertyAddress kDefaultInputAddress{kAudioHardwarePropertyDefaultInputDevice,
                                                          kAudioObjectPropertyScopeGlobal,
                                                          kAudioObjectPropertyElementMain};
constexpr AudioObjectPropertyAddress kInputSampleRateAddress{kAudioDevicePropertyNominalSampleRate,
                                                             kAudioObjectPropertyScopeInput,
                                                             kAudioObjectPropertyElementMain};

void postNotice(VELKAudioHardware* hardware, const char* name) {
    MainQueue::post([hardware, name] { hardware->notifyDelegatesWithSelectorString(name); });
}

} // namespace

VELKAudioHardware& VELKAudioHardware::sharedInstance() {
    // A failed construction leaves the static uninitialized, so a later call
    // tries again (for example once the audio server is up).
    static VELKAudioHardware* shared = new VELKAudioHardware;
    return *shared;
}

VELKAudioHardware::VELKAudioHardware() {
    NSXThrowIfError(AudioObjectAddPropertyListener(kAudioObjectSystemObject, &kDeviceListAddress,
                                                   &VELKAudioHardware::hardwareListener, this));
    try {
        NSXThrowIfError(AudioObjectAddPropertyListener(kAudioObjectSystemObject,
                                                       &kDefaultInputAddress,
                                                       &VELKAudioHardware::hardwareListener, this));
        try {
            addDefaultInputListeners();
        } catch (...) {
            AudioObjectRemovePropertyListener(kAudioObjectSystemObject, &kDefaultInputAddress,
                                              &VELKAudioHardware::hardwareListener, this);
            throw;
        }
    } catch (...) {
        // Nothing may call into an object that was never made.
        AudioObjectRemovePropertyListener(kAudioObjectSystemObject, &kDeviceListAddress,
                                          &VELKAudioHardware::hardwareListener, this);
        throw;
    }
}

// System properties

AudioDeviceID VELKAudioHardware::systemDeviceProperty(uint32_t selector) {
    const AudioObjectPropertyAddress address{selector, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    AudioDeviceID device = kAudioObjectUnknown;
    uint32_t size = sizeof(device);
    NSXThrowIfError(
        AudioObjectGetPropertyData(kAudioObjectSystemObject, &address, 0, nullptr, &size, &device));
    return device;
}

AudioDeviceID VELKAudioHardware::deviceIDForDeviceUID(const std::string& uid) {
    const AudioObjectPropertyAddress address{kAudioHardwarePropertyTranslateUIDToDevice,
                                             kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    AudioDeviceID device = kAudioObjectUnknown;
    AudioValueTranslation translation{uid.data(), static_cast<uint32_t>(uid.size()), &device,
                                      sizeof(device)};
    uint32_t size = sizeof(translation);
    NSXThrowIfError(AudioObjectGetPropertyData(kAudioObjectSystemObject, &address, 0, nullptr,
                                               &size, &translation));
    return device;
}

AudioDeviceID VELKAudioHardware::defaultInputDeviceID() {
    return systemDeviceProperty(kAudioHardwarePropertyDefaultInputDevice);
}

AudioDeviceID VELKAudioHardware::defaultOutputDeviceID() {
    return systemDeviceProperty(kAudioHardwarePropertyDefaultOutputDevice);
}

AudioDeviceID VELKAudioHardware::systemOutputDeviceID() {
    return systemDeviceProperty(kAudioHardwarePropertyDefaultSystemOutputDevice);
}

std::shared_ptr<VELKAudioDevice> VELKAudioHardware::defaultInputDevice() {
    return VELKAudioDevice::withDeviceID(defaultInputDeviceID());
}

std::shared_ptr<VELKAudioDevice> VELKAudioHardware::defaultOutputDevice() {
    return VELKAudioDevice::withDeviceID(defaultOutputDeviceID());
}

std::vector<AudioDeviceID> VELKAudioHardware::allDeviceIDs() {
    uint32_t size = 0;
    NSXThrowIfError(AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, &kDeviceListAddress, 0,
                                                   nullptr, &size));
    std::vector<AudioDeviceID> devices(size / sizeof(AudioDeviceID));
    if (devices.empty()) {
        return devices;
    }
    NSXThrowIfError(AudioObjectGetPropertyData(kAudioObjectSystemObject, &kDeviceListAddress, 0,
                                               nullptr, &size, devices.data()));
    devices.resize(size / sizeof(AudioDeviceID)); // the list may have shrunk meanwhile
    return devices;
}

std::vector<std::shared_ptr<VELKAudioDevice>> VELKAudioHardware::allDevices() {
    std::vector<std::shared_ptr<VELKAudioDevice>> devices;
    for (AudioDeviceID device : allDeviceIDs()) {
        devices.push_back(VELKAudioDevice::withDeviceID(device));
    }
    return devices;
}

std::vector<std::shared_ptr<VELKAudioDevice>>
VELKAudioHardware::filteredDevices(bool (VELKAudioDevice::*predicate)() const) {
    std::vector<std::shared_ptr<VELKAudioDevice>> devices;
    for (auto& device : allDevices()) {
        if (((*device).*predicate)()) {
            devices.push_back(device);
        }
    }
    return devices;
}

std::vector<std::shared_ptr<VELKAudioDevice>> VELKAudioHardware::playbackDevices() {
    return filteredDevices(&VELKAudioDevice::canPlayback);
}

std::vector<std::shared_ptr<VELKAudioDevice>> VELKAudioHardware::recordingDevices() {
    return filteredDevices(&VELKAudioDevice::canRecord);
}

std::vector<std::shared_ptr<VELKAudioDevice>> VELKAudioHardware::stereoRecordingDevices() {
    return filteredDevices(&VELKAudioDevice::canRecordStereo);
}

uint32_t VELKAudioHardware::numberOfChannelsForDevice(AudioDeviceID device,
                                                      int32_t direction) const {
    return VELKAudioDevice(device).numberOfChannelsForDirection(direction);
}

uint32_t VELKAudioHardware::numberOfChannelsForDefaultInputDevice() const {
    return numberOfChannelsForDevice(defaultInputDeviceID(), kVELKAudioDirectionInput);
}

// Delegates

void VELKAudioHardware::addDelegate(VELKAudioHardwareDelegate* delegate) {
    if (delegate) {
        mDelegates.push_back(delegate);
    }
}

void VELKAudioHardware::removeDelegate(VELKAudioHardwareDelegate* delegate) {
    std::erase(mDelegates, delegate);
}

void VELKAudioHardware::notifyDelegatesWithSelectorString(const std::string& name) {
    using Notice = void (VELKAudioHardwareDelegate::*)();
    Notice notice = nullptr;
    if (name == "deviceListDidChange") {
        notice = &VELKAudioHardwareDelegate::deviceListDidChange;
    } else if (name == "defaultInputDeviceDidChange") {
        notice = &VELKAudioHardwareDelegate::defaultInputDeviceDidChange;
    } else if (name == "defaultInputDeviceSampleRateDidChange") {
        notice = &VELKAudioHardwareDelegate::defaultInputDeviceSampleRateDidChange;
    } else {
        return;
    }
    // A delegate may remove others (or itself) while hearing the notice:
    // skip any that are gone by the time their turn comes.
    const auto delegates = mDelegates;
    for (size_t i = 0; i < delegates.size(); ++i) {
        const auto remaining = std::count(mDelegates.begin(), mDelegates.end(), delegates[i]);
        const auto heardAlready =
            std::count(delegates.begin(), delegates.begin() + i, delegates[i]);
        if (heardAlready < remaining) {
            (delegates[i]->*notice)();
        }
    }
    try {
        if (name == "defaultInputDeviceDidChange") {
            defaultInputDeviceDidChange();
        }
    } catch (const NSXException& exception) {
        // On the main queue there is no caller to raise to.
        std::fprintf(stderr, "(ERROR) VELKAudioHardware : %s\n", exception.reason().c_str());
    }
}

void VELKAudioHardware::defaultInputDeviceDidChange() {
    removeDefaultInputListeners();
    addDefaultInputListeners();
}

void VELKAudioHardware::addDefaultInputListeners() {
    const AudioDeviceID device = defaultInputDeviceID();
    if (device == kAudioObjectUnknown) {
        return; // no input device: nothing to watch until one appears
    }
    NSXThrowIfError(AudioObjectAddPropertyListener(device, &kInputSampleRateAddress,
                                                   &VELKAudioHardware::deviceListener, this));
    mDefaultInputDevice = device;
}

void VELKAudioHardware::removeDefaultInputListeners() {
    if (mDefaultInputDevice == kAudioObjectUnknown) {
        return;
    }
    const AudioDeviceID device = mDefaultInputDevice;
    mDefaultInputDevice = kAudioObjectUnknown;
    NSXThrowIfError(AudioObjectRemovePropertyListener(device, &kInputSampleRateAddress,
                                                      &VELKAudioHardware::deviceListener, this));
}

// Listeners: on the hardware layer's notification thread. They touch no
// state; they only post to the main thread.

OSStatus VELKAudioHardware::hardwareListener(AudioObjectID, uint32_t numberAddresses,
                                             const AudioObjectPropertyAddress* addresses,
                                             void* clientData) {
    if (numberAddresses == 0) {
        return 0;
    }
    auto* hardware = static_cast<VELKAudioHardware*>(clientData);
    switch (addresses[0].mSelector) {
    case kAudioHardwarePropertyDevices:
        postNotice(hardware, "deviceListDidChange");
        break;
    case kAudioHardwarePropertyDefaultInputDevice:
        postNotice(hardware, "defaultInputDeviceDidChange");
        break;
    default:
        break;
    }
    return 0;
}

OSStatus VELKAudioHardware::deviceListener(AudioObjectID, uint32_t numberAddresses,
                                           const AudioObjectPropertyAddress* addresses,
                                           void* clientData) {
    for (uint32_t i = 0; i < numberAddresses; ++i) {
        if (addresses[i].mSelector == kAudioDevicePropertyNominalSampleRate) {
            postNotice(static_cast<VELKAudioHardware*>(clientData),
                       "defaultInputDeviceSampleRateDidChange");
            break;
        }
    }
    return 0;
}

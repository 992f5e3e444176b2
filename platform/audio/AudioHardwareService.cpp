#include "platform/audio/AudioHardwareService.h"

#include "platform/audio/DeviceClock.h"
#include "platform/audio/PulseHardware.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// A property's value: raw bytes, or a text handed out as a malloc'ed char*.
struct PropertyValue {
    std::vector<uint8_t> bytes;
    std::optional<std::string> text;
    bool isArray = false;

    uint32_t size() const {
        return text ? static_cast<uint32_t>(sizeof(char*)) : static_cast<uint32_t>(bytes.size());
    }
};

template <typename T>
PropertyValue valueOf(const T& value) {
    PropertyValue result;
    result.bytes.resize(sizeof(T));
    std::memcpy(result.bytes.data(), &value, sizeof(T));
    return result;
}

PropertyValue arrayOf(const std::vector<AudioObjectID>& ids) {
    PropertyValue result;
    result.isArray = true;
    result.bytes.resize(ids.size() * sizeof(AudioObjectID));
    if (!ids.empty()) {
        std::memcpy(result.bytes.data(), ids.data(), result.bytes.size());
    }
    return result;
}

PropertyValue textOf(const std::string& text) {
    PropertyValue result;
    result.text = text;
    return result;
}

AudioStreamBasicDescription streamFormatOf(const PulseDevice& device) {
    AudioStreamBasicDescription format{};
    format.mSampleRate = device.sampleRate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mChannelsPerFrame = device.channels;
    format.mFramesPerPacket = 1;
    switch (device.sampleFormat) {
    case PA_SAMPLE_FLOAT32LE:
    case PA_SAMPLE_FLOAT32BE:
        format.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
        format.mBitsPerChannel = 32;
        break;
    case PA_SAMPLE_S16LE:
    case PA_SAMPLE_S16BE:
        format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
        format.mBitsPerChannel = 16;
        break;
    case PA_SAMPLE_S24LE:
    case PA_SAMPLE_S24BE:
        format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
        format.mBitsPerChannel = 24;
        break;
    case PA_SAMPLE_S24_32LE:
    case PA_SAMPLE_S24_32BE:
        format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsAlignedHigh;
        format.mBitsPerChannel = 24;
        break;
    case PA_SAMPLE_S32LE:
    case PA_SAMPLE_S32BE:
        format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
        format.mBitsPerChannel = 32;
        break;
    default:
        format.mFormatFlags = kAudioFormatFlagIsPacked;
        format.mBitsPerChannel = 8;
        break;
    }
    const pa_sample_spec spec{device.sampleFormat, static_cast<uint32_t>(device.sampleRate),
                              static_cast<uint8_t>(device.channels)};
    if (pa_sample_format_is_be(device.sampleFormat) == 1) {
        format.mFormatFlags |= kAudioFormatFlagIsBigEndian;
    }
    format.mBytesPerFrame =
        pa_sample_spec_valid(&spec) ? static_cast<uint32_t>(pa_frame_size(&spec)) : 0;
    format.mBytesPerPacket = format.mBytesPerFrame;
    return format;
}

// Whether the device has the direction the scope asks about. The global
// scope covers both.
bool hasScope(const PulseDevice& device, uint32_t scope) {
    if (scope == kAudioObjectPropertyScopeInput) {
        return !device.isOutput;
    }
    if (scope == kAudioObjectPropertyScopeOutput) {
        return device.isOutput;
    }
    return true;
}

OSStatus systemProperty(const AudioObjectPropertyAddress& address, PropertyValue& value) {
    PulseHardware& hardware = PulseHardware::shared();
    switch (address.mSelector) {
    case kAudioHardwarePropertyDevices: {
        std::vector<AudioObjectID> ids;
        for (const auto& device : hardware.devices()) {
            ids.push_back(device.id);
        }
        value = arrayOf(ids);
        return kAudioHardwareNoError;
    }
    case kAudioHardwarePropertyDefaultInputDevice:
        value = valueOf(hardware.defaultInputDevice());
        return kAudioHardwareNoError;
    case kAudioHardwarePropertyDefaultOutputDevice:
    case kAudioHardwarePropertyDefaultSystemOutputDevice:
        value = valueOf(hardware.defaultOutputDevice());
        return kAudioHardwareNoError;
    case kAudioHardwarePropertyTranslateUIDToDevice:
        value = valueOf(AudioValueTranslation{});
        return kAudioHardwareNoError;
    default:
        return kAudioHardwareUnknownPropertyError;
    }
}

OSStatus deviceProperty(AudioObjectID object, const AudioObjectPropertyAddress& address,
                        PropertyValue& value) {
    const auto device = PulseHardware::shared().device(object);
    if (!device) {
        return kAudioHardwareBadObjectError;
    }
    const bool inScope = hasScope(*device, address.mScope);
    switch (address.mSelector) {
    case kAudioDevicePropertyDeviceUID:
        value = textOf(device->name);
        return kAudioHardwareNoError;
    case kAudioObjectPropertyName:
        value = textOf(device->description);
        return kAudioHardwareNoError;
    case kAudioDevicePropertyNominalSampleRate:
        value = valueOf(device->sampleRate);
        return kAudioHardwareNoError;
    case kAudioDevicePropertyStreamConfiguration: {
        // One interleaved stream per direction the device has.
        const uint32_t buffers = inScope && device->channels > 0 ? 1 : 0;
        value.bytes.assign(AudioBufferListSize(buffers), 0);
        auto* list = reinterpret_cast<AudioBufferList*>(value.bytes.data());
        list->mNumberBuffers = buffers;
        if (buffers) {
            list->mBuffers[0].mNumberChannels = device->channels;
        }
        return kAudioHardwareNoError;
    }
    case kAudioDevicePropertyBufferFrameSize:
        value = valueOf(device->bufferFrameSize);
        return kAudioHardwareNoError;
    case kAudioDevicePropertySafetyOffset:
        value = valueOf(inScope ? device->latencyFrames : 0u);
        return kAudioHardwareNoError;
    case kAudioDevicePropertyLatency:
        value = valueOf(0u);
        return kAudioHardwareNoError;
    case kAudioStreamPropertyDirection:
        value = valueOf(device->isOutput ? 0u : 1u);
        return kAudioHardwareNoError;
    case kAudioStreamPropertyPhysicalFormat:
        value = valueOf(streamFormatOf(*device));
        return kAudioHardwareNoError;
    case kAudioDevicePropertyStreamFormat:
        if (!inScope) {
            return kAudioHardwareUnknownPropertyError;
        }
        value = valueOf(streamFormatOf(*device));
        return kAudioHardwareNoError;
    case kAudioDevicePropertyStreams:
        value = arrayOf(inScope ? std::vector<AudioObjectID>{device->id}
                                : std::vector<AudioObjectID>{});
        return kAudioHardwareNoError;
    case kAudioDevicePropertyDeviceIsAlive:
        value = valueOf(1u);
        return kAudioHardwareNoError;
    default:
        return kAudioHardwareUnknownPropertyError;
    }
}

OSStatus readProperty(AudioObjectID object, const AudioObjectPropertyAddress* address,
                      PropertyValue& value) {
    if (!address) {
        return kAudioHardwareIllegalOperationError;
    }
    if (const OSStatus status = PulseHardware::shared().connect();
        status != kAudioHardwareNoError) {
        return status;
    }
    if (object == kAudioObjectSystemObject) {
        return systemProperty(*address, value);
    }
    return deviceProperty(object, *address, value);
}

OSStatus translateUID(uint32_t* ioDataSize, void* outData) {
    if (*ioDataSize < sizeof(AudioValueTranslation) || !outData) {
        return kAudioHardwareBadPropertySizeError;
    }
    auto* translation = static_cast<AudioValueTranslation*>(outData);
    if (!translation->mInputData || !translation->mOutputData ||
        translation->mOutputDataSize < sizeof(AudioDeviceID)) {
        return kAudioHardwareBadPropertySizeError;
    }
    const std::string uid(static_cast<const char*>(translation->mInputData),
                          translation->mInputDataSize);
    const AudioDeviceID id = PulseHardware::shared().deviceIDForName(uid);
    std::memcpy(translation->mOutputData, &id, sizeof(id));
    translation->mOutputDataSize = sizeof(id);
    return kAudioHardwareNoError;
}

} // namespace

OSStatus AudioObjectGetPropertyDataSize(AudioObjectID object,
                                        const AudioObjectPropertyAddress* address, uint32_t,
                                        const void*, uint32_t* outDataSize) {
    if (!outDataSize) {
        return kAudioHardwareIllegalOperationError;
    }
    PropertyValue value;
    const OSStatus status = readProperty(object, address, value);
    if (status == kAudioHardwareNoError) {
        *outDataSize = value.size();
    }
    return status;
}

OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                    uint32_t, const void*, uint32_t* ioDataSize, void* outData) {
    if (!ioDataSize || !outData) {
        return kAudioHardwareIllegalOperationError;
    }
    PropertyValue value;
    const OSStatus status = readProperty(object, address, value);
    if (status != kAudioHardwareNoError) {
        return status;
    }
    if (object == kAudioObjectSystemObject &&
        address->mSelector == kAudioHardwarePropertyTranslateUIDToDevice) {
        return translateUID(ioDataSize, outData);
    }
    if (value.text) {
        if (*ioDataSize < sizeof(char*)) {
            return kAudioHardwareBadPropertySizeError;
        }
        char* copy = strdup(value.text->c_str());
        std::memcpy(outData, &copy, sizeof(copy));
        *ioDataSize = sizeof(char*);
        return kAudioHardwareNoError;
    }
    uint32_t size = value.size();
    if (*ioDataSize < size) {
        if (!value.isArray) {
            return kAudioHardwareBadPropertySizeError;
        }
        size = *ioDataSize / sizeof(AudioObjectID) * sizeof(AudioObjectID);
    }
    if (size > 0) {
        std::memcpy(outData, value.bytes.data(), size);
    }
    *ioDataSize = size;
    return kAudioHardwareNoError;
}

OSStatus AudioObjectSetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                    uint32_t, const void*, uint32_t dataSize, const void* data) {
    if (!address || !data) {
        return kAudioHardwareIllegalOperationError;
    }
    if (const OSStatus status = PulseHardware::shared().connect();
        status != kAudioHardwareNoError) {
        return status;
    }
    if (address->mSelector != kAudioDevicePropertyBufferFrameSize ||
        object == kAudioObjectSystemObject) {
        return kAudioHardwareUnsupportedOperationError;
    }
    if (dataSize != sizeof(uint32_t)) {
        return kAudioHardwareBadPropertySizeError;
    }
    uint32_t frames = 0;
    std::memcpy(&frames, data, sizeof(frames));
    return PulseHardware::shared().setBufferFrameSize(object, frames);
}

bool AudioObjectHasProperty(AudioObjectID object, const AudioObjectPropertyAddress* address) {
    PropertyValue value;
    return readProperty(object, address, value) == kAudioHardwareNoError;
}

OSStatus AudioObjectAddPropertyListener(AudioObjectID object,
                                        const AudioObjectPropertyAddress* address,
                                        AudioObjectPropertyListenerProc listener,
                                        void* clientData) {
    if (!address) {
        return kAudioHardwareIllegalOperationError;
    }
    return PulseHardware::shared().addListener(object, *address, listener, clientData);
}

OSStatus AudioObjectRemovePropertyListener(AudioObjectID object,
                                           const AudioObjectPropertyAddress* address,
                                           AudioObjectPropertyListenerProc listener,
                                           void* clientData) {
    if (!address) {
        return kAudioHardwareIllegalOperationError;
    }
    return PulseHardware::shared().removeListener(object, *address, listener, clientData);
}

std::string AudioHardwareServerName() {
    return PulseHardware::shared().serverName();
}

std::string AudioHardwareLastError() {
    return PulseHardware::shared().lastError();
}

std::string AudioHardwareStatusDescription(OSStatus status) {
    switch (status) {
    case kAudioHardwareNoError:
        return "no error";
    case kAudioHardwareNotRunningError: {
        std::string text = "cannot connect to the audio server " + AudioHardwareServerName();
        const std::string reason = AudioHardwareLastError();
        return reason.empty() ? text : text + ": " + reason;
    }
    case kAudioHardwareUnknownPropertyError:
        return "the audio device has no such property";
    case kAudioHardwareBadPropertySizeError:
        return "wrong size for an audio property";
    case kAudioHardwareBadObjectError:
    case kAudioHardwareBadDeviceError:
        return "no such audio device";
    case kAudioHardwareIllegalOperationError:
    case kAudioHardwareUnsupportedOperationError:
        return "the audio server does not allow that";
    default:
        return "audio hardware error '" + FourCCString(static_cast<uint32_t>(status)) + "'";
    }
}

// Real-time: no allocation, no locks.
OSStatus AudioDeviceGetCurrentTime(AudioDeviceID device, AudioTimeStamp* outTime) {
    if (!outTime) {
        return kAudioHardwareIllegalOperationError;
    }
    return DeviceClocks::currentTime(device, *outTime);
}

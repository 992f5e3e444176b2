#pragma once

#include "platform/audio/AudioHardwareTypes.h"
#include "platform/audio/AudioUnitTypes.h"

#include <string>

// The audio hardware service: properties of the system object and of the
// devices, read by selector, scope and element; listeners on them. Devices
// are the PulseAudio server's sinks and sources. Every call returns a status,
// 0 for success.
//
// Data of each property:
//   'dev#'  AudioDeviceID[]           'dIn ', 'dOut', 'sOut'  AudioDeviceID
//   'duid'  AudioValueTranslation (UTF-8 UID in, AudioDeviceID out)
//   'uid ', 'lnam'  char* (malloc'ed UTF-8; the caller frees it)
//   'nsrt'  double                    'slay'  AudioBufferList (channels per buffer)
//   'fsiz', 'saft', 'ltnc'  uint32_t frames    'sfmt'  AudioStreamBasicDescription
//   'stm#'  AudioObjectID[]           'livn'  uint32_t
// A device has one stream a direction, whose ID is the device's: 'sdir'
// (uint32_t, 1 input, 0 output) and 'pft ' (its format, with a listener
// that fires when the format changes).
// Device properties that depend on direction answer in the 'inpt' and 'outp'
// scopes; a sink has nothing in 'inpt', a source nothing in 'outp'.

OSStatus AudioObjectGetPropertyDataSize(AudioObjectID object,
                                        const AudioObjectPropertyAddress* address,
                                        uint32_t qualifierSize, const void* qualifier,
                                        uint32_t* outDataSize);
OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                    uint32_t qualifierSize, const void* qualifier,
                                    uint32_t* ioDataSize, void* outData);
// Only 'fsiz' of a device can be set.
OSStatus AudioObjectSetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                    uint32_t qualifierSize, const void* qualifier,
                                    uint32_t dataSize, const void* data);
bool AudioObjectHasProperty(AudioObjectID object, const AudioObjectPropertyAddress* address);

OSStatus AudioObjectAddPropertyListener(AudioObjectID object,
                                        const AudioObjectPropertyAddress* address,
                                        AudioObjectPropertyListenerProc listener, void* clientData);
OSStatus AudioObjectRemovePropertyListener(AudioObjectID object,
                                           const AudioObjectPropertyAddress* address,
                                           AudioObjectPropertyListenerProc listener,
                                           void* clientData);

// The same reads, under the name the hardware-service helpers use.
inline OSStatus AudioHardwareServiceGetPropertyData(AudioObjectID object,
                                                    const AudioObjectPropertyAddress* address,
                                                    uint32_t qualifierSize, const void* qualifier,
                                                    uint32_t* ioDataSize, void* outData) {
    return AudioObjectGetPropertyData(object, address, qualifierSize, qualifier, ioDataSize,
                                      outData);
}

// The device's current time: the frame it is at now (on the time line of
// one of our streams running on it), the host time, and its rate scalar
// (actual frames a second / nominal rate), estimated from the streams'
// callbacks. kAudioHardwareNotRunningError when no stream of ours runs on
// the device. Real-time: no allocation, no locks.
OSStatus AudioDeviceGetCurrentTime(AudioDeviceID device, AudioTimeStamp* outTime);

// The server the layer connects to, and why the last attempt failed.
std::string AudioHardwareServerName();
std::string AudioHardwareLastError();

// A one-line explanation of a status, for people.
std::string AudioHardwareStatusDescription(OSStatus status);

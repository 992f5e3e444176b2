#pragma once

#include "platform/audio/AudioHardwareTypes.h"

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

// The server the layer connects to, and why the last attempt failed.
std::string AudioHardwareServerName();
std::string AudioHardwareLastError();

// A one-line explanation of a status, for people.
std::string AudioHardwareStatusDescription(OSStatus status);

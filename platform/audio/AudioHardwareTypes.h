#pragma once

#include "platform/audio/FourCharCode.h"

#include <cstddef>
#include <cstdint>

// The records and codes of the audio hardware service. Statuses are int32_t,
// 0 meaning success.

using AudioObjectID = uint32_t;
using AudioDeviceID = AudioObjectID;
using OSStatus = int32_t;

constexpr AudioObjectID kAudioObjectUnknown = 0;
constexpr AudioObjectID kAudioObjectSystemObject = 1;

struct AudioObjectPropertyAddress {
    uint32_t mSelector;
    uint32_t mScope;
    uint32_t mElement;
};

// Scopes
constexpr uint32_t kAudioObjectPropertyScopeGlobal = FourCC("glob");
constexpr uint32_t kAudioObjectPropertyScopeInput = FourCC("inpt");
constexpr uint32_t kAudioObjectPropertyScopeOutput = FourCC("outp");
constexpr uint32_t kAudioObjectPropertyScopeWildcard = FourCC("****");
constexpr uint32_t kAudioObjectPropertyElementMain = 0;

// System object properties
constexpr uint32_t kAudioHardwarePropertyDevices = FourCC("dev#");             // AudioDeviceID[]
constexpr uint32_t kAudioHardwarePropertyDefaultInputDevice = FourCC("dIn ");  // AudioDeviceID
constexpr uint32_t kAudioHardwarePropertyDefaultOutputDevice = FourCC("dOut"); // AudioDeviceID
constexpr uint32_t kAudioHardwarePropertyDefaultSystemOutputDevice = FourCC("sOut");
constexpr uint32_t kAudioHardwarePropertyTranslateUIDToDevice =
    FourCC("duid"); // AudioValueTranslation

// Device properties
constexpr uint32_t kAudioDevicePropertyDeviceUID = FourCC("uid ");           // char*, caller frees
constexpr uint32_t kAudioObjectPropertyName = FourCC("lnam");                // char*, caller frees
constexpr uint32_t kAudioDevicePropertyNominalSampleRate = FourCC("nsrt");   // double
constexpr uint32_t kAudioDevicePropertyStreamConfiguration = FourCC("slay"); // AudioBufferList
constexpr uint32_t kAudioDevicePropertyBufferFrameSize = FourCC("fsiz");     // uint32_t frames
constexpr uint32_t kAudioDevicePropertySafetyOffset = FourCC("saft");        // uint32_t frames
constexpr uint32_t kAudioDevicePropertyStreamFormat = FourCC("sfmt"); // AudioStreamBasicDescription
constexpr uint32_t kAudioDevicePropertyStreams = FourCC("stm#");      // AudioObjectID[]
constexpr uint32_t kAudioDevicePropertyLatency = FourCC("ltnc");      // uint32_t frames
constexpr uint32_t kAudioDevicePropertyDeviceIsAlive = FourCC("livn"); // uint32_t

// Stream properties (a device's stream has the device's ID)
constexpr uint32_t kAudioStreamPropertyDirection = FourCC("sdir"); // uint32_t: 0 output, 1 input
constexpr uint32_t kAudioStreamPropertyPhysicalFormat =
    FourCC("pft "); // AudioStreamBasicDescription

// Statuses
constexpr OSStatus kAudioHardwareNoError = 0;
constexpr OSStatus kAudioHardwareNotRunningError = static_cast<OSStatus>(FourCC("stop"));
constexpr OSStatus kAudioHardwareUnspecifiedError = static_cast<OSStatus>(FourCC("what"));
constexpr OSStatus kAudioHardwareUnknownPropertyError = static_cast<OSStatus>(FourCC("who?"));
constexpr OSStatus kAudioHardwareBadPropertySizeError = static_cast<OSStatus>(FourCC("!siz"));
constexpr OSStatus kAudioHardwareIllegalOperationError = static_cast<OSStatus>(FourCC("nope"));
constexpr OSStatus kAudioHardwareBadObjectError = static_cast<OSStatus>(FourCC("!obj"));
constexpr OSStatus kAudioHardwareBadDeviceError = static_cast<OSStatus>(FourCC("!dev"));
constexpr OSStatus kAudioHardwareUnsupportedOperationError = static_cast<OSStatus>(FourCC("unop"));
constexpr OSStatus kAudio_ParamError = -50;

// Format codes and flags of a stream description.
constexpr uint32_t kAudioFormatLinearPCM = FourCC("lpcm");
constexpr uint32_t kAudioFormatAppleLossless = FourCC("alac");
constexpr uint32_t kAudioFormatMPEG4AAC = FourCC("aac ");

constexpr uint32_t kAudioFormatFlagIsFloat = 1u << 0;
constexpr uint32_t kAudioFormatFlagIsBigEndian = 1u << 1;
constexpr uint32_t kAudioFormatFlagIsSignedInteger = 1u << 2;
constexpr uint32_t kAudioFormatFlagIsPacked = 1u << 3;
constexpr uint32_t kAudioFormatFlagIsAlignedHigh = 1u << 4;
constexpr uint32_t kAudioFormatFlagIsNonInterleaved = 1u << 5;

struct AudioStreamBasicDescription {
    double mSampleRate;
    uint32_t mFormatID;
    uint32_t mFormatFlags;
    uint32_t mBytesPerPacket;
    uint32_t mFramesPerPacket;
    uint32_t mBytesPerFrame;
    uint32_t mChannelsPerFrame;
    uint32_t mBitsPerChannel;
    uint32_t mReserved;
};

struct AudioBuffer {
    uint32_t mNumberChannels;
    uint32_t mDataByteSize;
    void* mData;
};

// A count followed by that many buffers (the record is allocated to size).
struct AudioBufferList {
    uint32_t mNumberBuffers;
    AudioBuffer mBuffers[1];
};

constexpr uint32_t AudioBufferListSize(uint32_t buffers) {
    return static_cast<uint32_t>(offsetof(AudioBufferList, mBuffers) +
                                 sizeof(AudioBuffer) * buffers);
}

// Translates a value of one kind into another; for 'duid' the input is a
// UID in UTF-8 and the output an AudioDeviceID.
struct AudioValueTranslation {
    const void* mInputData;
    uint32_t mInputDataSize;
    void* mOutputData;
    uint32_t mOutputDataSize;
};

// Called on the hardware layer's notification thread with the addresses of
// the properties that changed.
using AudioObjectPropertyListenerProc = OSStatus (*)(AudioObjectID object, uint32_t numberAddresses,
                                                     const AudioObjectPropertyAddress* addresses,
                                                     void* clientData);

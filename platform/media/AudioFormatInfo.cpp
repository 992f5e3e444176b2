#include "platform/media/ExtAudioFile.h"

#include <cstring>

// The audio-format and audio-file global queries.

OSStatus AudioFormatGetProperty(uint32_t property, uint32_t, const void*, uint32_t* ioSize,
                                void* outData) {
    if (property != kAudioFormatProperty_FormatInfo) {
        return kAudioFileUnsupportedPropertyError;
    }
    if (!ioSize || !outData || *ioSize < sizeof(AudioStreamBasicDescription)) {
        return kAudioFileBadPropertySizeError;
    }
    AudioStreamBasicDescription format;
    std::memcpy(&format, outData, sizeof(format));
    switch (format.mFormatID) {
    case kAudioFormatAppleLossless:
        format.mFramesPerPacket = 4096;
        format.mBytesPerPacket = 0; // variable
        format.mBytesPerFrame = 0;
        format.mBitsPerChannel = 0;
        break;
    case kAudioFormatMPEG4AAC:
        format.mFramesPerPacket = 1024;
        format.mBytesPerPacket = 0;
        format.mBytesPerFrame = 0;
        format.mBitsPerChannel = 0;
        format.mFormatFlags = 0;
        break;
    case kAudioFormatLinearPCM: {
        if (format.mBitsPerChannel == 0 || format.mChannelsPerFrame == 0) {
            return kAudioFileUnsupportedDataFormatError;
        }
        const bool nonInterleaved = format.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
        const uint32_t sampleBytes = (format.mBitsPerChannel + 7) / 8;
        format.mFramesPerPacket = 1;
        format.mBytesPerFrame =
            nonInterleaved ? sampleBytes : sampleBytes * format.mChannelsPerFrame;
        format.mBytesPerPacket = format.mBytesPerFrame;
        break;
    }
    default:
        return kAudioFileUnsupportedDataFormatError;
    }
    std::memcpy(outData, &format, sizeof(format));
    *ioSize = sizeof(format);
    return kAudioHardwareNoError;
}

// MPEG-4 files hold compressed audio only: no linear PCM description is
// available for them.
OSStatus AudioFileGetGlobalInfoSize(uint32_t property, uint32_t specifierSize,
                                    const void* specifier, uint32_t* outSize) {
    if (property != kAudioFileGlobalInfo_AvailableStreamDescriptionsForFormat ||
        specifierSize != sizeof(AudioFileTypeAndFormatID) || !specifier || !outSize) {
        return kAudioFileUnsupportedPropertyError;
    }
    AudioFileTypeAndFormatID typeAndFormat;
    std::memcpy(&typeAndFormat, specifier, sizeof(typeAndFormat));
    if (typeAndFormat.mFileType != kAudioFileM4AType &&
        typeAndFormat.mFileType != kAudioFileMPEG4Type) {
        return kAudioFileUnsupportedFileTypeError;
    }
    if (typeAndFormat.mFormatID == kAudioFormatLinearPCM) {
        return kAudioFileUnsupportedDataFormatError;
    }
    *outSize = sizeof(AudioStreamBasicDescription);
    return kAudioHardwareNoError;
}

OSStatus AudioFileGetGlobalInfo(uint32_t property, uint32_t specifierSize, const void* specifier,
                                uint32_t* ioSize, void* outData) {
    uint32_t size = 0;
    if (const OSStatus status =
            AudioFileGetGlobalInfoSize(property, specifierSize, specifier, &size);
        status != kAudioHardwareNoError) {
        return status;
    }
    if (!ioSize || !outData || *ioSize < size) {
        return kAudioFileBadPropertySizeError;
    }
    AudioFileTypeAndFormatID typeAndFormat;
    std::memcpy(&typeAndFormat, specifier, sizeof(typeAndFormat));
    AudioStreamBasicDescription format{};
    format.mFormatID = typeAndFormat.mFormatID;
    std::memcpy(outData, &format, sizeof(format));
    *ioSize = sizeof(format);
    return kAudioHardwareNoError;
}

std::string AudioFileStatusDescription(OSStatus status) {
    switch (status) {
    case kAudioHardwareNoError:
        return "no error";
    case kAudioFileFileNotFoundError:
        return "no such file";
    case kAudioFilePermissionsError:
        return "permission denied";
    case kAudioFileDiskFullError:
        return "the disk is full";
    case kAudioFileUnsupportedFileTypeError:
        return "not an MPEG-4 audio file";
    case kAudioFileUnsupportedDataFormatError:
        return "unsupported audio format";
    case kAudioFileInvalidFileError:
        return "the file is damaged or not an audio file";
    case kExtAudioFileError_InvalidSeek:
        return "position outside the file";
    case kExtAudioFileError_InvalidDataFormat:
        return "unsupported client format";
    case kExtAudioFileError_InvalidOperationOrder:
        return "the file is already being written";
    case kAudioFileNotOpenError:
        return "the file is closed";
    default:
        return "audio file error " + std::to_string(status);
    }
}

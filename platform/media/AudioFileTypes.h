#pragma once

#include "platform/audio/AudioHardwareTypes.h"

#include <cstdint>

// The records, property codes and statuses of the converting audio-file
// service, the audio-file service, the audio converter and the audio-format
// service.

struct OpaqueExtAudioFile;
using ExtAudioFileRef = OpaqueExtAudioFile*;
struct OpaqueAudioFile;
using AudioFileID = OpaqueAudioFile*;
struct OpaqueAudioConverter;
using AudioConverterRef = OpaqueAudioConverter*;

// File types
constexpr uint32_t kAudioFileM4AType = FourCC("m4af");
constexpr uint32_t kAudioFileMPEG4Type = FourCC("mp4f");

constexpr uint32_t kAudioFileFlags_EraseFile = 1;

// Converting-file properties
constexpr uint32_t kExtAudioFileProperty_ClientDataFormat = FourCC("cfmt");
constexpr uint32_t kExtAudioFileProperty_FileDataFormat = FourCC("ffmt");
constexpr uint32_t kExtAudioFileProperty_AudioConverter = FourCC("acnv");
constexpr uint32_t kExtAudioFileProperty_ConverterConfig = FourCC("accf");
constexpr uint32_t kExtAudioFileProperty_AudioFile = FourCC("afil");
constexpr uint32_t kExtAudioFileProperty_ClientMaxPacketSize = FourCC("cmps");
constexpr uint32_t kExtAudioFileProperty_FileLengthFrames = FourCC("#frm");

// Audio-file properties
constexpr uint32_t kAudioFilePropertyAudioDataPacketCount = FourCC("pcnt"); // uint64_t
constexpr uint32_t kAudioFilePropertyDataFormat = FourCC("dfmt"); // AudioStreamBasicDescription
constexpr uint32_t kAudioFilePropertyPacketTableInfo = FourCC("pnfo"); // AudioFilePacketTableInfo
constexpr uint32_t kAudioFilePropertyPacketToFrame = FourCC("pkfr"); // AudioFramePacketTranslation
constexpr uint32_t kAudioFilePropertyMaximumPacketSize = FourCC("psze"); // uint32_t
constexpr uint32_t kAudioFilePropertyBitRate = FourCC("brat");           // uint32_t

// Converter properties
constexpr uint32_t kAudioConverterPrimeInfo = FourCC("prim");     // AudioConverterPrimeInfo
constexpr uint32_t kAudioConverterEncodeBitRate = FourCC("brat"); // uint32_t

// Audio-format and audio-file global queries
constexpr uint32_t kAudioFormatProperty_FormatInfo = FourCC("fmti");
constexpr uint32_t kAudioFileGlobalInfo_AvailableStreamDescriptionsForFormat = FourCC("sdid");

// Apple Lossless source bit depths, in the format flags.
constexpr uint32_t kAppleLosslessFormatFlag_16BitSourceData = 1;
constexpr uint32_t kAppleLosslessFormatFlag_20BitSourceData = 2;
constexpr uint32_t kAppleLosslessFormatFlag_24BitSourceData = 3;
constexpr uint32_t kAppleLosslessFormatFlag_32BitSourceData = 4;

struct AudioFilePacketTableInfo {
    int64_t mNumberValidFrames;
    int32_t mPrimingFrames;
    int32_t mRemainderFrames;
};

struct AudioConverterPrimeInfo {
    uint32_t leadingFrames;
    uint32_t trailingFrames;
};

struct AudioFramePacketTranslation {
    int64_t mFrame;
    int64_t mPacket;
    uint32_t mFrameOffsetInPacket;
};

struct AudioFileTypeAndFormatID {
    uint32_t mFileType;
    uint32_t mFormatID;
};

// Statuses
constexpr OSStatus kExtAudioFileError_InvalidProperty = -66561;
constexpr OSStatus kExtAudioFileError_InvalidPropertySize = -66562;
constexpr OSStatus kExtAudioFileError_NonPCMClientFormat = -66563;
constexpr OSStatus kExtAudioFileError_InvalidOperationOrder = -66565;
constexpr OSStatus kExtAudioFileError_InvalidDataFormat = -66566;
constexpr OSStatus kExtAudioFileError_InvalidSeek = -66568;
constexpr OSStatus kAudioFileUnspecifiedError = static_cast<OSStatus>(FourCC("wht?"));
constexpr OSStatus kAudioFileUnsupportedFileTypeError = static_cast<OSStatus>(FourCC("typ?"));
constexpr OSStatus kAudioFileUnsupportedDataFormatError = static_cast<OSStatus>(FourCC("fmt?"));
constexpr OSStatus kAudioFileUnsupportedPropertyError = static_cast<OSStatus>(FourCC("pty?"));
constexpr OSStatus kAudioFileBadPropertySizeError = static_cast<OSStatus>(FourCC("!siz"));
constexpr OSStatus kAudioFilePermissionsError = static_cast<OSStatus>(FourCC("prm?"));
constexpr OSStatus kAudioFileInvalidFileError = static_cast<OSStatus>(FourCC("dta?"));
constexpr OSStatus kAudioFileOperationNotSupportedError = static_cast<OSStatus>(FourCC("op??"));
constexpr OSStatus kAudioFileNotOpenError = -38;
constexpr OSStatus kAudioFileEndOfFileError = -39;
constexpr OSStatus kAudioFilePositionError = -40;
constexpr OSStatus kAudioFileFileNotFoundError = -43;
constexpr OSStatus kAudioFileDiskFullError = -34;
constexpr OSStatus kAudioConverterErr_PropertyNotSupported = static_cast<OSStatus>(FourCC("prop"));
constexpr OSStatus kAudioConverterErr_FormatNotSupported = static_cast<OSStatus>(FourCC("fmt?"));

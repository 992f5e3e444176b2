#include "platform/media/ExtAudioFile.h"

#include "platform/media/MediaAudioFile.h"

#include <cstring>

namespace {

MediaAudioFile* fileOf(ExtAudioFileRef file) {
    return reinterpret_cast<MediaAudioFile*>(file);
}

template <typename T>
OSStatus copyOut(const T& value, uint32_t* ioSize, void* outData) {
    if (!ioSize || !outData) {
        return kAudio_ParamError;
    }
    if (*ioSize < sizeof(T)) {
        return kExtAudioFileError_InvalidPropertySize;
    }
    std::memcpy(outData, &value, sizeof(T));
    *ioSize = sizeof(T);
    return kAudioHardwareNoError;
}

} // namespace

OSStatus ExtAudioFileCreateWithURL(const char* path, uint32_t fileType,
                                   const AudioStreamBasicDescription* format,
                                   const void* channelLayout, uint32_t flags,
                                   ExtAudioFileRef* outFile) {
    if (!path || !format || !outFile || channelLayout) {
        return kAudio_ParamError;
    }
    *outFile = nullptr;
    std::unique_ptr<MediaAudioFile> file;
    const OSStatus status = MediaAudioFile::create(path, fileType, *format, &file,
                                                   (flags & kAudioFileFlags_EraseFile) != 0);
    if (status == kAudioHardwareNoError) {
        *outFile = reinterpret_cast<ExtAudioFileRef>(file.release());
    }
    return status;
}

OSStatus ExtAudioFileOpenURL(const char* path, ExtAudioFileRef* outFile) {
    if (!path || !outFile) {
        return kAudio_ParamError;
    }
    *outFile = nullptr;
    std::unique_ptr<MediaAudioFile> file;
    const OSStatus status = MediaAudioFile::open(path, &file);
    if (status == kAudioHardwareNoError) {
        *outFile = reinterpret_cast<ExtAudioFileRef>(file.release());
    }
    return status;
}

OSStatus ExtAudioFileDispose(ExtAudioFileRef file) {
    if (!file) {
        return kAudio_ParamError;
    }
    std::unique_ptr<MediaAudioFile> owned(fileOf(file));
    return owned->close();
}

OSStatus ExtAudioFileGetPropertyInfo(ExtAudioFileRef file, uint32_t property, uint32_t* outSize,
                                     bool* outWritable) {
    if (!file) {
        return kAudio_ParamError;
    }
    uint32_t size = 0;
    bool writable = false;
    switch (property) {
    case kExtAudioFileProperty_ClientDataFormat:
        size = sizeof(AudioStreamBasicDescription);
        writable = true;
        break;
    case kExtAudioFileProperty_FileDataFormat:
        size = sizeof(AudioStreamBasicDescription);
        break;
    case kExtAudioFileProperty_AudioConverter:
        size = sizeof(AudioConverterRef);
        break;
    case kExtAudioFileProperty_AudioFile:
        size = sizeof(AudioFileID);
        break;
    case kExtAudioFileProperty_ConverterConfig:
        size = sizeof(void*);
        writable = true;
        break;
    case kExtAudioFileProperty_ClientMaxPacketSize:
    case kExtAudioFileProperty_FileLengthFrames:
        size =
            property == kExtAudioFileProperty_FileLengthFrames ? sizeof(int64_t) : sizeof(uint32_t);
        break;
    default:
        return kExtAudioFileError_InvalidProperty;
    }
    if (outSize) {
        *outSize = size;
    }
    if (outWritable) {
        *outWritable = writable;
    }
    return kAudioHardwareNoError;
}

OSStatus ExtAudioFileGetProperty(ExtAudioFileRef file, uint32_t property, uint32_t* ioSize,
                                 void* outData) {
    if (!file) {
        return kAudio_ParamError;
    }
    MediaAudioFile* media = fileOf(file);
    switch (property) {
    case kExtAudioFileProperty_ClientDataFormat:
        return copyOut(media->clientFormat(), ioSize, outData);
    case kExtAudioFileProperty_FileDataFormat:
        return copyOut(media->fileFormat(), ioSize, outData);
    case kExtAudioFileProperty_AudioConverter:
        return copyOut(reinterpret_cast<AudioConverterRef>(media), ioSize, outData);
    case kExtAudioFileProperty_AudioFile:
        return copyOut(reinterpret_cast<AudioFileID>(media), ioSize, outData);
    case kExtAudioFileProperty_ClientMaxPacketSize:
        // One client packet is one float frame.
        return copyOut(static_cast<uint32_t>(media->clientFormat().mBytesPerFrame), ioSize,
                       outData);
    case kExtAudioFileProperty_FileLengthFrames:
        return copyOut(media->packetTableInfo().mNumberValidFrames, ioSize, outData);
    default:
        return kExtAudioFileError_InvalidProperty;
    }
}

OSStatus ExtAudioFileSetProperty(ExtAudioFileRef file, uint32_t property, uint32_t size,
                                 const void* data) {
    if (!file) {
        return kAudio_ParamError;
    }
    switch (property) {
    case kExtAudioFileProperty_ClientDataFormat: {
        if (size != sizeof(AudioStreamBasicDescription) || !data) {
            return kExtAudioFileError_InvalidPropertySize;
        }
        AudioStreamBasicDescription format;
        std::memcpy(&format, data, sizeof(format));
        return fileOf(file)->setClientFormat(format);
    }
    case kExtAudioFileProperty_ConverterConfig:
        // The converter's settings are taken as they are when encoding starts.
        return size == sizeof(void*) ? kAudioHardwareNoError
                                     : kExtAudioFileError_InvalidPropertySize;
    default:
        return kExtAudioFileError_InvalidProperty;
    }
}

OSStatus ExtAudioFileRead(ExtAudioFileRef file, uint32_t* ioFrames, AudioBufferList* data) {
    if (!file) {
        return kAudio_ParamError;
    }
    return fileOf(file)->read(ioFrames, data);
}

OSStatus ExtAudioFileWrite(ExtAudioFileRef file, uint32_t frames, const AudioBufferList* data) {
    if (!file) {
        return kAudio_ParamError;
    }
    return fileOf(file)->write(frames, data);
}

OSStatus ExtAudioFileWriteAsync(ExtAudioFileRef file, uint32_t frames,
                                const AudioBufferList* data) {
    return ExtAudioFileWrite(file, frames, data);
}

OSStatus ExtAudioFileSeek(ExtAudioFileRef file, int64_t frame) {
    if (!file) {
        return kAudio_ParamError;
    }
    return fileOf(file)->seek(frame);
}

OSStatus ExtAudioFileTell(ExtAudioFileRef file, int64_t* outFrame) {
    if (!file || !outFrame) {
        return kAudio_ParamError;
    }
    *outFrame = fileOf(file)->tell();
    return kAudioHardwareNoError;
}

OSStatus AudioFileGetProperty(AudioFileID file, uint32_t property, uint32_t* ioSize,
                              void* outData) {
    if (!file) {
        return kAudio_ParamError;
    }
    auto* media = reinterpret_cast<MediaAudioFile*>(file);
    switch (property) {
    case kAudioFilePropertyAudioDataPacketCount:
        return copyOut(static_cast<uint64_t>(media->packetCount()), ioSize, outData);
    case kAudioFilePropertyDataFormat:
        return copyOut(media->fileFormat(), ioSize, outData);
    case kAudioFilePropertyPacketTableInfo:
        return copyOut(media->packetTableInfo(), ioSize, outData);
    case kAudioFilePropertyMaximumPacketSize:
        return copyOut(media->maximumPacketSize(), ioSize, outData);
    case kAudioFilePropertyBitRate:
        return copyOut(media->encodeBitRate(), ioSize, outData);
    case kAudioFilePropertyPacketToFrame: {
        if (!ioSize || *ioSize < sizeof(AudioFramePacketTranslation) || !outData) {
            return kAudioFileBadPropertySizeError;
        }
        auto* translation = static_cast<AudioFramePacketTranslation*>(outData);
        translation->mFrame = translation->mPacket * media->framesPerPacket();
        return kAudioHardwareNoError;
    }
    default:
        return kAudioFileUnsupportedPropertyError;
    }
}

OSStatus AudioConverterGetProperty(AudioConverterRef converter, uint32_t property, uint32_t* ioSize,
                                   void* outData) {
    if (!converter) {
        return kAudio_ParamError;
    }
    auto* media = reinterpret_cast<MediaAudioFile*>(converter);
    switch (property) {
    case kAudioConverterPrimeInfo:
        return copyOut(media->primeInfo(), ioSize, outData);
    case kAudioConverterEncodeBitRate:
        if (!media->isWriting()) {
            return kAudioConverterErr_PropertyNotSupported;
        }
        return copyOut(media->encodeBitRate(), ioSize, outData);
    default:
        return kAudioConverterErr_PropertyNotSupported;
    }
}

OSStatus AudioConverterSetProperty(AudioConverterRef converter, uint32_t property, uint32_t size,
                                   const void* data) {
    if (!converter || !data) {
        return kAudio_ParamError;
    }
    if (property != kAudioConverterEncodeBitRate) {
        return kAudioConverterErr_PropertyNotSupported;
    }
    if (size != sizeof(uint32_t)) {
        return kExtAudioFileError_InvalidPropertySize;
    }
    uint32_t rate = 0;
    std::memcpy(&rate, data, sizeof(rate));
    return reinterpret_cast<MediaAudioFile*>(converter)->setEncodeBitRate(rate);
}

std::string ExtAudioFileCurrentPath(ExtAudioFileRef file) {
    return file ? fileOf(file)->currentPath() : std::string();
}

std::string AudioFileLastErrorText() {
    return MediaAudioFile::lastErrorOnThisThread();
}

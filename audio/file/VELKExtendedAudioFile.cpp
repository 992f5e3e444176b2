#include "audio/file/VELKExtendedAudioFile.h"

#include "audio/file/VELKAudioFileErrors.h"

#include <cstdio>
#include <vector>

const char* const kVELKExtendedAudioFileClientDataFormatKey =
    "VELKExtendedAudioFileClientDataFormat";

namespace {

constexpr double kFallbackSampleRate = 44100.0;

// Whether an MPEG-4 file of this type takes linear PCM of these bits in
// little-endian order. When the platform cannot say, nothing changes.
bool acceptsLittleEndian(uint32_t fileType, uint32_t bitsPerChannel) {
    AudioFileTypeAndFormatID specifier{fileType, kAudioFormatLinearPCM};
    uint32_t size = 0;
    if (AudioFileGetGlobalInfoSize(kAudioFileGlobalInfo_AvailableStreamDescriptionsForFormat,
                                   sizeof(specifier), &specifier, &size) != 0 ||
        size == 0) {
        return true;
    }
    std::vector<AudioStreamBasicDescription> formats(size / sizeof(AudioStreamBasicDescription));
    if (AudioFileGetGlobalInfo(kAudioFileGlobalInfo_AvailableStreamDescriptionsForFormat,
                               sizeof(specifier), &specifier, &size, formats.data()) != 0) {
        return true;
    }
    for (const auto& format : formats) {
        if (format.mBitsPerChannel == bitsPerChannel &&
            (format.mFormatFlags & kAudioFormatFlagIsBigEndian) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

VELKExtendedAudioFile::VELKExtendedAudioFile(std::string filename)
    : mFilename(std::move(filename)) {}

std::shared_ptr<VELKExtendedAudioFile> VELKExtendedAudioFile::forRecording(
    const std::string& filename,
    const std::shared_ptr<VELKAudioStreamBasicDescription>& streamDescription, uint64_t bitrate,
    const std::shared_ptr<VELKAudioDevice>& audioDevice, bool replaceExisting) {
    std::shared_ptr<VELKExtendedAudioFile> file(new VELKExtendedAudioFile(filename));
    AudioStreamBasicDescription asbd = streamDescription
                                           ? streamDescription->audioStreamBasicDescription()
                                           : AudioStreamBasicDescription{};
    const uint32_t audioFileType =
        asbd.mFormatID == kAudioFormatAppleLossless ? kAudioFileM4AType : kAudioFileMPEG4Type;
    if (!acceptsLittleEndian(audioFileType, asbd.mBitsPerChannel)) {
        asbd.mFormatFlags |= kAudioFormatFlagIsBigEndian;
    }
    ExtAudioFileRef afRef = nullptr;
    VELKThrowIfAudioFileError(ExtAudioFileCreateWithURL(
        filename.c_str(), audioFileType, &asbd, nullptr,
        replaceExisting ? kAudioFileFlags_EraseFile : 0, &afRef));
    file->mAudioFile = afRef;
    // From here on the object closes the file if a later step raises.
    file->setClientDataFormatForRecordingWithDevice(audioDevice.get());
    if (bitrate != 0) {
        file->setBitrate(bitrate);
    }
    VELKThrowIfAudioFileError(ExtAudioFileWriteAsync(file->mAudioFile, 0, nullptr));
    return file;
}

std::shared_ptr<VELKExtendedAudioFile>
VELKExtendedAudioFile::forPlayback(const std::string& filename,
                                   const VELKExtendedAudioFileOptions& options) {
    std::shared_ptr<VELKExtendedAudioFile> file(new VELKExtendedAudioFile(filename));
    ExtAudioFileRef afRef = nullptr;
    VELKThrowIfAudioFileError(ExtAudioFileOpenURL(filename.c_str(), &afRef));
    file->mAudioFile = afRef;
    if (const auto option = options.find(kVELKExtendedAudioFileClientDataFormatKey);
        option != options.end()) {
        file->mPreferredClientDataFormat = option->second;
    }
    file->setClientDataFormatForPlayback();
    return file;
}

VELKExtendedAudioFile::~VELKExtendedAudioFile() {
    if (mAudioFile) {
        const OSStatus status = ExtAudioFileDispose(mAudioFile);
        mAudioFile = nullptr;
        if (status != 0) {
            std::fprintf(stderr, "(ERROR) VELKExtendedAudioFile : %s\n",
                         AudioFileLastErrorText().c_str());
        }
    }
}

void VELKExtendedAudioFile::closeFile() {
    if (!mAudioFile) {
        return;
    }
    std::lock_guard lock(mReadLock);
    ExtAudioFileRef afRef = mAudioFile;
    mAudioFile = nullptr;
    // A recording's folder may have been renamed meanwhile: it is where its
    // descriptor says.
    if (const std::string path = ExtAudioFileCurrentPath(afRef); !path.empty()) {
        std::lock_guard named(mFilenameLock);
        mFilename = path;
    }
    VELKThrowIfAudioFileError(ExtAudioFileDispose(afRef));
}

// Formats

void VELKExtendedAudioFile::setClientDataFormatForRecordingWithDevice(
    const VELKAudioDevice* device) {
    auto client = VELKAudioStreamBasicDescription::nativeStreamDescription();
    client->setChannelsPerFrame(fileDataFormat().mChannelsPerFrame);
    client->setDefaultInputDeviceSampleRate();
    if (device) {
        client->setSampleRate(device->deviceNativeRecordStreamDescription()->sampleRate());
    }
    if (client->sampleRate() <= 0) {
        client->setSampleRate(fileDataFormat().mSampleRate); // no device to follow
    }
    if (client->sampleRate() <= 0) {
        client->setSampleRate(kFallbackSampleRate); // neither device nor file names a rate
    }
    client->setNativeFormat();
    client->setIsInterleaved(false);
    const AudioStreamBasicDescription asbd = client->audioStreamBasicDescription();
    VELKThrowIfAudioFileError(ExtAudioFileSetProperty(
        mAudioFile, kExtAudioFileProperty_ClientDataFormat, sizeof(asbd), &asbd));
}

void VELKExtendedAudioFile::setClientDataFormatForPlayback() {
    const AudioStreamBasicDescription file = fileDataFormat();
    auto client = VELKAudioStreamBasicDescription::nativeStreamDescription();
    client->setChannelsPerFrame(file.mChannelsPerFrame);
    client->setSampleRate(file.mSampleRate);
    client->setNativeFormat();
    client->setIsInterleaved(false);
    const AudioStreamBasicDescription asbd = client->audioStreamBasicDescription();
    VELKThrowIfAudioFileError(ExtAudioFileSetProperty(
        mAudioFile, kExtAudioFileProperty_ClientDataFormat, sizeof(asbd), &asbd));
}

AudioStreamBasicDescription VELKExtendedAudioFile::clientDataFormat() const {
    AudioStreamBasicDescription asbd{};
    uint32_t size = sizeof(asbd);
    VELKThrowIfAudioFileError(
        ExtAudioFileGetProperty(mAudioFile, kExtAudioFileProperty_ClientDataFormat, &size, &asbd));
    return asbd;
}

AudioStreamBasicDescription VELKExtendedAudioFile::fileDataFormat() const {
    AudioStreamBasicDescription asbd{};
    uint32_t size = sizeof(asbd);
    VELKThrowIfAudioFileError(
        ExtAudioFileGetProperty(mAudioFile, kExtAudioFileProperty_FileDataFormat, &size, &asbd));
    return asbd;
}

std::shared_ptr<VELKAudioStreamBasicDescription> VELKExtendedAudioFile::streamDescription() const {
    return VELKAudioStreamBasicDescription::streamDescriptionWithAudioStreamBasicDescription(
        clientDataFormat());
}

std::shared_ptr<VELKAudioStreamBasicDescription>
VELKExtendedAudioFile::fileStreamDescription() const {
    return VELKAudioStreamBasicDescription::streamDescriptionWithAudioStreamBasicDescription(
        fileDataFormat());
}

// Length, priming and bit rate

int64_t VELKExtendedAudioFile::frameCount() const {
    AudioFileID afil = nullptr;
    uint32_t size = sizeof(afil);
    VELKThrowIfAudioFileError(
        ExtAudioFileGetProperty(mAudioFile, kExtAudioFileProperty_AudioFile, &size, &afil));
    uint64_t packets = 0;
    size = sizeof(packets);
    VELKThrowIfAudioFileError(
        AudioFileGetProperty(afil, kAudioFilePropertyAudioDataPacketCount, &size, &packets));
    AudioStreamBasicDescription dataFormat{};
    size = sizeof(dataFormat);
    VELKThrowIfAudioFileError(
        AudioFileGetProperty(afil, kAudioFilePropertyDataFormat, &size, &dataFormat));
    AudioFilePacketTableInfo packetTable{};
    size = sizeof(packetTable);
    const bool hasPacketTable =
        AudioFileGetProperty(afil, kAudioFilePropertyPacketTableInfo, &size, &packetTable) == 0;

    int64_t frames = 0;
    if (dataFormat.mFramesPerPacket != 0) {
        frames = static_cast<int64_t>(packets) * dataFormat.mFramesPerPacket;
    } else if (packets > 0) {
        AudioFramePacketTranslation translation{0, static_cast<int64_t>(packets) - 1, 0};
        size = sizeof(translation);
        VELKThrowIfAudioFileError(
            AudioFileGetProperty(afil, kAudioFilePropertyPacketToFrame, &size, &translation));
        frames = translation.mFrame;
    }
    if (hasPacketTable) {
        frames -= packetTable.mPrimingFrames + packetTable.mRemainderFrames;
    }
    return frames;
}

double VELKExtendedAudioFile::estimatedDuration() const {
    const double rate = clientDataFormat().mSampleRate;
    return rate > 0 ? static_cast<double>(frameCount()) / rate * 1000.0 : 0.0;
}

AudioConverterRef VELKExtendedAudioFile::converter() const {
    AudioConverterRef acRef = nullptr;
    uint32_t size = sizeof(acRef);
    VELKThrowIfAudioFileError(
        ExtAudioFileGetProperty(mAudioFile, kExtAudioFileProperty_AudioConverter, &size, &acRef));
    return acRef;
}

AudioConverterPrimeInfo VELKExtendedAudioFile::primeInfo() const {
    AudioConverterPrimeInfo info{0, 0};
    uint32_t size = sizeof(info);
    if (AudioConverterGetProperty(converter(), kAudioConverterPrimeInfo, &size, &info) != 0) {
        return {0, 0};
    }
    return info;
}

int64_t VELKExtendedAudioFile::primeOffset() const {
    const AudioConverterPrimeInfo info = primeInfo();
    return static_cast<int64_t>(info.leadingFrames) + info.trailingFrames;
}

uint64_t VELKExtendedAudioFile::bitrate() const {
    uint32_t rate = 0;
    uint32_t size = sizeof(rate);
    VELKThrowIfAudioFileError(
        AudioConverterGetProperty(converter(), kAudioConverterEncodeBitRate, &size, &rate));
    return rate;
}

void VELKExtendedAudioFile::setBitrate(uint64_t bitrate) {
    AudioConverterRef acRef = converter();
    uint32_t rate = static_cast<uint32_t>(bitrate);
    if (clientDataFormat().mChannelsPerFrame == 1) {
        rate >>= 1;
    }
    VELKThrowIfAudioFileError(
        AudioConverterSetProperty(acRef, kAudioConverterEncodeBitRate, sizeof(rate), &rate));
    const void* configuration = nullptr;
    VELKThrowIfAudioFileError(ExtAudioFileSetProperty(
        mAudioFile, kExtAudioFileProperty_ConverterConfig, sizeof(configuration), &configuration));
}

uint32_t VELKExtendedAudioFile::maxPacketSize() const {
    uint32_t packetSize = 0;
    uint32_t size = sizeof(packetSize);
    VELKThrowIfAudioFileError(ExtAudioFileGetProperty(
        mAudioFile, kExtAudioFileProperty_ClientMaxPacketSize, &size, &packetSize));
    return packetSize;
}

void VELKExtendedAudioFile::seekToFrame(int64_t frame) {
    std::lock_guard lock(mReadLock);
    VELKThrowIfAudioFileError(ExtAudioFileSeek(mAudioFile, frame));
}

std::string VELKExtendedAudioFile::filename() const {
    std::lock_guard lock(mFilenameLock);
    return mFilename;
}

bool VELKExtendedAudioFile::isEqual(const VELKExtendedAudioFile& other) const {
    return frameCount() == other.frameCount() && filename() == other.filename();
}

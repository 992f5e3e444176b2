#include "audio/format/VELKAudioStreamBasicDescription.h"

#include "platform/audio/AudioHardwareService.h"

#include <cstdio>
#include <map>

namespace {

constexpr uint32_t kCanonicalInterleavedFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
constexpr uint32_t kCanonicalNonInterleavedFlags =
    kCanonicalInterleavedFlags | kAudioFormatFlagIsNonInterleaved;

// The "StreamDescription" string table of the library. English is the
// development language, so its words are the keys; other languages add
// their own entries here.
const std::map<std::string, std::string>& streamDescriptionTable() {
    static const std::map<std::string, std::string> table;
    return table;
}

} // namespace

VELKAudioStreamBasicDescription::VELKAudioStreamBasicDescription() : mASBD{} {
    mASBD.mFormatID = kAudioFormatLinearPCM;
    mASBD.mChannelsPerFrame = 2;
}

VELKAudioStreamBasicDescription::VELKAudioStreamBasicDescription(
    const AudioStreamBasicDescription& asbd)
    : mASBD(asbd) {}

std::shared_ptr<VELKAudioStreamBasicDescription>
VELKAudioStreamBasicDescription::streamDescription() {
    return std::make_shared<VELKAudioStreamBasicDescription>();
}

std::shared_ptr<VELKAudioStreamBasicDescription>
VELKAudioStreamBasicDescription::streamDescriptionWithAudioStreamBasicDescription(
    const AudioStreamBasicDescription& asbd) {
    return std::make_shared<VELKAudioStreamBasicDescription>(asbd);
}

std::shared_ptr<VELKAudioStreamBasicDescription>
VELKAudioStreamBasicDescription::nativeStreamDescription() {
    auto description = streamDescription();
    description->setNativeFormat();
    return description;
}

std::shared_ptr<VELKAudioStreamBasicDescription>
VELKAudioStreamBasicDescription::pcm16StreamDescription() {
    auto description = streamDescription();
    if (description->formatID() == 0 || description->formatID() == kAudioFormatLinearPCM) {
        description->setFormatID(kAudioFormatLinearPCM);
        description->setFormatFlags(kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked);
        description->setBitsPerChannel(16);
        const uint32_t bytes = description->bitsPerChannel() / 8 * description->channelsPerFrame();
        description->setBytesPerFrame(bytes);
        description->setBytesPerPacket(bytes);
        description->setFramesPerPacket(1);
    }
    return description;
}

std::shared_ptr<VELKAudioStreamBasicDescription>
VELKAudioStreamBasicDescription::alacStreamDescription() {
    auto description = streamDescription();
    description->setFormatID(kAudioFormatAppleLossless);
    description->setChannelsPerFrame(2);
    return description;
}

std::shared_ptr<VELKAudioStreamBasicDescription>
VELKAudioStreamBasicDescription::aacStreamDescription() {
    auto description = streamDescription();
    description->setFormatID(kAudioFormatMPEG4AAC);
    description->setChannelsPerFrame(2);
    return description;
}

std::shared_ptr<VELKAudioStreamBasicDescription>
VELKAudioStreamBasicDescription::clientStreamDescription(uint32_t channels, double sampleRate) {
    auto description = nativeStreamDescription();
    description->setChannelsPerFrame(channels);
    description->setSampleRate(sampleRate);
    description->setNativeFormat();
    description->setIsInterleaved(false);
    return description;
}

bool VELKAudioStreamBasicDescription::isLinearPCMFormat() const {
    return mASBD.mFormatID == kAudioFormatLinearPCM;
}

bool VELKAudioStreamBasicDescription::isCanonicalFormat() const {
    return isLinearPCMFormat() &&
           (mASBD.mFormatFlags == kCanonicalInterleavedFlags ||
            mASBD.mFormatFlags == kCanonicalNonInterleavedFlags) &&
           mASBD.mBitsPerChannel == 32 && mASBD.mFramesPerPacket == 1;
}

bool VELKAudioStreamBasicDescription::isInterleaved() const {
    return !isLinearPCMFormat() || (mASBD.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
}

bool VELKAudioStreamBasicDescription::isNativeFormat() const {
    return isCanonicalFormat() && isInterleaved();
}

void VELKAudioStreamBasicDescription::setNativeFormat() {
    mASBD.mFormatID = kAudioFormatLinearPCM;
    mASBD.mFormatFlags = kCanonicalInterleavedFlags;
    mASBD.mFramesPerPacket = 1;
    mASBD.mBitsPerChannel = 32;
    normalizeBytesForChannels();
}

void VELKAudioStreamBasicDescription::setIsInterleaved(bool interleaved) {
    if (!isLinearPCMFormat()) {
        return;
    }
    if (interleaved) {
        mASBD.mFormatFlags &= ~kAudioFormatFlagIsNonInterleaved;
    } else {
        mASBD.mFormatFlags |= kAudioFormatFlagIsNonInterleaved;
    }
    if (isCanonicalFormat()) {
        normalizeBytesForChannels();
    }
}

void VELKAudioStreamBasicDescription::normalizeBytesForChannels() {
    const uint32_t bytes = isInterleaved() ? 4 * mASBD.mChannelsPerFrame : 4;
    mASBD.mBytesPerPacket = bytes;
    mASBD.mBytesPerFrame = bytes;
}

void VELKAudioStreamBasicDescription::setDefaultInputDeviceSampleRate() {
    setDefaultDeviceSampleRate(kAudioHardwarePropertyDefaultInputDevice);
}

void VELKAudioStreamBasicDescription::setDefaultOutputDeviceSampleRate() {
    setDefaultDeviceSampleRate(kAudioHardwarePropertyDefaultOutputDevice);
}

void VELKAudioStreamBasicDescription::setDefaultDeviceSampleRate(uint32_t defaultDeviceSelector) {
    double rate = 0.0;
    AudioDeviceID device = kAudioObjectUnknown;
    uint32_t size = sizeof(device);
    const AudioObjectPropertyAddress deviceAddress{
        defaultDeviceSelector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
    if (AudioHardwareServiceGetPropertyData(kAudioObjectSystemObject, &deviceAddress, 0, nullptr,
                                            &size, &device) == kAudioHardwareNoError) {
        const AudioObjectPropertyAddress rateAddress{kAudioDevicePropertyNominalSampleRate,
                                                     kAudioObjectPropertyScopeGlobal,
                                                     kAudioObjectPropertyElementMain};
        double nominal = 0.0;
        size = sizeof(nominal);
        if (AudioHardwareServiceGetPropertyData(device, &rateAddress, 0, nullptr, &size,
                                                &nominal) == kAudioHardwareNoError) {
            rate = nominal;
        }
    }
    setSampleRate(rate);
}

std::string VELKAudioStreamBasicDescription::descriptionString(const std::string& key) {
    const auto& table = streamDescriptionTable();
    const auto found = table.find(key);
    return found == table.end() ? key : found->second;
}

std::string VELKAudioStreamBasicDescription::description() const {
    std::string suffix;
    if (isLinearPCMFormat() && mASBD.mFormatFlags != kCanonicalInterleavedFlags) {
        const uint32_t flags = mASBD.mFormatFlags;
        const char* number = (flags & kAudioFormatFlagIsFloat)           ? "floating-point"
                             : (flags & kAudioFormatFlagIsSignedInteger) ? "signed-integer"
                                                                         : "unsigned-integer";
        const char* order = (flags & kAudioFormatFlagIsBigEndian) ? "big-endian" : "little-endian";
        const char* packing = (flags & kAudioFormatFlagIsPacked)        ? "packed"
                              : (flags & kAudioFormatFlagIsAlignedHigh) ? "aligned-high"
                                                                        : "aligned-low";
        suffix = " " + descriptionString(number) + " " + descriptionString(order) + " " +
                 descriptionString(packing);
    }
    std::string code = FourCCString(mASBD.mFormatID);
    code = code.substr(0, code.find('\0')); // printed as a C string
    char rate[64];
    std::snprintf(rate, sizeof(rate), "%.2f", mASBD.mSampleRate);
    return std::to_string(mASBD.mChannelsPerFrame) + descriptionString("ch") + "-" + rate +
           descriptionString("hz") + "-" + std::to_string(mASBD.mBitsPerChannel) +
           descriptionString("bit") + "-'" + code + "'" + suffix;
}

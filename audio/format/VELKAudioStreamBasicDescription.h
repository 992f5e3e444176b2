#pragma once

#include "platform/audio/AudioHardwareTypes.h"

#include <memory>
#include <string>

// A mutable audio stream format: one AudioStreamBasicDescription with named
// presets, the interleaved/non-interleaved conversions, the default devices'
// sample rates and a short text. Shared by reference between engine objects.
class VELKAudioStreamBasicDescription {
public:
    // 'lpcm', 2 channels, everything else 0.
    VELKAudioStreamBasicDescription();
    explicit VELKAudioStreamBasicDescription(const AudioStreamBasicDescription& asbd);

    static std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription();
    static std::shared_ptr<VELKAudioStreamBasicDescription>
    streamDescriptionWithAudioStreamBasicDescription(const AudioStreamBasicDescription& asbd);
    // Interleaved 32-bit float.
    static std::shared_ptr<VELKAudioStreamBasicDescription> nativeStreamDescription();
    // Interleaved signed 16-bit, stereo.
    static std::shared_ptr<VELKAudioStreamBasicDescription> pcm16StreamDescription();
    // Apple Lossless and AAC, stereo; the file service fills in the rest.
    static std::shared_ptr<VELKAudioStreamBasicDescription> alacStreamDescription();
    static std::shared_ptr<VELKAudioStreamBasicDescription> aacStreamDescription();
    // The engine's client format: 32-bit float, one buffer per channel.
    static std::shared_ptr<VELKAudioStreamBasicDescription>
    clientStreamDescription(uint32_t channels, double sampleRate);

    double sampleRate() const { return mASBD.mSampleRate; }
    void setSampleRate(double rate) { mASBD.mSampleRate = rate; }
    uint32_t formatID() const { return mASBD.mFormatID; }
    void setFormatID(uint32_t id) { mASBD.mFormatID = id; }
    uint32_t formatFlags() const { return mASBD.mFormatFlags; }
    void setFormatFlags(uint32_t flags) { mASBD.mFormatFlags = flags; }
    uint32_t bytesPerPacket() const { return mASBD.mBytesPerPacket; }
    void setBytesPerPacket(uint32_t bytes) { mASBD.mBytesPerPacket = bytes; }
    uint32_t framesPerPacket() const { return mASBD.mFramesPerPacket; }
    void setFramesPerPacket(uint32_t frames) { mASBD.mFramesPerPacket = frames; }
    uint32_t bytesPerFrame() const { return mASBD.mBytesPerFrame; }
    void setBytesPerFrame(uint32_t bytes) { mASBD.mBytesPerFrame = bytes; }
    uint32_t channelsPerFrame() const { return mASBD.mChannelsPerFrame; }
    void setChannelsPerFrame(uint32_t channels) { mASBD.mChannelsPerFrame = channels; }
    uint32_t bitsPerChannel() const { return mASBD.mBitsPerChannel; }
    void setBitsPerChannel(uint32_t bits) { mASBD.mBitsPerChannel = bits; }
    AudioStreamBasicDescription audioStreamBasicDescription() const { return mASBD; }

    bool isLinearPCMFormat() const;
    // Linear PCM, float + packed (interleaved or not), 32 bits, 1 frame per packet.
    bool isCanonicalFormat() const;
    bool isInterleaved() const;
    bool isNativeFormat() const;

    void setNativeFormat();
    // Only for linear PCM; byte counts are normalized only when the result is canonical.
    void setIsInterleaved(bool interleaved);
    // Byte counts for 4-byte samples: 4 x channels interleaved, 4 otherwise.
    void normalizeBytesForChannels();
    // The default device's nominal rate, 0.0 when it cannot be read.
    void setDefaultInputDeviceSampleRate();
    void setDefaultOutputDeviceSampleRate();

    // The word for `key` in the "StreamDescription" table; the key itself
    // where the table has no translation.
    static std::string descriptionString(const std::string& key);
    // For example "2ch-44100.00hz-32bit-'lpcm'".
    std::string description() const;

private:
    void setDefaultDeviceSampleRate(uint32_t defaultDeviceSelector);

    AudioStreamBasicDescription mASBD;
};

#include "audio/format/VELKAudioStreamBasicDescription.h"

#include <gtest/gtest.h>

namespace {

using Description = VELKAudioStreamBasicDescription;

TEST(StreamDescription, FreshDescriptionIsStereoPCMWithNothingElse) {
    const Description fresh;
    EXPECT_EQ(fresh.formatID(), kAudioFormatLinearPCM);
    EXPECT_EQ(fresh.channelsPerFrame(), 2u);
    EXPECT_EQ(fresh.sampleRate(), 0.0);
    EXPECT_EQ(fresh.formatFlags(), 0u);
    EXPECT_EQ(fresh.bytesPerFrame(), 0u);
    EXPECT_EQ(fresh.audioStreamBasicDescription().mReserved, 0u);
}

TEST(StreamDescription, CodecPresetsLeaveTheRestToTheFileService) {
    for (const auto& [preset, format] :
         {std::pair{Description::alacStreamDescription(), kAudioFormatAppleLossless},
          std::pair{Description::aacStreamDescription(), kAudioFormatMPEG4AAC}}) {
        EXPECT_EQ(preset->formatID(), format);
        EXPECT_EQ(preset->channelsPerFrame(), 2u);
        EXPECT_EQ(preset->sampleRate(), 0.0);
        EXPECT_EQ(preset->bitsPerChannel(), 0u);
        EXPECT_EQ(preset->bytesPerFrame(), 0u);
        EXPECT_EQ(preset->bytesPerPacket(), 0u);
        EXPECT_EQ(preset->framesPerPacket(), 0u);
    }
}

TEST(StreamDescription, NativeAndClientLayouts) {
    auto native = Description::nativeStreamDescription();
    EXPECT_TRUE(native->isNativeFormat());
    EXPECT_EQ(native->formatFlags(), 9u);
    EXPECT_EQ(native->bytesPerFrame(), 8u);
    EXPECT_EQ(native->bytesPerPacket(), 8u);
    native->setIsInterleaved(false);
    EXPECT_EQ(native->formatFlags(), 41u);
    EXPECT_EQ(native->bytesPerFrame(), 4u);
    EXPECT_EQ(native->bytesPerPacket(), 4u);
    EXPECT_TRUE(native->isCanonicalFormat());
    EXPECT_FALSE(native->isNativeFormat());

    const auto client = Description::clientStreamDescription(1, 22050);
    EXPECT_EQ(client->formatFlags(), 41u);
    EXPECT_EQ(client->channelsPerFrame(), 1u);
    EXPECT_EQ(client->sampleRate(), 22050.0);
    EXPECT_EQ(client->bytesPerFrame(), 4u);
}

TEST(StreamDescription, InterleavingOnlyRenormalizesCanonicalPCM) {
    auto pcm16 = Description::pcm16StreamDescription();
    EXPECT_EQ(pcm16->formatFlags(), 12u);
    EXPECT_EQ(pcm16->bytesPerFrame(), 4u);
    pcm16->setIsInterleaved(false);
    EXPECT_EQ(pcm16->formatFlags(), 44u);
    EXPECT_EQ(pcm16->bytesPerFrame(), 4u) << "a 16-bit format keeps its byte counts";
    EXPECT_FALSE(pcm16->isInterleaved());

    auto aac = Description::aacStreamDescription();
    aac->setIsInterleaved(false);
    EXPECT_EQ(aac->formatFlags(), 0u);
    EXPECT_TRUE(aac->isInterleaved());
}

TEST(StreamDescription, CanonicalNeedsExactlyFloatAndPacked) {
    auto description = Description::nativeStreamDescription();
    description->setFormatFlags(11); // float + big-endian + packed
    EXPECT_FALSE(description->isCanonicalFormat());
    description->setFormatFlags(9);
    description->setBitsPerChannel(24);
    EXPECT_FALSE(description->isCanonicalFormat());
}

TEST(StreamDescription, Description) {
    auto native = Description::nativeStreamDescription();
    native->setSampleRate(44100);
    EXPECT_EQ(native->description(), "2ch-44100.00hz-32bit-'lpcm'");
    native->setIsInterleaved(false);
    EXPECT_EQ(native->description(),
              "2ch-44100.00hz-32bit-'lpcm' floating-point little-endian packed");
    EXPECT_EQ(Description::pcm16StreamDescription()->description(),
              "2ch-0.00hz-16bit-'lpcm' signed-integer little-endian packed");

    auto odd = Description::streamDescription();
    odd->setFormatFlags(kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsAlignedHigh);
    EXPECT_EQ(odd->description(),
              "2ch-0.00hz-0bit-'lpcm' unsigned-integer big-endian aligned-high");
    odd->setFormatFlags(0);
    EXPECT_EQ(odd->description(),
              "2ch-0.00hz-0bit-'lpcm' unsigned-integer little-endian aligned-low");
    EXPECT_EQ(Description::alacStreamDescription()->description(), "2ch-0.00hz-0bit-'alac'");
}

} // namespace

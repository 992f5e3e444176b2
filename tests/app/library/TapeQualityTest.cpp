#include "app/library/TapeQuality.h"

#include "audio/format/InternalInconsistencyException.h"
#include "platform/desktop/UserDefaults.h"
#include "platform/media/AudioFileTypes.h"

#include <gtest/gtest.h>

namespace {

class Quality : public ::testing::Test {
protected:
    void setLock(bool locked) {
        UserDefaults::standard().setValue("CRLockRecordingSampleRate", locked);
    }
    void TearDown() override { UserDefaults::standard().removeValue("CRLockRecordingSampleRate"); }
};

TEST_F(Quality, IndexesAndNames) {
    EXPECT_EQ(TapeQuality::qualityForIndex(0), "HQ");
    EXPECT_EQ(TapeQuality::qualityForIndex(1), "MQ");
    EXPECT_EQ(TapeQuality::qualityForIndex(2), "LQ");
    EXPECT_EQ(TapeQuality::indexForQuality("HQ"), 0);
    EXPECT_EQ(TapeQuality::indexForQuality("MQ"), 1);
    EXPECT_EQ(TapeQuality::indexForQuality("LQ"), 2);
    EXPECT_EQ(TapeQuality::indexForQuality("hq"), -1);
    EXPECT_EQ(TapeQuality::indexForQuality("XQ"), -1);
    EXPECT_EQ(TapeQuality::indexForQuality(QString()), -1);
    try {
        TapeQuality::qualityForIndex(3);
        FAIL() << "no failure";
    } catch (const InternalInconsistencyException& failure) {
        EXPECT_STREQ(failure.what(), "Asking for qualty outside range");
        EXPECT_EQ(failure.sourceUnit(), "TapeQuality");
    }
    EXPECT_THROW(TapeQuality::qualityForIndex(-1), InternalInconsistencyException);
}

TEST_F(Quality, QualityOfABitRate) {
    const struct {
        uint32_t bitrate;
        bool stereo;
        const char* quality;
    } rows[] = {
        {0, true, "HQ"},      {0, false, "HQ"},     {128000, true, "MQ"}, {64000, false, "MQ"},
        {48000, true, "LQ"},  {24000, false, "LQ"}, {100000, true, "HQ"}, {500000, true, "HQ"},
        {80000, true, "LQ"},  {80001, true, "HQ"},  {30000, true, "LQ"},  {29999, true, "HQ"},
        {112000, true, "MQ"}, {40000, false, "LQ"}, {56000, false, "MQ"}, {200001, false, "HQ"},
        {15000, false, "LQ"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(TapeQuality::qualityForBitrate(row.bitrate, 44100, row.stereo), row.quality)
            << row.bitrate << (row.stereo ? " stereo" : " mono");
    }
}

TEST_F(Quality, RatesFollowTheLock) {
    EXPECT_EQ(TapeQuality::bitrateForQuality("HQ"), 0u);
    EXPECT_EQ(TapeQuality::bitrateForQuality("MQ"), 128000u);
    EXPECT_EQ(TapeQuality::bitrateForQuality("LQ"), 48000u);
    EXPECT_EQ(TapeQuality::bitrateForQuality("nope"), 0u);
    for (const bool locked : {true, false}) {
        setLock(locked);
        EXPECT_EQ(TapeQuality::sampleRateForQuality("MQ"), 44100u);
        EXPECT_EQ(TapeQuality::sampleRateForQuality("LQ"), 22050u);
        EXPECT_EQ(TapeQuality::sampleRateForQuality("HQ"), locked ? 44100u : 0u);
        EXPECT_EQ(TapeQuality::sampleRateForQuality("nope"), locked ? 44100u : 0u);
    }
    UserDefaults::standard().removeValue("CRLockRecordingSampleRate");
    EXPECT_TRUE(TapeQuality::isSampleRateLocked()) << "on unless turned off";
}

TEST_F(Quality, StreamDescriptions) {
    setLock(true);
    const auto hq = TapeQuality::streamDescriptionForQuality("HQ", true);
    EXPECT_EQ(hq->formatID(), kAudioFormatAppleLossless);
    EXPECT_EQ(hq->formatFlags() & 1, 1u) << "16-bit source data";
    EXPECT_EQ(hq->sampleRate(), 44100.0);
    EXPECT_EQ(hq->channelsPerFrame(), 2u);
    EXPECT_EQ(hq->framesPerPacket(), 4096u);

    const auto lq = TapeQuality::streamDescriptionForQuality("LQ", false);
    EXPECT_EQ(lq->formatID(), kAudioFormatMPEG4AAC);
    EXPECT_EQ(lq->channelsPerFrame(), 1u);
    EXPECT_EQ(lq->sampleRate(), 22050.0);
    EXPECT_EQ(lq->framesPerPacket(), 1024u);

    setLock(false);
    const auto free = TapeQuality::streamDescriptionForQuality("HQ", true);
    EXPECT_EQ(free->formatFlags() & 1, 0u);
    EXPECT_EQ(free->sampleRate(), 0.0);
    EXPECT_EQ(TapeQuality::streamDescriptionForQuality(QString(), true)->formatID(),
              kAudioFormatMPEG4AAC);
}

} // namespace

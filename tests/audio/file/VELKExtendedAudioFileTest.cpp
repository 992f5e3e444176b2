#include "audio/file/VELKExtendedAudioFile.h"

#include "AudioFileTestSupport.h"
#include "audio/format/InternalInconsistencyException.h"
#include "audio/format/NSXException.h"
#include "platform/media/Mp4Boxes.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

struct Case {
    const char* name;
    uint32_t format;
    uint32_t flags;
    double fileRate; // 0: the client's rate
    uint32_t channels;
    uint64_t bitrate;
};

std::shared_ptr<VELKAudioStreamBasicDescription> descriptionFor(const Case& c) {
    auto description = c.format == kAudioFormatAppleLossless
                           ? VELKAudioStreamBasicDescription::alacStreamDescription()
                           : VELKAudioStreamBasicDescription::aacStreamDescription();
    description->setFormatFlags(c.flags);
    description->setChannelsPerFrame(c.channels);
    description->setSampleRate(c.fileRate);
    return description;
}

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class RecordingFiles : public ::testing::TestWithParam<Case> {
protected:
    ScratchFolder folder;
};

// Two seconds of a 440 Hz tone written in every format the deck records,
// read back after closing.
TEST_P(RecordingFiles, RoundTrip) {
    const Case& c = GetParam();
    const std::string path = folder.path(std::string(c.name) + ".m4a");
    auto file = VELKExtendedAudioFile::forRecording(path, descriptionFor(c), c.bitrate, nullptr);
    const double clientRate = file->clientDataFormat().mSampleRate;
    ASSERT_GT(clientRate, 0);
    const Channels written =
        makeSine(c.channels, static_cast<int64_t>(2 * clientRate), clientRate, 440);
    writeChannels(*file, written);
    file->closeFile();
    EXPECT_FALSE(file->isOpen());

    auto played = VELKExtendedAudioFile::forPlayback(path);
    const AudioStreamBasicDescription fileFormat = played->fileDataFormat();
    const double fileRate = c.fileRate > 0 ? c.fileRate : clientRate;
    EXPECT_EQ(fileFormat.mFormatID, c.format);
    EXPECT_EQ(fileFormat.mChannelsPerFrame, c.channels);
    EXPECT_EQ(fileFormat.mSampleRate, fileRate);
    EXPECT_EQ(played->clientDataFormat().mFormatFlags, 41u);
    EXPECT_EQ(played->clientDataFormat().mSampleRate, fileRate);
    EXPECT_NEAR(static_cast<double>(played->frameCount()), 2 * fileRate, 1.0);
    EXPECT_NEAR(played->estimatedDuration(), 2000.0, 0.05);
    const auto headers = readMp4AudioTrackInfo(path);
    ASSERT_TRUE(headers.has_value());
    EXPECT_EQ(headers->movieDuration, static_cast<uint64_t>(played->frameCount()))
        << "the movie header lasts the frames written";

    const std::string codec = c.format == kAudioFormatAppleLossless ? "alac" : "aac";
    EXPECT_EQ(probe(path), codec + " " + std::to_string(static_cast<int>(fileRate)) + " " +
                               std::to_string(c.channels));

    const Channels decoded = readAll(*played, c.channels);
    ASSERT_EQ(static_cast<int64_t>(decoded.front().size()), played->frameCount());
    if (c.format == kAudioFormatAppleLossless && fileRate == clientRate) {
        for (uint32_t ch = 0; ch < c.channels; ++ch) {
            EXPECT_EQ(decoded[ch], written[ch]) << "lossless channel " << ch;
        }
    } else {
        for (uint32_t ch = 0; ch < c.channels; ++ch) {
            EXPECT_NEAR(zeroCrossingFrequency(decoded[ch], fileRate), 440.0, 2.0);
        }
        if (fileRate == clientRate) {
            // Same timeline: priming is gone and nothing is shifted.
            const std::vector<float> a(written[0].begin() + 4096, written[0].end() - 4096);
            const std::vector<float> b(decoded[0].begin() + 4096, decoded[0].end() - 4096);
            EXPECT_GT(correlation(a, b), 0.95);
        }
    }
}

const uint32_t kALAC = kAudioFormatAppleLossless;
const uint32_t kAAC = kAudioFormatMPEG4AAC;

INSTANTIATE_TEST_SUITE_P(EveryQuality, RecordingFiles,
                         ::testing::Values(Case{"HQ_at_device_rate_stereo", kALAC, 0, 0, 2, 0},
                                           Case{"HQ_at_device_rate_mono", kALAC, 0, 0, 1, 0},
                                           Case{"HQ_16bit_stereo", kALAC, 1, 0, 2, 0},
                                           Case{"HQ_locked_44100_stereo", kALAC, 1, 44100, 2, 0},
                                           Case{"MQ_stereo", kAAC, 0, 44100, 2, 128000},
                                           Case{"MQ_mono", kAAC, 0, 44100, 1, 128000},
                                           Case{"LQ_stereo", kAAC, 0, 22050, 2, 48000},
                                           Case{"LQ_mono", kAAC, 0, 22050, 1, 48000}),
                         [](const auto& info) { return std::string(info.param.name); });

class AudioFile : public ::testing::Test {
protected:
    ScratchFolder folder;

    std::string record(const std::string& name, uint32_t format, uint32_t channels, double rate,
                       uint64_t bitrate, double seconds, Channels* written = nullptr) {
        const std::string path = folder.path(name);
        auto description = format == kALAC
                               ? VELKAudioStreamBasicDescription::alacStreamDescription()
                               : VELKAudioStreamBasicDescription::aacStreamDescription();
        description->setChannelsPerFrame(channels);
        description->setSampleRate(rate);
        auto file = VELKExtendedAudioFile::forRecording(path, description, bitrate, nullptr);
        const double clientRate = file->clientDataFormat().mSampleRate;
        Channels signal =
            makeSine(channels, static_cast<int64_t>(seconds * clientRate), clientRate, 440);
        writeChannels(*file, signal);
        file->closeFile();
        if (written) {
            *written = std::move(signal);
        }
        return path;
    }
};

TEST_F(AudioFile, BitRateIsTheNominalOneAndHalvedForMono) {
    for (const auto& [channels, expected] : {std::pair{2u, 128000u}, std::pair{1u, 64000u}}) {
        const std::string path =
            record("rate" + std::to_string(channels) + ".m4a", kAAC, channels, 44100, 128000, 0.5);
        auto played = VELKExtendedAudioFile::forPlayback(path);
        EXPECT_EQ(played->fileDataFormat().mFormatID, kAAC);
        // The esds names the encoder's nominal rate, not the measured one
        // (a quiet recording measures far lower).
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        const auto esds = bytes.find("esds");
        ASSERT_NE(esds, std::string::npos);
        size_t at = bytes.find('\x04', esds + 4 + 4 + 1); // the decoder configuration
        ASSERT_NE(at, std::string::npos);
        ++at;
        while (static_cast<unsigned char>(bytes[at]) & 0x80) {
            ++at; // expandable length
        }
        at += 1 + 1 + 1 + 3 + 4; // length, object type, stream type, buffer size, maximum
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        const uint32_t average = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | p[2] << 8 | p[3];
        EXPECT_EQ(average, expected);
    }
}

TEST_F(AudioFile, RecordingFileReportsWhatItWrote) {
    const std::string path = folder.path("live.m4a");
    auto description = VELKAudioStreamBasicDescription::aacStreamDescription();
    description->setSampleRate(44100);
    auto file = VELKExtendedAudioFile::forRecording(path, description, 128000, nullptr);
    EXPECT_EQ(file->bitrate(), 128000u);
    EXPECT_EQ(file->fileDataFormat().mFramesPerPacket, 1024u);
    EXPECT_EQ(file->primeInfo().leadingFrames, 1024u);
    EXPECT_EQ(file->maxPacketSize(), 4u);
    EXPECT_THROW(file->setBitrate(64000), NSXException) << "the encoder already started";
    const double rate = file->clientDataFormat().mSampleRate;
    writeChannels(*file, makeSine(2, static_cast<int64_t>(rate), rate, 440));
    EXPECT_NEAR(static_cast<double>(file->frameCount()), 44100.0 - 4096, 4096.0);
    file->closeFile();
}

TEST_F(AudioFile, SeeksAreSampleAccurate) {
    for (const uint32_t format : {kALAC, kAAC}) {
        const std::string path = record(format == kALAC ? "seek.alac.m4a" : "seek.aac.m4a", format,
                                        2, 44100, 128000, 1.5);
        auto straight = VELKExtendedAudioFile::forPlayback(path);
        const Channels all = readAll(*straight, 2, 777);
        ASSERT_EQ(static_cast<int64_t>(all[0].size()), straight->frameCount());
        for (const int64_t frame : {int64_t{0}, int64_t{1}, int64_t{1023}, int64_t{1024},
                                    int64_t{4097}, int64_t{33333}, straight->frameCount() - 300}) {
            SCOPED_TRACE(std::to_string(format) + " frame " + std::to_string(frame));
            straight->seekToFrame(frame);
            const Channels part = readChannels(*straight, 2, 300);
            ASSERT_EQ(part[0].size(), 300u);
            for (uint32_t c = 0; c < 2; ++c) {
                const auto mismatch =
                    std::mismatch(part[c].begin(), part[c].end(), all[c].begin() + frame);
                EXPECT_EQ(mismatch.first, part[c].end())
                    << "channel " << c << " differs from frame "
                    << frame + (mismatch.first - part[c].begin()) << ": " << *mismatch.first
                    << " vs " << *mismatch.second;
            }
        }
        straight->seekToFrame(straight->frameCount());
        EXPECT_TRUE(readChannels(*straight, 2, 100)[0].empty()) << "nothing after the end";
        EXPECT_THROW(straight->seekToFrame(straight->frameCount() + 1), NSXException);
        EXPECT_THROW(straight->seekToFrame(-1), NSXException);
    }
}

TEST_F(AudioFile, ReverseReads) {
    const std::string path = record("reverse.m4a", kALAC, 2, 0, 0, 0.5);
    auto forward = VELKExtendedAudioFile::forPlayback(path);
    const Channels all = readAll(*forward, 2);
    auto file = VELKExtendedAudioFile::forPlayback(path);
    file->setReverse(true);
    // 512 frames asked from frame 100: frames 0..99, last first.
    const Channels head = readChannels(*file, 2, 512, 100);
    ASSERT_EQ(head[0].size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(head[0][i], all[0][99 - i]);
        EXPECT_EQ(head[1][i], all[1][99 - i]);
    }
    const Channels middle = readChannels(*file, 2, 256, 5000);
    ASSERT_EQ(middle[0].size(), 256u);
    EXPECT_EQ(middle[0].front(), all[0][4999]);
    EXPECT_EQ(middle[0].back(), all[0][4744]);
    EXPECT_TRUE(readChannels(*file, 2, 256, 0)[0].empty());
}

TEST_F(AudioFile, ReversingKeepsTheChannelOrderOfInterleavedBuffers) {
    float samples[] = {1, 2, 3, 4, 5, 6}; // L0 R0 L1 R1 L2 R2
    std::vector<uint8_t> storage(AudioBufferListSize(1));
    auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
    list->mNumberBuffers = 1;
    list->mBuffers[0] = {2, sizeof(samples), samples};
    VELKExtendedAudioFile::reverseBufferList(list);
    EXPECT_EQ(std::vector<float>(samples, samples + 6), (std::vector<float>{5, 6, 3, 4, 1, 2}));
}

TEST_F(AudioFile, BadFilesRaiseTheEnginesErrorAndMakeNoObject) {
    const std::string text = folder.path("notes.m4a");
    std::ofstream(text) << "these are not the frames you are looking for\n";
    const std::string good = record("good.m4a", kAAC, 2, 44100, 128000, 1.0);
    const std::string truncated = folder.path("truncated.m4a");
    {
        std::ifstream in(good, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    }
    const std::string noise = folder.path("noise.m4a");
    {
        std::ofstream out(noise, std::ios::binary);
        uint32_t x = 12345;
        for (int i = 0; i < 20000; ++i) {
            x = x * 1664525 + 1013904223;
            out.put(static_cast<char>(x >> 24));
        }
    }
    for (const std::string& path : {text, truncated, noise, folder.path("missing.m4a")}) {
        SCOPED_TRACE(path);
        try {
            VELKExtendedAudioFile::forPlayback(path);
            ADD_FAILURE() << "opened";
        } catch (const NSXException& exception) {
            EXPECT_EQ(exception.error().stringDetail("reportingFile"), "VELKExtendedAudioFile");
            EXPECT_FALSE(exception.error().localizedDescription().empty());
        }
    }
    EXPECT_THROW(VELKExtendedAudioFile::forRecording(
                     folder.path("no/such/dir/x.m4a"),
                     VELKAudioStreamBasicDescription::aacStreamDescription(), 128000, nullptr),
                 NSXException);
}

TEST_F(AudioFile, WritingWithoutACountIsAnInconsistency) {
    auto file = VELKExtendedAudioFile::forRecording(
        folder.path("assert.m4a"), VELKAudioStreamBasicDescription::alacStreamDescription(), 0,
        nullptr);
    EXPECT_THROW(file->writeAudioBufferList(nullptr, nullptr), InternalInconsistencyException);
}

TEST_F(AudioFile, ForeignFilesWithAndWithoutEditLists) {
    // Files other programs wrote: the ffmpeg command line, with its own
    // edit list, and with the metadata before the audio.
    const std::string withEdits = folder.path("ffmpeg.m4a");
    const std::string faststart = folder.path("faststart.m4a");
    const std::string mono = folder.path("mono48.m4a");
    ASSERT_EQ(
        std::system(("ffmpeg -v error -f lavfi -i sine=frequency=1000:sample_rate=44100:duration=1 "
                     "-ac 2 -c:a aac -b:a 128k '" +
                     withEdits + "'")
                        .c_str()),
        0);
    ASSERT_EQ(
        std::system(("ffmpeg -v error -f lavfi -i sine=frequency=1000:sample_rate=44100:duration=1 "
                     "-ac 2 -c:a alac -movflags +faststart '" +
                     faststart + "'")
                        .c_str()),
        0);
    ASSERT_EQ(std::system(
                  ("ffmpeg -v error -f lavfi -i sine=frequency=500:sample_rate=48000:duration=0.5 "
                   "-c:a aac -b:a 64k '" +
                   mono + "'")
                      .c_str()),
              0);
    for (const auto& [path, rate, channels, frames, frequency] :
         {std::tuple{withEdits, 44100.0, 2u, 44100, 1000.0},
          std::tuple{faststart, 44100.0, 2u, 44100, 1000.0},
          std::tuple{mono, 48000.0, 1u, 24000, 500.0}}) {
        SCOPED_TRACE(path);
        auto file = VELKExtendedAudioFile::forPlayback(path);
        EXPECT_EQ(file->fileDataFormat().mSampleRate, rate);
        EXPECT_EQ(file->fileDataFormat().mChannelsPerFrame, channels);
        EXPECT_EQ(file->frameCount(), frames);
        const Channels all = readAll(*file, channels);
        ASSERT_EQ(static_cast<int64_t>(all[0].size()), frames);
        EXPECT_NEAR(zeroCrossingFrequency(all[0], rate), frequency, 3.0);
        // Seeks land on the same frames; a foreign encoder's noise
        // substitution may vary the noise itself by a hair.
        file->seekToFrame(frames / 3);
        const Channels part = readChannels(*file, channels, 500);
        ASSERT_EQ(part[0].size(), 500u);
        for (size_t i = 0; i < part[0].size(); ++i) {
            ASSERT_NEAR(part[0][i], all[0][frames / 3 + i], 1e-3) << i;
        }
    }
}

} // namespace

#include "audio/hardware/VELKAudioDevice.h"
#include "audio/recorder/VELKExtendedAudioFileRecorder.h"

#include "../file/AudioFileTestSupport.h"
#include "AudioServerTools.h"
#include "ToneAnalysis.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

// What the recorder makes of a pure tone, judged by the file it writes: the
// test server's sine source (440 Hz, made inside the server, so no client of
// this machine can break it) is recorded on both channels of a stereo file,
// and ffmpeg decodes the file. Each channel must carry the tone purely and
// unbroken: no jump, no repeated frames, no hole. A pause breaks the tone
// once, where it came, and nowhere else.

namespace {

using AudioServerTools::pumpFor;
using AudioServerTools::pumpUntil;

constexpr double kTone = 440;
// The file's first and last moments are left out: a lossy encoder ramps in
// and out there.
constexpr double kEdgeSeconds = 0.1;
constexpr double kPauseSeconds = 0.8;

struct Quality {
    const char* name;
    uint32_t format;
    double rate;
    uint64_t bitrate;
    double leastPurity;
    bool judgeBreaks; // a lossy encoder's residue is no break, so only lossless files are judged
};

// HQ at the source's rate: what is captured reaches the file unchanged but
// for its 16-bit samples.
const Quality kLossless{"HQ", kAudioFormatAppleLossless, 48000, 0, 0.999, true};
const Quality kLossy{"MQ", kAudioFormatMPEG4AAC, 44100, 128000, 0.99, false};

void PrintTo(const Quality& quality, std::ostream* out) {
    *out << quality.name;
}

// A decoded file: interleaved stereo samples at its own rate.
struct Decoded {
    double rate = 0;
    std::vector<float> samples;
    size_t frames() const { return samples.size() / 2; }
};

Decoded decodeWithFFmpeg(const std::string& path) {
    Decoded decoded;
    decoded.rate = std::stod(AudioServerTools::run(
        "ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate -of csv=p=0 '" +
        path + "'"));
    const std::string raw = path + ".f32";
    AudioServerTools::run("ffmpeg -v error -y -i '" + path + "' -ac 2 -f f32le -c:a pcm_f32le '" +
                          raw + "'");
    std::ifstream in(raw, std::ios::binary | std::ios::ate);
    decoded.samples.resize(static_cast<size_t>(in.tellg()) / sizeof(float));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(decoded.samples.data()),
            static_cast<std::streamsize>(decoded.samples.size() * sizeof(float)));
    return decoded;
}

class Recorded : public VELKExtendedAudioFileRecorderDelegate {
public:
    int stops = 0;
    void audioFileRecorderDidStop(VELKExtendedAudioFileRecorder*) override { ++stops; }
};

class RecordingWaveform : public ::testing::TestWithParam<Quality> {
protected:
    void SetUp() override {
        mInput = VELKAudioDevice::withDeviceUID("cassora_sine");
        ASSERT_NE(mInput, nullptr);
    }

    // Records `spans` seconds of the tone, pausing between spans; returns the
    // frames captured at the end of each span, at the recording's client rate,
    // and keeps how long each span took in mSpanSeconds.
    std::vector<int64_t> record(const Quality& quality, const std::vector<double>& spans) {
        auto description = quality.format == kAudioFormatAppleLossless
                               ? VELKAudioStreamBasicDescription::alacStreamDescription()
                               : VELKAudioStreamBasicDescription::aacStreamDescription();
        description->setChannelsPerFrame(2);
        description->setSampleRate(quality.rate);
        auto file =
            VELKExtendedAudioFile::forRecording(mPath, description, quality.bitrate, mInput);
        // The mono source feeds both channels.
        auto recorder =
            VELKExtendedAudioFileRecorder::withFile(file, mInput, std::vector<int32_t>{0, 0});
        Recorded observer;
        recorder->setDelegate(&observer);
        mClientRate = file->clientDataFormat().mSampleRate;
        std::vector<int64_t> ends;
        for (const double span : spans) {
            const int64_t from = recorder->currentFrame();
            const auto started = std::chrono::steady_clock::now();
            recorder->startRecording();
            EXPECT_TRUE(pumpUntil(
                [&] { return recorder->currentFrame() >= from + span * mClientRate; }, 10.0));
            recorder->stopRecording();
            mSpanSeconds.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
            ends.push_back(recorder->currentFrame());
            EXPECT_TRUE(pumpUntil([&] { return observer.stops == static_cast<int>(ends.size()); }));
            pumpFor(kPauseSeconds); // the tone goes on meanwhile
        }
        EXPECT_EQ(recorder->audioFileWriter()->errorCount(), 0u) << "the ring overflowed";
        recorder.reset();
        file->closeFile();
        return ends;
    }

    ScratchFolder mFolder;
    std::string mPath = mFolder.path("tone.m4a");
    std::shared_ptr<VELKAudioDevice> mInput;
    double mClientRate = 0;
    std::vector<double> mSpanSeconds;
};

// Channel c of `decoded`, without the file's edges.
ToneAnalysis analyseChannel(const Decoded& decoded, size_t c) {
    const auto edge = static_cast<size_t>(kEdgeSeconds * decoded.rate);
    EXPECT_GT(decoded.frames(), 4 * edge);
    return analyseTone(decoded.samples.data() + 2 * edge + c, decoded.frames() - 2 * edge, 2,
                       decoded.rate, kTone);
}

TEST_P(RecordingWaveform, KeepsEveryFrameOfATone) {
    const Quality& quality = GetParam();
    const int64_t captured = record(quality, {5.0}).back();
    const Decoded decoded = decodeWithFFmpeg(mPath);
    EXPECT_EQ(decoded.rate, quality.rate);
    if (quality.judgeBreaks) {
        EXPECT_NEAR(static_cast<double>(decoded.frames()),
                    static_cast<double>(captured) * decoded.rate / mClientRate, 2.0)
            << "every captured frame is in the file, once";
    }
    for (size_t c = 0; c < 2; ++c) {
        const ToneAnalysis tone = analyseChannel(decoded, c);
        SCOPED_TRACE("channel " + std::to_string(c) + ": " + tone.describe());
        EXPECT_NEAR(tone.frequency, kTone, 1.0);
        EXPECT_GE(tone.purity, quality.leastPurity);
        if (quality.judgeBreaks) {
            EXPECT_TRUE(tone.breaks.empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(LosslessAndLossy, RecordingWaveform, ::testing::Values(kLossless, kLossy),
                         [](const auto& info) { return std::string(info.param.name); });

class PausedRecordingWaveform : public RecordingWaveform {};

// The file goes on from the frame before the pause to the first frame after
// it: the tone may jump there, and only there. The phase the server's sine
// resumes at does not follow the pause's length (pauses 12.5 ms apart, half
// the tone's repeat, resume at the same phase), so it may happen to go on
// the sine with no jump to hear. That nothing from the pause reached the
// file shows instead in the time the second span took: had the pause's
// sound been kept and handed over on resuming, the span would have filled
// that much sooner.
TEST_F(PausedRecordingWaveform, BreaksTheToneOnlyWhereItPaused) {
    const std::vector<int64_t> ends = record(kLossless, {2.0, 2.0});
    const Decoded decoded = decodeWithFFmpeg(mPath);
    EXPECT_NEAR(static_cast<double>(decoded.frames()),
                static_cast<double>(ends.back()) * decoded.rate / mClientRate, 2.0)
        << "no gap and no repeated frames";
    ASSERT_EQ(mSpanSeconds.size(), 2u);
    EXPECT_GT(mSpanSeconds[1], 2.0 - kPauseSeconds / 2)
        << "the second span filled too soon: the pause's sound reached the file";
    const double pausedAt = static_cast<double>(ends.front()) / mClientRate - kEdgeSeconds;
    for (size_t c = 0; c < 2; ++c) {
        const ToneAnalysis tone = analyseChannel(decoded, c);
        SCOPED_TRACE("channel " + std::to_string(c) + ": " + tone.describe() + "\npaused at " +
                     std::to_string(pausedAt) + " s");
        EXPECT_GE(tone.purity, 0.99);
        for (const ToneAnalysis::Break& jump : tone.breaks) {
            EXPECT_NEAR(jump.at, pausedAt, 0.01) << "a break away from the pause";
            EXPECT_LT(jump.silentMs, 1.0) << "no hole where it paused";
        }
    }
}

} // namespace

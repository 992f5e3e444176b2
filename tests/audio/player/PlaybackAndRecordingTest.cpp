#include "audio/hardware/VELKAudioHardware.h"
#include "audio/meter/VELKAudioInputMeter.h"
#include "audio/player/VELKExtendedAudioFilePlayer.h"
#include "audio/recorder/VELKExtendedAudioFileRecorder.h"
#include "audio/units/VELKOutputAudioUnit.h"

#include "../file/AudioFileTestSupport.h"
#include "../realtime/RealtimeAllocationGuard.h"
#include "AudioServerTools.h"
#include "ToneAnalysis.h"
#include "audio/format/InternalInconsistencyException.h"
#include "audio/format/NSXException.h"
#include "platform/audio/AudioUnitService.h"
#include "platform/audio/MainQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>

// Against the private test server: the sine source plays 440 Hz; what is
// played to the null sink comes back on its monitor.

namespace {

using AudioServerTools::pumpFor;
using AudioServerTools::pumpUntil;

// Every test here ends with no allocation seen on an I/O thread.
class RealtimeTest : public ::testing::Test {
protected:
    ScratchFolder folder;
    void SetUp() override { RealtimeAllocationGuard::reset(); }
    void TearDown() override {
        EXPECT_EQ(RealtimeAllocationGuard::violations(), 0u) << "allocation on an I/O thread";
    }
};

std::shared_ptr<VELKAudioDevice> device(const char* uid) {
    auto found = VELKAudioDevice::withDeviceUID(uid);
    EXPECT_NE(found, nullptr) << uid;
    return found;
}

std::shared_ptr<VELKAudioStreamBasicDescription>
oneChannelOf(const std::shared_ptr<VELKAudioDevice>& input) {
    return VELKAudioStreamBasicDescription::clientStreamDescription(
        1, input->sampleRateForDirection(kVELKAudioDirectionInput));
}

// Captures a device's first channel into preallocated memory.
class Capture {
public:
    explicit Capture(const char* uid, double seconds = 6.0)
        : mUid(uid), mUnit(oneChannelOf(device(uid)), device(uid), std::vector<int32_t>{0}) {
        const double rate = mUnit.streamDescription()->sampleRate();
        mSamples.assign(static_cast<size_t>(seconds * rate), 0.0f);
        mUnit.setInputProcessingBlock([this](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                             uint32_t, uint32_t frames, AudioBufferList* data) {
            const auto* in = static_cast<const float*>(data->mBuffers[0].mData);
            size_t at = mCount.load(std::memory_order_relaxed);
            for (uint32_t i = 0; i < frames && at < mSamples.size(); ++i) {
                mSamples[at++] = in[i];
            }
            mCount.store(at, std::memory_order_release);
        });
    }
    // Starts, and waits until the device sends (an idle sink's monitor can
    // take a second or two to begin). On a sink's monitor, nothing may play
    // into the sink yet: a stream left there (by an earlier test, say) would
    // be heard as the sound under test.
    void start() {
        const std::string monitor = ".monitor";
        if (mUid.ends_with(monitor)) {
            const std::string sink = mUid.substr(0, mUid.size() - monitor.size());
            EXPECT_EQ(AudioServerTools::streamsPlayingInto(sink), std::vector<std::string>{})
                << "streams already playing into " << sink;
        }
        mUnit.start();
        EXPECT_TRUE(pumpUntil([this] { return mCount.load() > 0; }, 5.0)) << "nothing captured";
        mStartOffset = mCount.load();
    }
    void stop() { mUnit.stop(); }
    double rate() const { return mUnit.streamDescription()->sampleRate(); }
    // The samples captured between `from` and `to` seconds after the start.
    std::vector<float> between(double from, double to) const {
        const size_t count = mCount.load(std::memory_order_acquire);
        const auto begin = std::min(count, mStartOffset + static_cast<size_t>(from * rate()));
        const auto end = std::min(count, mStartOffset + static_cast<size_t>(to * rate()));
        return {mSamples.begin() + static_cast<long>(begin),
                mSamples.begin() + static_cast<long>(end)};
    }
    size_t count() const { return mCount.load(); }

private:
    std::string mUid;
    VELKInputAudioUnit mUnit;
    std::vector<float> mSamples;
    std::atomic<size_t> mCount{0};
    size_t mStartOffset = 0;
};

double peak(const std::vector<float>& samples) {
    double level = 0;
    for (float s : samples) {
        level = std::max(level, std::fabs(static_cast<double>(s)));
    }
    return level;
}

class Observer : public VELKExtendedAudioFilePlayerDelegate,
                 public VELKExtendedAudioFileRecorderDelegate {
public:
    int endOfFile = 0;
    int playerFailures = 0;
    std::string playerFailure;
    int recorderStops = 0;
    void audioFilePlayerDidReachEndOfFile(VELKExtendedAudioFilePlayer*) override { ++endOfFile; }
    void audioFilePlayerDidFail(VELKExtendedAudioFilePlayer*, const std::string& reason) override {
        ++playerFailures;
        playerFailure = reason;
    }
    void audioFileRecorderDidStop(VELKExtendedAudioFileRecorder*) override { ++recorderStops; }
};

struct Quality {
    const char* name;
    uint32_t format;
    double rate;
    uint32_t channels;
    uint64_t bitrate;
};

class Recording : public RealtimeTest, public ::testing::WithParamInterface<Quality> {};

void PrintTo(const Quality& q, std::ostream* out) {
    *out << q.name;
}

// Three seconds from the sine source in each quality: the file holds them
// (within one capture buffer) and plays the source's tone.
TEST_P(Recording, ThreeSecondsFromTheSineSource) {
    const Quality& q = GetParam();
    const std::string path = folder.path(std::string(q.name) + ".m4a");
    auto description = q.format == kAudioFormatAppleLossless
                           ? VELKAudioStreamBasicDescription::alacStreamDescription()
                           : VELKAudioStreamBasicDescription::aacStreamDescription();
    description->setChannelsPerFrame(q.channels);
    description->setSampleRate(q.rate);
    const auto sine = device("cassora_sine");
    auto file = VELKExtendedAudioFile::forRecording(path, description, q.bitrate, sine);
    // The mono source feeds both channels of a stereo file.
    std::optional<std::vector<int32_t>> channels;
    if (q.channels == 2) {
        channels = std::vector<int32_t>{0, 0};
    }
    auto recorder = VELKExtendedAudioFileRecorder::withFile(file, sine, channels);
    Observer observer;
    recorder->setDelegate(&observer);
    const double clientRate = file->clientDataFormat().mSampleRate;
    recorder->startRecording();
    ASSERT_TRUE(pumpUntil([&] { return recorder->currentFrame() >= 3 * clientRate; }, 10.0));
    recorder->stopRecording();
    const int64_t captured = recorder->currentFrame();
    EXPECT_TRUE(pumpUntil([&] { return observer.recorderStops == 1; }));
    EXPECT_EQ(recorder->audioFileWriter()->errorCount(), 0u);
    recorder.reset();
    file->closeFile();

    auto played = VELKExtendedAudioFile::forPlayback(path);
    const double fileRate = played->fileDataFormat().mSampleRate;
    EXPECT_NEAR(static_cast<double>(played->frameCount()), captured * fileRate / clientRate, 2.0)
        << "every captured frame is in the file";
    // The server hands over captured frames in bursts of a few slices, so the
    // recording stops within one burst of the three seconds.
    EXPECT_NEAR(static_cast<double>(played->frameCount()) / fileRate, 3.0, 0.06);
    const Channels decoded = readAll(*played, q.channels);
    EXPECT_NEAR(zeroCrossingFrequency(decoded[0], fileRate), 440.0, 3.0);
}

INSTANTIATE_TEST_SUITE_P(EveryQuality, Recording,
                         ::testing::Values(Quality{"HQ", kAudioFormatAppleLossless, 0, 2, 0},
                                           Quality{"HQ_locked", kAudioFormatAppleLossless, 44100, 1,
                                                   0},
                                           Quality{"MQ", kAudioFormatMPEG4AAC, 44100, 2, 128000},
                                           Quality{"LQ", kAudioFormatMPEG4AAC, 22050, 1, 48000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RealtimeTest, PauseAndResumeMakeOneContinuousFile) {
    const auto sine = device("cassora_sine");
    auto description = VELKAudioStreamBasicDescription::alacStreamDescription();
    description->setChannelsPerFrame(1);
    const std::string path = folder.path("paused.m4a");
    auto file = VELKExtendedAudioFile::forRecording(path, description, 0, sine);
    auto recorder = VELKExtendedAudioFileRecorder::withFile(file, sine);
    const double rate = file->clientDataFormat().mSampleRate;
    recorder->startRecording();
    ASSERT_TRUE(pumpUntil([&] { return recorder->currentFrame() >= rate; }, 10.0));
    recorder->stopRecording(); // pause
    const int64_t first = recorder->currentFrame();
    pumpFor(0.3);
    EXPECT_EQ(recorder->currentFrame(), first) << "nothing counts while paused";
    recorder->startRecording();
    ASSERT_TRUE(pumpUntil([&] { return recorder->currentFrame() >= first + rate / 2; }, 10.0));
    recorder->stopRecording();
    const int64_t total = recorder->currentFrame();
    EXPECT_NEAR(recorder->currentTime(), 1500.0, 60.0); // within a burst of slices
    recorder.reset();
    file->closeFile();
    auto played = VELKExtendedAudioFile::forPlayback(path);
    EXPECT_EQ(played->frameCount(), total) << "no gap and no repeated frames";
}

TEST_F(RealtimeTest, RecorderRefusesAChannelListOfTheWrongSize) {
    const auto sine = device("cassora_sine");
    auto description = VELKAudioStreamBasicDescription::alacStreamDescription();
    description->setChannelsPerFrame(1);
    auto file = VELKExtendedAudioFile::forRecording(folder.path("wrong.m4a"), description, 0, sine);
    EXPECT_THROW(VELKExtendedAudioFileRecorder::withFile(file, sine, std::vector<int32_t>{0, 0}),
                 InternalInconsistencyException);
}

// A 1 kHz tone file at the null sink's rate.
std::string toneFile(const ScratchFolder& folder, double seconds) {
    const std::string path = folder.path("tone.m4a");
    auto description = VELKAudioStreamBasicDescription::alacStreamDescription();
    description->setSampleRate(48000);
    auto file = VELKExtendedAudioFile::forRecording(path, description, 0, nullptr);
    writeChannels(*file, makeSine(2, static_cast<int64_t>(seconds * 48000), 48000, 1000));
    file->closeFile();
    return path;
}

TEST_F(RealtimeTest, PlayingComesBackOnTheMonitorAtEverySpeed) {
    const std::string path = toneFile(folder, 4.0);
    const auto sink = device("cassora_null");
    for (const double speed : {1.0, 2.0, -2.0}) {
        SCOPED_TRACE(speed);
        Capture capture("cassora_null.monitor", 8.0);
        auto player = VELKExtendedAudioFilePlayer::withFilename(path, sink);
        player->setPlaybackSpeed(speed);
        EXPECT_EQ(player->playbackSpeed(), std::fabs(speed));
        if (speed < 0) {
            player->setCurrentFrame(player->audioFile()->frameCount());
        }
        capture.start();
        player->startFilePlaying();
        pumpFor(1.2);
        player->stopFilePlaying();
        capture.stop();
        const std::vector<float> heard = capture.between(0.5, 1.1);
        ASSERT_GT(heard.size(), 1000u);
        EXPECT_NEAR(zeroCrossingFrequency(heard, capture.rate()), 1000.0 * std::fabs(speed),
                    25.0 * std::fabs(speed));
        EXPECT_GT(peak(heard), 0.3);
    }
}

TEST_F(RealtimeTest, FastWindMutedIsSilentAndEndsOnce) {
    const std::string path = toneFile(folder, 4.0);
    Capture capture("cassora_null.monitor", 8.0);
    auto player = VELKExtendedAudioFilePlayer::withFilename(path, device("cassora_null"));
    Observer observer;
    player->setDelegate(&observer);
    player->setPlaybackSpeed(8.0);
    player->setPlaybackLevel(0.0);
    capture.start();
    player->startFilePlaying();
    // Four seconds at eight times: about half a second.
    EXPECT_TRUE(pumpUntil([&] { return observer.endOfFile > 0; }, 5.0));
    pumpFor(0.3);
    capture.stop();
    EXPECT_EQ(observer.endOfFile, 1);
    EXPECT_FALSE(player->isFilePlaying());
    EXPECT_LT(peak(capture.between(0.0, 1.0)), 1e-6);
}

TEST_F(RealtimeTest, SeekingWhilePlayingContinuesThere) {
    const std::string path = toneFile(folder, 4.0);
    auto player = VELKExtendedAudioFilePlayer::withFilename(path, device("cassora_null"));
    player->startFilePlaying();
    // An idle null sink takes a moment before it consumes anything.
    ASSERT_TRUE(pumpUntil([&] { return player->currentTime() > 200.0; }, 5.0));
    player->setCurrentTime(3000.0);
    EXPECT_TRUE(player->isFilePlaying());
    EXPECT_NEAR(player->currentTime(), 3000.0, 100.0);
    // Within 0.4 s on a quiet machine; a suite run on a busy one once took
    // longer to play the first 0.1 s after the move.
    EXPECT_TRUE(pumpUntil([&] { return player->currentTime() > 3100.0; }, 2.0))
        << "still at " << player->currentTime() << " ms";
    EXPECT_LT(player->currentTime(), 3900.0) << "it played on from where it was moved to";
    player->stopFilePlaying();
    const double stoppedAt = player->currentTime();
    pumpFor(0.2);
    EXPECT_EQ(player->currentTime(), stoppedAt);
}

// A file that can no longer be read while it plays (here: closed under the
// player) stops the player, which says so; it is not the end of the file.
TEST_F(RealtimeTest, PlayerReportsAFileItCannotReadAsAFailure) {
    const std::string path = toneFile(folder, 4.0);
    auto player = VELKExtendedAudioFilePlayer::withFilename(path, device("cassora_null"));
    Observer observer;
    player->setDelegate(&observer);
    player->setPlaybackSpeed(-1.0); // backwards, every refill seeks
    player->setCurrentFrame(player->audioFile()->frameCount());
    player->startFilePlaying();
    ASSERT_TRUE(pumpUntil([&] { return player->currentTime() < 3800.0; }, 5.0));
    player->audioFile()->closeFile();
    EXPECT_TRUE(pumpUntil([&] { return observer.playerFailures > 0; }, 5.0));
    pumpFor(0.2);
    EXPECT_EQ(observer.playerFailures, 1);
    EXPECT_FALSE(observer.playerFailure.empty());
    EXPECT_EQ(observer.endOfFile, 0);
    EXPECT_FALSE(player->isFilePlaying());
}

// A stereo file whose samples count its frames (modulo 65536), as heard
// back through the null sink's monitor.
std::string countingFile(const ScratchFolder& folder, double seconds) {
    const std::string path = folder.path("count.m4a");
    auto description = VELKAudioStreamBasicDescription::alacStreamDescription();
    description->setSampleRate(48000);
    auto file = VELKExtendedAudioFile::forRecording(path, description, 0, nullptr);
    Channels count(2, std::vector<float>(static_cast<size_t>(seconds * 48000)));
    for (size_t i = 0; i < count[0].size(); ++i) {
        count[0][i] = count[1][i] =
            static_cast<float>(static_cast<int64_t>(i % 65536) - 32768) / 32768.0f;
    }
    writeChannels(*file, count, 4096);
    file->closeFile();
    return path;
}

int64_t frameOf(float sample) {
    return std::lround(sample * 32768.0f) + 32768;
}

// Pausing keeps the frame the listener has reached; resuming plays on from
// it. What the device had not played when the pause came is played after it.
TEST_F(RealtimeTest, PauseAndResumePlayOnFromWhatWasHeard) {
    const std::string path = countingFile(folder, 6.0);
    Capture capture("cassora_null.monitor", 5.0);
    auto player = VELKExtendedAudioFilePlayer::withFilename(path, device("cassora_null"));
    capture.start();
    player->startFilePlaying();
    ASSERT_TRUE(pumpUntil([&] { return player->currentTime() > 1000.0; }, 5.0));
    const int64_t beforePause = player->currentFrame();
    player->stopFilePlaying();
    const int64_t paused = player->currentFrame();
    // The position shown while playing allows for what the output holds,
    // judged without asking the server; the pause asks it. They agree
    // within a few hundredths of a second (the output's buffer is a
    // quarter), or more when the server's device thread ran late on a busy
    // machine; whether the pause is what was heard is judged below, by the
    // sound.
    EXPECT_LT(paused, beforePause + 0.06 * 48000);
    EXPECT_GT(paused, beforePause - 0.2 * 48000);
    pumpFor(0.4);
    EXPECT_EQ(player->currentFrame(), paused);
    player->startFilePlaying();
    pumpFor(1.0);
    player->stopFilePlaying();
    capture.stop();

    // The heard frames: one run before the pause, silence, one run after.
    const std::vector<float> heard = capture.between(0.0, 4.9);
    std::vector<std::pair<size_t, size_t>> runs; // [begin, end) of sound
    size_t silent = 0;
    for (size_t i = 0; i < heard.size(); ++i) {
        if (heard[i] == 0.0f) {
            ++silent;
            continue;
        }
        if (runs.empty() || silent > 2000) {
            runs.emplace_back(i, i + 1);
        }
        runs.back().second = i + 1;
        silent = 0;
    }
    ASSERT_EQ(runs.size(), 2u);
    const int64_t lastBefore = frameOf(heard[runs[0].second - 1]);
    const int64_t firstAfter = frameOf(heard[runs[1].first]);
    // Frames skipped (negative: heard twice). The server reports what its
    // device has played in steps of a few milliseconds.
    const int64_t skipped = (firstAfter - lastBefore - 1 + 65536 + 32768) % 65536 - 32768;
    EXPECT_LE(std::abs(skipped), 0.02 * 48000)
        << "heard up to frame " << lastBefore << ", resumed at " << firstAfter;
}

// The runs of sound in a capture: [begin, end) between silences of more
// than 2000 frames.
std::vector<std::pair<size_t, size_t>> soundRuns(const std::vector<float>& heard) {
    std::vector<std::pair<size_t, size_t>> runs;
    size_t silent = 0;
    for (size_t i = 0; i < heard.size(); ++i) {
        if (heard[i] == 0.0f) {
            ++silent;
            continue;
        }
        if (runs.empty() || silent > 2000) {
            runs.emplace_back(i, i + 1);
        }
        runs.back().second = i + 1;
        silent = 0;
    }
    return runs;
}

// With the vocal remover in the chain (switched off again, so the frames
// pass whole), a pause still resumes at what was heard although the stage
// held frames back, and the end of the file is heard to its last frame
// before the player reports it.
TEST_F(RealtimeTest, VocalRemoverStageKeepsThePositionAndTheLastFrames) {
    const std::string path = countingFile(folder, 3.0);
    Capture capture("cassora_null.monitor", 5.0);
    auto player = VELKExtendedAudioFilePlayer::withFilename(path, device("cassora_null"));
    Observer observer;
    player->setDelegate(&observer);
    ASSERT_TRUE(player->setRemovesVoice(true));
    EXPECT_TRUE(player->removesVoice());
    ASSERT_TRUE(player->setRemovesVoice(false));
    EXPECT_FALSE(player->removesVoice());
    player->setCurrentTime(1000.0);
    capture.start();
    player->startFilePlaying();
    ASSERT_TRUE(pumpUntil([&] { return player->currentTime() > 1600.0; }, 5.0));
    player->stopFilePlaying();
    pumpFor(0.3);
    player->startFilePlaying();
    EXPECT_TRUE(pumpUntil([&] { return observer.endOfFile > 0; }, 5.0));
    pumpFor(0.3);
    capture.stop();
    EXPECT_EQ(observer.endOfFile, 1);

    const std::vector<float> heard = capture.between(0.0, 4.9);
    const auto runs = soundRuns(heard);
    ASSERT_EQ(runs.size(), 2u);
    // Each run fades in over its first 1024 frames (the stage's window).
    const int64_t lastBefore = frameOf(heard[runs[0].second - 1]);
    const int64_t firstAfter = (frameOf(heard[runs[1].first + 1024]) - 1024 + 65536) % 65536;
    const int64_t skipped = (firstAfter - lastBefore - 1 + 65536 + 32768) % 65536 - 32768;
    EXPECT_LE(std::abs(skipped), 0.02 * 48000)
        << "heard up to frame " << lastBefore << ", resumed at " << firstAfter;
    // The stage plays out the 4096 frames it holds before the end is
    // reported, its window fading the very last hop: the last frame heard
    // whole is where the count still runs on by one.
    size_t end = runs[1].second - 1;
    while (end > runs[1].first + 8 && frameOf(heard[end]) != (frameOf(heard[end - 1]) + 1) % 65536) {
        --end;
    }
    const int64_t lastHeard = frameOf(heard[end]);
    const int64_t missing = ((3 * 48000 - 1) % 65536 - lastHeard + 65536) % 65536;
    EXPECT_LT(missing, 0.1 * 48000) << "last frame heard: " << lastHeard;
}

// The end of a tape is heard to its last frame before the player says it
// has ended (and its owner stops the output).
TEST_F(RealtimeTest, TheEndOfAFileIsHeardToItsLastFrame) {
    const std::string path = countingFile(folder, 1.5);
    Capture capture("cassora_null.monitor", 4.0);
    auto player = VELKExtendedAudioFilePlayer::withFilename(path, device("cassora_null"));
    Observer observer;
    player->setDelegate(&observer);
    capture.start();
    player->startFilePlaying();
    ASSERT_TRUE(pumpUntil([&] { return observer.endOfFile > 0; }, 5.0));
    player->stopFilePlaying();
    pumpFor(0.3);
    capture.stop();
    EXPECT_EQ(observer.endOfFile, 1);

    const std::vector<float> heard = capture.between(0.0, 3.9);
    const auto runs = soundRuns(heard);
    ASSERT_FALSE(runs.empty());
    const int64_t lastHeard = frameOf(heard[runs.back().second - 1]);
    const int64_t lastFrame = (static_cast<int64_t>(1.5 * 48000) - 1) % 65536;
    EXPECT_EQ(lastHeard, lastFrame) << "the end of the file was cut off";
}

// Runs of at least `minimum` heard frames that each count on by exactly one,
// as played at the normal speed: [begin, end) in the capture. Silence counts
// as one frame over and over, and so ends a run.
std::vector<std::pair<size_t, size_t>> normalSpeedRuns(const std::vector<float>& heard,
                                                       size_t minimum) {
    std::vector<std::pair<size_t, size_t>> runs;
    size_t begin = 0;
    for (size_t i = 1; i <= heard.size(); ++i) {
        const bool onByOne =
            i < heard.size() && frameOf(heard[i]) == (frameOf(heard[i - 1]) + 1) % 65536;
        if (!onByOne) {
            if (i - begin >= minimum) {
                runs.emplace_back(begin, i);
            }
            begin = i;
        }
    }
    return runs;
}

// Frames from `a` on to `b`, on the count that wraps at 65536: negative
// when `b` comes before `a`.
int64_t countedOn(int64_t a, int64_t b) {
    return (b - a + 65536 + 32768) % 65536 - 32768;
}

// Playing forwards at the normal speed the output keeps a longer buffer.
// A cue, the return to playing and a move of the tape are heard where they
// came, without what the buffer held (heard late, or twice), and steady
// playing in between is heard whole: every frame once, in order. A change
// may leave a transient: on the null sink, about 10 ms of silence and up to
// 20 ms of the tape skipped at a change of speed.
TEST_F(RealtimeTest, ChangesWhilePlayingAreHeardWhereTheyCame) {
    const std::string path = countingFile(folder, 8.0);
    Capture capture("cassora_null.monitor", 7.0);
    auto player = VELKExtendedAudioFilePlayer::withFilename(path, device("cassora_null"));
    capture.start();
    player->startFilePlaying();
    ASSERT_TRUE(pumpUntil([&] { return player->currentTime() > 1500.0; }, 5.0));
    PulseOutputBufferRequest buffer{};
    uint32_t size = sizeof(buffer);
    ASSERT_EQ(AudioUnitGetProperty(player->outputAudioUnit()->outputUnit(),
                                   kPulseOutputUnitProperty_BufferRequest, kAudioUnitScope_Global,
                                   0, &buffer, &size),
              0);
    EXPECT_EQ(buffer.bufferFrames, 11264u) << "about a quarter of a second, once grown";

    const int64_t cuedAt = player->currentFrame();
    player->setPlaybackSpeed(2.0);
    pumpFor(0.6);
    player->setPlaybackSpeed(1.0);
    ASSERT_TRUE(pumpUntil([&] { return player->currentTime() > 4000.0; }, 5.0));
    const int64_t movedAt = player->currentFrame();
    const int64_t target = 6 * 48000 + 123;
    player->setCurrentFrame(target);
    pumpFor(1.0);
    player->stopFilePlaying();
    capture.stop();

    const std::vector<float> heard = capture.between(0.0, 6.9);
    const auto runs = normalSpeedRuns(heard, 2400);
    ASSERT_EQ(runs.size(), 3u) << "steady playing was broken, or a change was not heard";
    // The cue: the normal speed ends where the listener was, and the cue
    // goes on from the next frame.
    const int64_t lastBeforeCue = frameOf(heard[runs[0].second - 1]);
    // What the sink itself holds still plays: less than the tenth of a second
    // a shorter buffer would hold, and far less than this one.
    const int64_t sinkHolds = 0.1 * 48000;
    EXPECT_LE(std::abs(countedOn(cuedAt % 65536, lastBeforeCue)), sinkHolds)
        << "what the buffer held was heard after the cue";
    size_t cue = runs[0].second;
    while (cue < runs[1].first && heard[cue] == 0.0f) {
        ++cue;
    }
    ASSERT_LT(cue, runs[1].first) << "nothing heard at twice the speed";
    const int64_t transient = 0.03 * 48000;
    EXPECT_LE(std::abs(countedOn(lastBeforeCue + 1, frameOf(heard[cue]))), transient)
        << "the cue began at " << frameOf(heard[cue]) << " after " << lastBeforeCue;
    // Back to the normal speed where the cue had got to.
    size_t cueEnd = runs[1].first;
    while (cueEnd > cue && heard[cueEnd - 1] == 0.0f) {
        --cueEnd;
    }
    EXPECT_LE(std::abs(countedOn(frameOf(heard[cueEnd - 1]) + 2, frameOf(heard[runs[1].first]))),
              transient)
        << "the cue ended at " << frameOf(heard[cueEnd - 1]) << ", playing went on at "
        << frameOf(heard[runs[1].first]);
    // The move: heard at once, from the very frame.
    EXPECT_LE(std::abs(countedOn(movedAt % 65536, frameOf(heard[runs[1].second - 1]))), sinkHolds)
        << "what the buffer held was heard after the move";
    EXPECT_LE(std::abs(countedOn(target % 65536, frameOf(heard[runs[2].first]))), 0.01 * 48000)
        << "the move went on at " << frameOf(heard[runs[2].first]);
    std::printf("silences at the changes: %.1f, %.1f and %.1f ms\n",
                (cue - runs[0].second) / 48.0, (runs[1].first - cueEnd) / 48.0,
                (runs[2].first - runs[1].second) / 48.0);
}

// Through the start, the buffer's growth and its steady top-ups, a tone
// played at the normal speed comes out as the one tone it is, unbroken.
TEST_F(RealtimeTest, SteadyPlayingKeepsAToneWhole) {
    const std::string path = toneFile(folder, 5.0);
    Capture capture("cassora_null.monitor", 6.0);
    auto player = VELKExtendedAudioFilePlayer::withFilename(path, device("cassora_null"));
    capture.start();
    player->startFilePlaying();
    ASSERT_TRUE(pumpUntil([&] { return player->currentTime() > 3500.0; }, 6.0));
    player->stopFilePlaying();
    capture.stop();

    const std::vector<float> captured = capture.between(0.0, 5.9);
    const auto runs = soundRuns(captured);
    ASSERT_EQ(runs.size(), 1u) << "the tone was broken by silence";
    // Its first and last 50 ms are left out: they fade in and are cut off.
    const size_t margin = 2400;
    ASSERT_GT(runs[0].second - runs[0].first, 3 * 48000u);
    const ToneAnalysis tone = analyseTone(captured.data() + runs[0].first + margin,
                                          runs[0].second - runs[0].first - 2 * margin, 1,
                                          capture.rate(), 1000.0);
    EXPECT_NEAR(tone.frequency, 1000.0, 5.0) << tone.describe();
    EXPECT_GT(tone.purity, 0.99) << tone.describe();
    EXPECT_TRUE(tone.breaks.empty()) << tone.describe();
}

TEST_F(RealtimeTest, PlayerSpeedVolumeAndTime) {
    const std::string path = toneFile(folder, 1.0);
    auto player = VELKExtendedAudioFilePlayer::withFilename(path, device("cassora_null"));
    EXPECT_EQ(player->maxTime(), 1000.0);
    player->setCurrentTime(10.01); // between frames 480 and 481
    EXPECT_EQ(player->currentFrame(), 480);
    EXPECT_THROW(player->setPlaybackSpeed(0.0), InternalInconsistencyException);
    player->setPlaybackSpeed(-2.0);
    EXPECT_TRUE(player->fileReader()->reverse());
    EXPECT_EQ(player->playbackSpeed(), 2.0);
    EXPECT_NO_THROW(player->setPlaybackVolume(-20));
    EXPECT_THROW(
        VELKExtendedAudioFilePlayer::withFilename(folder.path("none.m4a"), device("cassora_null")),
        NSXException);
}

TEST(OutputUnit, VarispeedSliceLimit) {
    EXPECT_EQ(VELKOutputAudioUnit::varispeedMaximumFramesPerSlice(512, 48000, 48000), 528u);
    EXPECT_EQ(VELKOutputAudioUnit::varispeedMaximumFramesPerSlice(512, 96000, 48000), 1040u);
}

TEST_F(RealtimeTest, MeterLevels) {
    EXPECT_EQ(VELKAudioInputMeter::ringLengthForSampleRate(44100), 5513u);
    std::vector<float> square(4800), sine(4800);
    for (size_t i = 0; i < square.size(); ++i) {
        square[i] = (i / 24) % 2 ? 1.0f : -1.0f;
        sine[i] = static_cast<float>(std::sin(2 * M_PI * 1000 * i / 48000.0));
    }
    EXPECT_NEAR(VELKAudioInputMeter::levelOfSamples(square.data(), square.size()), 0.0, 1e-6);
    EXPECT_NEAR(VELKAudioInputMeter::levelOfSamples(sine.data(), sine.size()), -3.01, 0.01);
    EXPECT_TRUE(
        std::isinf(VELKAudioInputMeter::levelOfSamples(std::vector<float>(100).data(), 100)));

    VELKAudioInputMeter meter(device("cassora_sine"));
    EXPECT_EQ(meter.channelCount(), 1u);
    EXPECT_TRUE(std::isinf(meter.levels()[0])) << "silence before anything is heard";
    meter.start();
    // The source may take a moment to start sending.
    const double expected = 20 * std::log10(0.5 / std::sqrt(2.0)); // a tone at half scale
    EXPECT_TRUE(pumpUntil([&] { return std::fabs(meter.levels()[0] - expected) < 1.0; }, 5.0))
        << meter.levels()[0];
    meter.stop();
}

} // namespace

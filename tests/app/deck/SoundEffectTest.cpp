#include "app/deck/SoundEffect.h"
#include "app/deck/SoundEffectPlayers.h"
#include "app/deck/WaveAudio.h"
#include "app/library/Tape.h"
#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/units/VELKInputAudioUnit.h"
#include "platform/audio/PulseHardware.h"

#include "../../audio/realtime/RealtimeAllocationGuard.h"
#include "AudioServerTools.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>

namespace {

using AudioServerTools::pumpFor;
using AudioServerTools::pumpUntil;

constexpr double kPi = 3.14159265358979323846;

double decibels(double v) {
    return 20.0 * std::log10(std::max(v, 1e-10));
}

void put16(QByteArray& out, uint16_t v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>(v >> 8));
}

void put32(QByteArray& out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v & 0xFFFF));
    put16(out, static_cast<uint16_t>(v >> 16));
}

// A WAVE file around `data`, its format chunk written as given (so that
// tests can make it inconsistent), optionally in the extensible layout.
QByteArray waveFile(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                    const QByteArray& data, bool extensible = false, int blockAlign = -1) {
    QByteArray fmt;
    put16(fmt, extensible ? 0xFFFE : tag);
    put16(fmt, channels);
    put32(fmt, rate);
    const uint16_t align = blockAlign >= 0 ? blockAlign : channels * bits / 8;
    put32(fmt, rate * align);
    put16(fmt, align);
    put16(fmt, bits);
    if (extensible) {
        put16(fmt, 22);
        put16(fmt, bits);
        put32(fmt, 0);
        put16(fmt, tag); // the sub-format GUID begins with the format tag
        fmt.append("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    QByteArray out = "RIFF";
    put32(out, static_cast<uint32_t>(4 + 8 + fmt.size() + 8 + data.size() + (data.size() & 1)));
    out += "WAVEfmt ";
    put32(out, static_cast<uint32_t>(fmt.size()));
    out += fmt;
    out += "data";
    put32(out, static_cast<uint32_t>(data.size()));
    out += data;
    if (data.size() & 1) {
        out.append('\0');
    }
    return out;
}

QByteArray floats(std::initializer_list<float> values) {
    QByteArray out;
    for (float v : values) {
        out.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
    return out;
}

// A steady stereo tone of `seconds` as float WAVE data.
QByteArray toneWave(double seconds, double frequency = 1000.0, double amplitude = 0.25) {
    const double rate = 44100;
    QByteArray data;
    const auto frames = static_cast<size_t>(seconds * rate);
    for (size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<float>(amplitude * std::sin(2 * kPi * frequency * i / rate));
        data.append(reinterpret_cast<const char*>(&v), sizeof v);
        data.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
    return waveFile(3, 2, 44100, 32, data);
}

// What the null sink plays, from its monitor's first channel, into memory
// made beforehand.
class SinkCapture {
public:
    SinkCapture()
        : mDevice(VELKAudioDevice::withDeviceUID("cassora_null.monitor")),
          mUnit(VELKAudioStreamBasicDescription::clientStreamDescription(
                    1, mDevice->sampleRateForDirection(kVELKAudioDirectionInput)),
                mDevice, std::vector<int32_t>{0}) {
        mSamples.assign(static_cast<size_t>(8.0 * rate()), 0.0f);
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
    ~SinkCapture() { mUnit.stop(); }

    // Returns once the monitor delivers (an idle sink's can take a while).
    void start() {
        ASSERT_EQ(AudioServerTools::streamsPlayingInto("cassora_null"), std::vector<std::string>{})
            << "something already plays into the sink";
        mUnit.start();
        ASSERT_TRUE(pumpUntil([this] { return count() > 0; }, 5.0)) << "the monitor is silent";
    }
    double rate() const { return mUnit.streamDescription()->sampleRate(); }
    size_t count() const { return mCount.load(std::memory_order_acquire); }
    std::vector<float> samples(size_t from = 0) const {
        const size_t end = count();
        return {mSamples.begin() + static_cast<long>(std::min(from, end)),
                mSamples.begin() + static_cast<long>(end)};
    }

private:
    std::shared_ptr<VELKAudioDevice> mDevice;
    VELKInputAudioUnit mUnit;
    std::vector<float> mSamples;
    std::atomic<size_t> mCount{0};
};

double peak(const std::vector<float>& samples) {
    double level = 0;
    for (float s : samples) {
        level = std::max(level, std::fabs(static_cast<double>(s)));
    }
    return level;
}

// Seconds from the first to the last sample above `threshold`; 0 when none.
double heardSeconds(const std::vector<float>& samples, double rate, double threshold = 0.05) {
    const auto loud = [threshold](float s) { return std::fabs(s) > threshold; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    if (first == samples.end()) {
        return 0;
    }
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
    return static_cast<double>(samples.rend() - last - (first - samples.begin())) / rate;
}

std::shared_ptr<SoundEffect> tone(double seconds) {
    QString error;
    auto sound = SoundEffect::fromWaveData(toneWave(seconds), QStringLiteral("Tone"), &error);
    EXPECT_NE(sound, nullptr) << error.toStdString();
    return sound;
}

} // namespace

// ---- Reading WAVE data ----

TEST(WaveAudio, ReadsIntegerAndFloatSamplesInEveryLayout) {
    QByteArray pcm16;
    for (int16_t v : {int16_t(0), int16_t(16384), int16_t(-32768), int16_t(32767)}) {
        put16(pcm16, static_cast<uint16_t>(v));
    }
    auto stereo = decodeWaveAudio(waveFile(1, 2, 44100, 16, pcm16));
    ASSERT_TRUE(stereo);
    EXPECT_EQ(stereo->sampleRate, 44100);
    ASSERT_EQ(stereo->channels.size(), 2u);
    ASSERT_EQ(stereo->frameCount(), 2u);
    EXPECT_FLOAT_EQ(stereo->channels[0][0], 0.0f);
    EXPECT_FLOAT_EQ(stereo->channels[1][0], 0.5f);
    EXPECT_FLOAT_EQ(stereo->channels[0][1], -1.0f);
    EXPECT_NEAR(stereo->channels[1][1], 1.0f, 1e-4);

    // 24-bit, negative values sign-extended; odd data size padded.
    const QByteArray pcm24("\x00\x00\xC0"
                           "\xFF\xFF\x3F"
                           "\x00\x00\x80",
                           9);
    auto mono = decodeWaveAudio(waveFile(1, 1, 22050, 24, pcm24));
    ASSERT_TRUE(mono);
    ASSERT_EQ(mono->frameCount(), 3u);
    EXPECT_FLOAT_EQ(mono->channels[0][0], -0.5f);
    EXPECT_NEAR(mono->channels[0][1], 0.5f, 1e-6);
    EXPECT_FLOAT_EQ(mono->channels[0][2], -1.0f);

    auto extensible = decodeWaveAudio(waveFile(3, 1, 48000, 32, floats({0.25f, -0.75f}), true));
    ASSERT_TRUE(extensible);
    EXPECT_EQ(extensible->sampleRate, 48000);
    EXPECT_FLOAT_EQ(extensible->channels[0][1], -0.75f);
}

TEST(WaveAudio, RejectsDamagedAndForeignDataWithAReason) {
    const QByteArray good = waveFile(3, 2, 44100, 32, floats({0.1f, 0.2f, 0.3f, 0.4f}));
    ASSERT_TRUE(decodeWaveAudio(good));

    QByteArray unknownChunkCutShort = good;
    unknownChunkCutShort.append("LIST");
    put32(unknownChunkCutShort, 1000);
    put32(unknownChunkCutShort, 0);
    const uint32_t riff = static_cast<uint32_t>(unknownChunkCutShort.size() - 8);
    std::memcpy(unknownChunkCutShort.data() + 4, &riff, 4);

    QByteArray notANumber = floats({0.1f, 0.2f});
    const float nan = std::nanf("");
    std::memcpy(notANumber.data(), &nan, 4);

    const std::pair<const char*, QByteArray> cases[] = {
        {"empty", QByteArray()},
        {"another RIFF form", QByteArray("RIFF\x04\x00\x00\x00"
                                         "AVI ",
                                         12)},
        {"plain text", QByteArray("this is not a sound at all")},
        {"a chunk cut short", unknownChunkCutShort},
        {"compressed samples", waveFile(2, 1, 44100, 4, QByteArray(8, '\x11'))},
        {"12-bit samples", waveFile(1, 1, 44100, 12, QByteArray(8, '\x11'), false, 2)},
        {"no channels", waveFile(1, 0, 44100, 16, QByteArray(8, '\x11'))},
        {"a wrong frame size", waveFile(1, 2, 44100, 16, QByteArray(8, '\x11'), false, 2)},
        {"half a frame", waveFile(1, 2, 44100, 16, QByteArray(6, '\x11'))},
        {"no audio", waveFile(1, 2, 44100, 16, QByteArray())},
        {"a silly rate", waveFile(1, 1, 3, 16, QByteArray(8, '\x11'))},
        {"samples that are not numbers", waveFile(3, 1, 44100, 32, notANumber)},
    };
    for (const auto& [what, bytes] : cases) {
        QString error;
        EXPECT_FALSE(decodeWaveAudio(bytes, &error)) << what;
        EXPECT_FALSE(error.isEmpty()) << what;
    }
    // A file cut off anywhere is refused, never read past its end.
    for (int length = 0; length < good.size(); ++length) {
        EXPECT_FALSE(decodeWaveAudio(good.left(length))) << "cut to " << length << " bytes";
    }
    QString error;
    EXPECT_EQ(SoundEffect::fromWaveData(good.left(30), QStringLiteral("Broken"), &error), nullptr);
    EXPECT_TRUE(error.startsWith(QStringLiteral("Broken: "))) << error.toStdString();
}

// ---- The sounds the program carries ----

TEST(DeckSounds, AllNineLoadShortCleanAndEquallyLoud) {
    for (int i = 0; i < SoundEffectPlayers::kCount; ++i) {
        const QString name = QString::fromLatin1(SoundEffectPlayers::soundNames()[i]);
        SCOPED_TRACE(name.toStdString());
        QString error;
        const auto sound = SoundEffect::fromResource(name, &error);
        ASSERT_NE(sound, nullptr) << error.toStdString();
        EXPECT_EQ(sound->sampleRate(), 44100);
        EXPECT_EQ(sound->channelCount(), 2u);
        if (i == SoundEffectPlayers::TapeSpeeding) {
            EXPECT_NEAR(sound->duration(), 1.0, 0.1);
        } else {
            EXPECT_GE(sound->duration(), 0.1);
            EXPECT_LE(sound->duration(), 0.8);
        }
        double top = 0;
        double energy = 0;
        double sum = 0;
        for (const auto& channel : sound->audio().channels) {
            top = std::max(top, peak(channel));
            for (float s : channel) {
                energy += s * s;
                sum += s;
            }
            if (i != SoundEffectPlayers::TapeSpeeding) {
                // Faded in and out: no click at either end.
                EXPECT_LT(std::fabs(channel.front()), 0.01);
                EXPECT_LT(std::fabs(channel.back()), 0.01);
            }
        }
        const double samples = 2.0 * static_cast<double>(sound->frameCount());
        EXPECT_NEAR(decibels(top), -12.0, 1.0) << "peak";
        EXPECT_GT(decibels(std::sqrt(energy / samples)), -40.0) << "rms";
        EXPECT_LT(std::fabs(sum / samples), 1e-3) << "DC";
    }
}

// Whether `joint` is no larger than 99 in 100 of the `steps`.
bool usualStep(std::vector<double> steps, double joint) {
    std::sort(steps.begin(), steps.end());
    return joint <= steps[steps.size() * 99 / 100];
}

// The whirr runs on from its last frame into its first as it runs from any
// frame into the next: neither the step between them nor the change of
// slope (which a cut in its smooth tones would show) stands out.
TEST(DeckSounds, TheFastWindLoopJoinsWithoutAStep) {
    const auto sound = SoundEffect::fromResource(QStringLiteral("TapeSpeeding"));
    ASSERT_NE(sound, nullptr);
    for (const auto& channel : sound->audio().channels) {
        const size_t n = channel.size();
        const auto at = [&](size_t i) { return static_cast<double>(channel[i % n]); };
        // Frame i as the loop plays it: i = n is the first frame again.
        const auto step = [&](size_t i) { return std::fabs(at(i) - at(i - 1)); };
        const auto bend = [&](size_t i) { return std::fabs(at(i) - 2 * at(i - 1) + at(i - 2)); };
        std::vector<double> steps;
        std::vector<double> bends;
        for (size_t i = 2; i < n; ++i) {
            steps.push_back(step(i));
            bends.push_back(bend(i));
        }
        EXPECT_TRUE(usualStep(steps, step(n))) << "a step where the loop goes round";
        EXPECT_TRUE(usualStep(bends, std::max(bend(n), bend(n + 1))))
            << "a kink where the loop goes round";
    }
}

TEST(DeckSounds, TheDrawerSlidesAcrossTheStereoField) {
    const auto balance = [](const SoundEffect& sound, size_t from, size_t to) {
        double left = 0;
        double right = 0;
        for (size_t i = from; i < to; ++i) {
            left += sound.audio().channels[0][i] * sound.audio().channels[0][i];
            right += sound.audio().channels[1][i] * sound.audio().channels[1][i];
        }
        return 10.0 * std::log10(right / left); // dB, positive to the right
    };
    const auto open = SoundEffect::fromResource(QStringLiteral("DrawerOpenStereo"));
    const auto close = SoundEffect::fromResource(QStringLiteral("DrawerCloseStereo"));
    ASSERT_TRUE(open && close);
    const size_t quarter = open->frameCount() / 4;
    EXPECT_LT(balance(*open, 0, quarter), -3.0);
    EXPECT_GT(balance(*open, 2 * quarter, 3 * quarter), 3.0);
    EXPECT_GT(balance(*close, 0, quarter), 3.0);
    EXPECT_LT(balance(*close, 2 * quarter, 3 * quarter), -3.0);
}

TEST(WelcomeTape, IsASpokenLabelledTapeOurReaderOpens) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("cr-welcome.m4a"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(":/cassora/cr-welcome.m4a"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);

    auto file = VELKExtendedAudioFile::forPlayback(path.toStdString());
    const double rate = file->fileDataFormat().mSampleRate;
    EXPECT_EQ(rate, 44100);
    const double seconds = static_cast<double>(file->frameCount()) / rate;
    EXPECT_GT(seconds, 3.0);
    EXPECT_LT(seconds, 60.0);
    // It speaks: a stretch in the middle is far from silent.
    const uint32_t channels = file->clientDataFormat().mChannelsPerFrame;
    std::vector<std::vector<float>> buffers(channels, std::vector<float>(44100));
    std::vector<char> listBytes(AudioBufferListSize(channels));
    auto* list = reinterpret_cast<AudioBufferList*>(listBytes.data());
    list->mNumberBuffers = channels;
    for (uint32_t c = 0; c < channels; ++c) {
        list->mBuffers[c] = {1, 44100 * sizeof(float), buffers[c].data()};
    }
    file->seekToFrame(static_cast<int64_t>(rate * 2));
    uint32_t frames = 44100;
    file->readIntoAudioBufferList(list, static_cast<int64_t>(rate * 2), &frames);
    EXPECT_EQ(frames, 44100u);
    EXPECT_GT(decibels(peak(buffers[0])), -20.0);
    file.reset();

    Tape tape(path);
    tape.setCommitsOnDestruction(false);
    EXPECT_EQ(tape.title(), QStringLiteral("Welcome to Cassora"));
    EXPECT_TRUE(tape.notes().contains(QStringLiteral("Z records")));
    EXPECT_TRUE(tape.date().isValid());
    ASSERT_TRUE(tape.tapeLetter());
    EXPECT_EQ(tape.tapeLetter()->letter(), QStringLiteral("W"));
    EXPECT_EQ(tape.quality(), QStringLiteral("MQ"));
    EXPECT_FALSE(tape.dirty());
}

// ---- Playing, on the private server's null sink ----

class SoundEffectPlayback : public ::testing::Test {
protected:
    void SetUp() override { RealtimeAllocationGuard::reset(); }
    void TearDown() override {
        EXPECT_EQ(RealtimeAllocationGuard::violations(), 0u) << "allocation on an I/O thread";
    }
};

TEST_F(SoundEffectPlayback, APlayedSoundIsHeardAndReleasesItsStream) {
    SinkCapture capture;
    capture.start();
    EXPECT_EQ(SoundEffectPlayers::systemOutputDeviceUID(), "cassora_null");
    SoundEffectPlayers players([] { return true; }, SoundEffectPlayers::systemOutputDeviceUID());
    ASSERT_NE(players.sound(SoundEffectPlayers::ButtonPress), nullptr);
    EXPECT_TRUE(players.sound(SoundEffectPlayers::TapeSpeeding)->looping());
    EXPECT_FALSE(players.sound(SoundEffectPlayers::ButtonPress)->looping());

    const size_t before = capture.count();
    const auto started = std::chrono::steady_clock::now();
    players.play(SoundEffectPlayers::ButtonPress);
    const double playCallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(playCallSeconds, 0.5) << "starting a sound holds up the deck";
    EXPECT_TRUE(players.isPlaying(SoundEffectPlayers::ButtonPress));
    ASSERT_TRUE(pumpUntil([&] { return !players.isPlaying(SoundEffectPlayers::ButtonPress); }, 3.0))
        << "the sound never finished";
    pumpFor(0.3);
    EXPECT_GT(decibels(peak(capture.samples(before))), -18.0) << "nothing was heard";
    EXPECT_EQ(AudioServerTools::streamsPlayingInto("cassora_null"), std::vector<std::string>{})
        << "a finished sound keeps its stream";
    std::printf("starting a sound took %.1f ms\n", playCallSeconds * 1000.0);

    // Played again, it is heard again.
    const size_t second = capture.count();
    players.play(SoundEffectPlayers::ButtonPress);
    ASSERT_TRUE(
        pumpUntil([&] { return !players.isPlaying(SoundEffectPlayers::ButtonPress); }, 3.0));
    pumpFor(0.3);
    EXPECT_GT(decibels(peak(capture.samples(second))), -18.0);
}

TEST_F(SoundEffectPlayback, PlayingWhilePlayingNeitherRestartsNorOverlaps) {
    SinkCapture capture;
    capture.start();
    const auto sound = tone(0.6);
    ASSERT_TRUE(sound);
    const size_t before = capture.count();
    ASSERT_TRUE(sound->play());
    pumpFor(0.25);
    EXPECT_TRUE(sound->play()) << "it still plays";
    pumpFor(0.1);
    EXPECT_TRUE(sound->play());
    ASSERT_TRUE(pumpUntil([&] { return !sound->isPlaying(); }, 3.0));
    pumpFor(0.3);
    const std::vector<float> heard = capture.samples(before);
    const double seconds = heardSeconds(heard, capture.rate());
    EXPECT_GT(seconds, 0.58) << "the end of the tone was cut off";
    EXPECT_LT(seconds, 0.65) << "a restart would lengthen the tone";
    EXPECT_LT(peak(heard), 0.3) << "an overlap would add up";
}

// A key pressed again soon after its sound is heard to the end makes the
// sound again, though the first one's stream is still on its way out.
TEST_F(SoundEffectPlayback, ASoundHeardToItsEndPlaysAgainAtOnce) {
    SinkCapture capture;
    capture.start();
    const auto sound = tone(0.3);
    ASSERT_TRUE(sound);
    const size_t before = capture.count();
    ASSERT_TRUE(sound->play());
    EXPECT_TRUE(sound->isSounding());
    ASSERT_TRUE(pumpUntil([&] { return !sound->isSounding(); }, 1.0));
    EXPECT_TRUE(sound->isPlaying()) << "the stream outlives the sound";
    ASSERT_TRUE(sound->play());
    EXPECT_TRUE(sound->isSounding());
    ASSERT_TRUE(pumpUntil([&] { return !sound->isPlaying(); }, 3.0));
    pumpFor(0.3);
    const std::vector<float> heard = capture.samples(before);
    // Two tones, the second starting about 0.45 s after the first.
    EXPECT_GT(heardSeconds(heard, capture.rate()), 0.65) << "the second press was not heard";
    EXPECT_LT(peak(heard), 0.3) << "the two tones overlap";
}

TEST_F(SoundEffectPlayback, ALoopingSoundGoesOnUntilStopped) {
    SinkCapture capture;
    capture.start();
    const auto sound = tone(0.3);
    ASSERT_TRUE(sound);
    sound->setLooping(true);
    const size_t before = capture.count();
    ASSERT_TRUE(sound->play());
    pumpFor(1.5);
    EXPECT_TRUE(sound->isPlaying()) << "the loop ended by itself";
    sound->stop();
    EXPECT_FALSE(sound->isPlaying());
    const size_t stopped = capture.count();
    pumpFor(0.6);
    const std::vector<float> heard = capture.samples(before);
    EXPECT_GT(heardSeconds(heard, capture.rate()), 1.2);
    // No gap where the loop goes round: every 10 ms of the middle sounds.
    const auto first =
        std::find_if(heard.begin(), heard.end(), [](float s) { return std::fabs(s) > 0.05; }) -
        heard.begin();
    const auto window = static_cast<size_t>(capture.rate() / 100);
    for (size_t at = first + window; at + window < first + capture.rate(); at += window) {
        const std::vector<float> part(heard.begin() + at, heard.begin() + at + window);
        ASSERT_GT(peak(part), 0.2) << "a gap at " << at / capture.rate() << " s";
    }
    EXPECT_LT(peak(capture.samples(stopped + static_cast<size_t>(0.3 * capture.rate()))), 0.01)
        << "heard after stop";
    EXPECT_EQ(AudioServerTools::streamsPlayingInto("cassora_null"), std::vector<std::string>{});

    // Turned off while playing, the loop runs out instead.
    ASSERT_TRUE(sound->play());
    pumpFor(0.2);
    sound->setLooping(false);
    EXPECT_TRUE(pumpUntil([&] { return !sound->isPlaying(); }, 2.0));
}

TEST_F(SoundEffectPlayback, DisabledEffectsMakeNoSoundButStillStop) {
    SinkCapture capture;
    capture.start();
    bool enabled = false;
    SoundEffectPlayers players([&] { return enabled; });
    const size_t before = capture.count();
    players.play(SoundEffectPlayers::ButtonPress);
    players.play(SoundEffectPlayers::TapeSpeeding);
    EXPECT_FALSE(players.isPlaying(SoundEffectPlayers::ButtonPress));
    EXPECT_FALSE(players.isPlaying(SoundEffectPlayers::TapeSpeeding));
    pumpFor(0.6);
    EXPECT_LT(peak(capture.samples(before)), 1e-3);

    // A fast wind that began with effects on ends with the wind, even when
    // they were turned off in between.
    enabled = true;
    players.play(SoundEffectPlayers::TapeSpeeding);
    EXPECT_TRUE(players.isPlaying(SoundEffectPlayers::TapeSpeeding));
    pumpFor(0.3);
    enabled = false;
    players.stop(SoundEffectPlayers::TapeSpeeding);
    EXPECT_FALSE(players.isPlaying(SoundEffectPlayers::TapeSpeeding));

    // Numbers out of range do nothing.
    players.play(-1);
    players.play(SoundEffectPlayers::kCount);
    players.stop(SoundEffectPlayers::kCount);
    EXPECT_FALSE(players.isPlaying(SoundEffectPlayers::kCount));
}

TEST_F(SoundEffectPlayback, AMissingDeviceFallsBackToTheDefaultOutput) {
    SinkCapture capture;
    capture.start();
    const auto sound = tone(0.2);
    ASSERT_TRUE(sound);
    sound->setDeviceUID("no_such_sink");
    const size_t before = capture.count();
    ASSERT_TRUE(sound->play());
    ASSERT_TRUE(pumpUntil([&] { return !sound->isPlaying(); }, 3.0));
    pumpFor(0.3);
    EXPECT_GT(peak(capture.samples(before)), 0.1);
}

// Run alone (a process that has talked to a server keeps its connection).
TEST(SoundEffectWithoutServer, PlayIsHarmlessAndSaysSoOnce) {
    setenv("PULSE_SERVER", "unix:/nonexistent/cassora/native", 1);
    if (PulseHardware::shared().isConnected()) {
        GTEST_SKIP() << "this process is connected to a server already";
    }
    const auto sound = tone(0.2);
    ASSERT_TRUE(sound);
    testing::internal::CaptureStderr();
    const auto started = std::chrono::steady_clock::now();
    std::optional<std::string> uid = SoundEffectPlayers::systemOutputDeviceUID();
    SoundEffectPlayers players([] { return true; }, uid);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(sound->play());
        EXPECT_FALSE(sound->isPlaying());
        players.play(SoundEffectPlayers::ButtonPress);
        players.stop(SoundEffectPlayers::ButtonPress);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(uid);
    EXPECT_LT(seconds, 3.0) << "the deck waited for a server that is not there";
    EXPECT_NE(log.find("(ERROR) WindowController : could not get system output device ID"),
              std::string::npos)
        << log;
    const auto first = log.find("(ERROR) SoundEffect : could not play");
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("/nonexistent/cassora/native", first), std::string::npos)
        << "the message does not say which server is missing:\n"
        << log;
    EXPECT_EQ(log.find("(ERROR) SoundEffect : could not play", first + 1), std::string::npos)
        << "said more than once:\n"
        << log;
}

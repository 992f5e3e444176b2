#include "audio/dsp/SVocalRemover.h"

#include "../realtime/RealtimeAllocationGuard.h"
#include "platform/audio/RealtimeScope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 44100;
using Signal = std::vector<std::vector<float>>; // one vector per channel

struct RemoverDeleter {
    void operator()(SVocalRemover* remover) const { SVocalRemoverDestroy(remover); }
};
using Remover = std::unique_ptr<SVocalRemover, RemoverDeleter>;

Remover makeRemover(uint32_t channels) {
    Remover remover(SVocalRemoverCreate(static_cast<uint32_t>(kRate), channels, 16384));
    EXPECT_NE(remover, nullptr);
    return remover;
}

// Runs the whole signal through in blocks of `block`, as an audio callback
// would (in a real-time scope, so the allocation guard sees any allocation),
// and returns the output stream: silence where nothing was ready yet.
Signal run(SVocalRemover* remover, const Signal& in, size_t block) {
    const size_t channels = in.size();
    Signal out(channels);
    std::vector<std::vector<float>> slice(channels, std::vector<float>(block));
    std::vector<const float*> inPointers(channels);
    std::vector<float*> outPointers(channels);
    for (size_t at = 0; at + block <= in[0].size(); at += block) {
        for (size_t c = 0; c < channels; ++c) {
            inPointers[c] = in[c].data() + at;
            std::fill(slice[c].begin(), slice[c].end(), 0.0f);
            outPointers[c] = slice[c].data();
        }
        uint32_t returned = 0;
        {
            RealtimeScope realtime;
            returned =
                SVocalRemoverProcess(remover, inPointers.data(), static_cast<uint32_t>(block),
                                     outPointers.data(), static_cast<uint32_t>(block));
        }
        EXPECT_EQ(returned, block);
        for (size_t c = 0; c < channels; ++c) {
            out[c].insert(out[c].end(), slice[c].begin(), slice[c].end());
        }
    }
    return out;
}

std::vector<float> tone(size_t frames, double frequency, double amplitude) {
    std::vector<float> samples(frames);
    for (size_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<float>(amplitude * std::sin(2 * M_PI * frequency * i / kRate));
    }
    return samples;
}

std::vector<float> mix(std::initializer_list<std::vector<float>> parts) {
    std::vector<float> sum(parts.begin()->size());
    for (const auto& part : parts) {
        for (size_t i = 0; i < sum.size(); ++i) {
            sum[i] += part[i];
        }
    }
    return sum;
}

// The amplitude of one frequency over samples [from, to), Hann-windowed.
double amplitudeAt(const std::vector<float>& samples, double frequency, size_t from, size_t to) {
    double re = 0, im = 0, weight = 0;
    const size_t n = to - from;
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 * (1 - std::cos(2 * M_PI * i / n));
        const double phase = 2 * M_PI * frequency * (from + i) / kRate;
        re += w * samples[from + i] * std::cos(phase);
        im += w * samples[from + i] * std::sin(phase);
        weight += w;
    }
    return 2 * std::hypot(re, im) / weight;
}

double decibels(double ratio) {
    return 20 * std::log10(ratio);
}

class VocalRemover : public ::testing::Test {
protected:
    void SetUp() override { RealtimeAllocationGuard::reset(); }
    void TearDown() override {
        EXPECT_EQ(RealtimeAllocationGuard::violations(), 0u) << "processing allocated";
    }
};

// A centred mix of tones (bass, two in the voice band, one above it): the
// band's tones are gone from both sides, the others pass at their level.
TEST_F(VocalRemover, EqualChannelsLoseTheVoiceBandAndKeepTheRest) {
    const size_t frames = static_cast<size_t>(kRate * 2);
    const auto centre = mix({tone(frames, 80.3, 0.2), tone(frames, 440.7, 0.2),
                             tone(frames, 2345.6, 0.2), tone(frames, 7001.2, 0.2)});
    Remover remover = makeRemover(2);
    const Signal out = run(remover.get(), {centre, centre}, 512);
    // Past the start-up, in steady state; the stream is the input delayed
    // by 2048 samples at this block size.
    const size_t from = 16384, to = frames - 4096;
    for (size_t c = 0; c < 2; ++c) {
        SCOPED_TRACE(c);
        for (double f : {440.7, 2345.6}) {
            EXPECT_LT(decibels(amplitudeAt(out[c], f, from, to) / 0.2), -30.0) << f << " Hz";
        }
        for (double f : {80.3, 7001.2}) {
            EXPECT_NEAR(decibels(amplitudeAt(out[c], f, from, to) / 0.2), 0.0, 0.2) << f << " Hz";
        }
    }
}

// Sound on one side only is not a voice: the band becomes half the side
// difference on both channels (a little under half: the part of a frame's
// filtered band that rings past the frame is not kept), and outside the band
// each channel keeps what it had, its own offset too.
TEST_F(VocalRemover, SoundOnOneSideStays) {
    const size_t frames = static_cast<size_t>(kRate * 2);
    const auto left = mix(
        {tone(frames, 1000.9, 0.4), tone(frames, 6000.3, 0.4), std::vector<float>(frames, 0.1f)});
    const std::vector<float> right(frames, -0.05f);
    Remover remover = makeRemover(2);
    const Signal out = run(remover.get(), {left, right}, 441);
    const size_t from = 16384, to = frames - 4096;
    EXPECT_NEAR(decibels(amplitudeAt(out[0], 1000.9, from, to) / 0.4), -6.02, 1.0);
    EXPECT_NEAR(decibels(amplitudeAt(out[1], 1000.9, from, to) / 0.4), -6.02, 1.0);
    EXPECT_NEAR(decibels(amplitudeAt(out[0], 6000.3, from, to) / 0.4), 0.0, 0.2);
    EXPECT_LT(amplitudeAt(out[1], 6000.3, from, to), 0.004);
    double meanLeft = 0, meanRight = 0;
    for (size_t i = from; i < to; ++i) {
        meanLeft += out[0][i];
        meanRight += out[1][i];
    }
    EXPECT_NEAR(meanLeft / (to - from), 0.1, 0.002) << "the left side's offset";
    EXPECT_NEAR(meanRight / (to - from), -0.05, 0.002) << "the right side's offset";
}

// Bypassed, what comes out is what went in, later: the first hop fades in
// under the window, then every sample is the input's 2048 samples earlier.
TEST_F(VocalRemover, BypassGivesTheInputDelayed) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    const size_t frames = 44100;
    Signal in(2, std::vector<float>(frames));
    for (auto& channel : in) {
        for (float& s : channel) {
            s = noise(random);
        }
    }
    Remover remover = makeRemover(2);
    SVocalRemoverSetBypass(remover.get(), true);
    EXPECT_TRUE(SVocalRemoverIsBypassed(remover.get()));
    const Signal out = run(remover.get(), in, 1024);
    const size_t delay = 2048;
    for (size_t c = 0; c < 2; ++c) {
        for (size_t i = 0; i < delay; ++i) {
            ASSERT_EQ(out[c][i], 0.0f) << "nothing before the first frame, at " << i;
        }
        for (size_t i = 0; i < 1024; ++i) {
            const double w = 0.5 * (1 - std::cos(2 * M_PI * i / 2048));
            ASSERT_NEAR(out[c][i + delay], w * in[c][i], 1e-5) << i;
        }
        for (size_t i = 1024; i + delay < out[c].size(); ++i) {
            ASSERT_NEAR(out[c][i + delay], in[c][i], 1e-5) << i;
        }
    }
}

TEST_F(VocalRemover, SpectrumIsAveragedAndOnlyGivenWhole) {
    Remover remover = makeRemover(1);
    EXPECT_EQ(SVocalRemoverLatency(remover.get()), 4096u);
    EXPECT_EQ(SVocalRemoverSpectrumLength(remover.get()), 2048u);
    EXPECT_EQ(SVocalRemoverChannelCount(remover.get()), 1u);
    const size_t frames = 44100;
    run(remover.get(), {tone(frames, 1000.0, 0.5)}, 1024);
    std::vector<float> spectrum(2048, -1.0f);
    float* destination[1] = {spectrum.data()};
    EXPECT_EQ(SVocalRemoverGetSpectrum(remover.get(), destination, 1024), 0u);
    EXPECT_EQ(spectrum[0], -1.0f) << "nothing copied";
    ASSERT_EQ(SVocalRemoverGetSpectrum(remover.get(), destination, 2048), 2048u);
    const auto loudest = std::max_element(spectrum.begin() + 1, spectrum.end()) - spectrum.begin();
    EXPECT_NEAR(static_cast<double>(loudest), 1000.0 / 22050 * 2048, 1.0); // bin 92.9
    // A sine of amplitude A filling 2048 of the frame's 4096 samples: the
    // positive half of its spectrum holds 4096 × 2048 × A² ÷ 4 (Parseval),
    // times 4 for the transform's scale of 2, times 0.5 ÷ 4096: 1024 × A².
    double total = 0;
    for (float bin : spectrum) {
        total += bin;
    }
    EXPECT_NEAR(total, 1024 * 0.5 * 0.5, 256 * 0.02);
}

// Band edges outside the spectrum, or nonsense, stay inside it; a mono
// remover takes the band down by half (there is no second side to cancel).
TEST_F(VocalRemover, OddBandEdgesAndOneChannel) {
    Remover remover = makeRemover(1);
    SVocalRemoverSetHighFrequency(remover.get(), 1e9);
    SVocalRemoverSetLowFrequency(remover.get(), -5);
    EXPECT_EQ(SVocalRemoverHighFrequency(remover.get()), 1e9);
    const size_t frames = 22050;
    const auto in = tone(frames, 15000.5, 0.4);
    Signal out = run(remover.get(), {in}, 1024);
    EXPECT_NEAR(decibels(amplitudeAt(out[0], 15000.5, 8192, frames - 2048) / 0.4), -6.02, 0.2);
    SVocalRemoverSetLowFrequency(remover.get(), std::nan(""));
    SVocalRemoverSetHighFrequency(remover.get(), std::nan(""));
    out = run(remover.get(), {in}, 1024);
    for (float s : out[0]) {
        ASSERT_TRUE(std::isfinite(s));
    }
    EXPECT_EQ(SVocalRemoverCreate(0, 2, 16384), nullptr);
    EXPECT_EQ(SVocalRemoverCreate(44100, 0, 16384), nullptr);
    EXPECT_EQ(SVocalRemoverCreate(44100, 2, 2048), nullptr);
}

// A reset after a seek starts clean: nothing of what came before comes out.
TEST_F(VocalRemover, ResetDropsWhatWasWaiting) {
    Remover remover = makeRemover(2);
    const auto loud = tone(8192, 5000.0, 0.5);
    run(remover.get(), {loud, loud}, 1000);
    EXPECT_GT(SVocalRemoverReady(remover.get()), 0u);
    SVocalRemoverReset(remover.get());
    EXPECT_EQ(SVocalRemoverReady(remover.get()), 0u);
    const std::vector<float> silence(8192);
    const Signal out = run(remover.get(), {silence, silence}, 1024);
    for (float s : out[0]) {
        ASSERT_EQ(s, 0.0f);
    }
}

} // namespace

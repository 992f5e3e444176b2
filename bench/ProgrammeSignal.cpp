#include "ProgrammeSignal.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>

namespace ProgrammeSignal {

namespace {

constexpr double kBeat = 0.25; // seconds between strikes

// A small deterministic noise source.
class Noise {
public:
    double next() {
        mState = mState * 1664525u + 1013904223u;
        return static_cast<double>(mState >> 8) / (1 << 24) * 2.0 - 1.0;
    }

private:
    uint32_t mState = 12345;
};

// Four chords of three notes (Hz), one bar each, and their bass notes.
constexpr std::array<std::array<double, 3>, 4> kChords{{{261.63, 329.63, 392.00},
                                                        {220.00, 261.63, 329.63},
                                                        {174.61, 220.00, 261.63},
                                                        {196.00, 246.94, 293.66}}};
constexpr std::array<double, 4> kBass{65.41, 55.00, 87.31, 98.00};

// A struck note: fast attack, exponential decay.
double envelope(double sinceStrike, double decaySeconds) {
    const double attack = std::min(1.0, sinceStrike / 0.005);
    return attack * std::exp(-sinceStrike / decaySeconds);
}

// A note with its first four harmonics, falling in level.
double note(double frequency, double time) {
    double value = 0;
    for (int harmonic = 1; harmonic <= 4; ++harmonic) {
        value += std::sin(2 * M_PI * frequency * harmonic * time) / (harmonic * harmonic);
    }
    return value;
}

} // namespace

Channels generate(double seconds, double sampleRate) {
    const auto frames = static_cast<size_t>(seconds * sampleRate);
    Channels signal(2, std::vector<float>(frames));
    Noise noise;
    double lowpassed = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const auto beat = static_cast<size_t>(t / kBeat);
        const double sinceBeat = t - static_cast<double>(beat) * kBeat;
        const size_t bar = (beat / 8) % kChords.size();
        const double chordEnvelope = envelope(t - static_cast<double>(beat / 2) * 2 * kBeat, 0.4);
        double chordLeft = 0;
        double chordRight = 0;
        for (size_t n = 0; n < 3; ++n) {
            const double value = note(kChords[bar][n], t) * chordEnvelope;
            chordLeft += value * (1.0 - 0.3 * static_cast<double>(n));
            chordRight += value * (0.4 + 0.3 * static_cast<double>(n));
        }
        const double bass = note(kBass[bar], t) * envelope(sinceBeat, 0.2);
        const double white = noise.next();
        lowpassed += 0.05 * (white - lowpassed);
        const double burst = white * envelope(sinceBeat, 0.03); // hi-hat-like
        const double bed = 0.03 * lowpassed * (1.0 + 0.5 * std::sin(2 * M_PI * 0.2 * t));
        signal[0][i] = static_cast<float>(0.12 * chordLeft + 0.2 * bass + 0.06 * burst + bed);
        signal[1][i] = static_cast<float>(0.12 * chordRight + 0.2 * bass - 0.05 * burst + bed);
    }
    return signal;
}

void writeRawFloat(const Channels& signal, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < signal[0].size(); ++i) {
        for (const auto& channel : signal) {
            out.write(reinterpret_cast<const char*>(&channel[i]), sizeof(float));
        }
    }
}

double levelInDecibels(const std::vector<float>& samples) {
    double sum = 0;
    for (const float s : samples) {
        sum += static_cast<double>(s) * s;
    }
    const double rms = samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
    return 20.0 * std::log10(std::max(rms, 1e-10));
}

} // namespace ProgrammeSignal

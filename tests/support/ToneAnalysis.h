#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What became of a pure tone on its way through: how much of its energy is
// still at its frequency, and where the waveform breaks (a jump, repeated
// frames, a hole of silence).
struct ToneAnalysis {
    // A place where the waveform stops being the one sine it was.
    struct Break {
        double at = 0; // seconds from the start of the samples analysed
        // The step of the sine's phase across the break, as time (ms): a
        // skip forward is positive, a repeat negative. Steps of whole
        // periods cannot be told apart from none.
        double stepMs = 0;
        double silentMs = 0; // how long the sine was (nearly) silent there
    };

    double frequency = 0; // Hz, where the spectrum peaks
    double amplitude = 0; // peak amplitude of the sine
    // Share of the energy within 3 % of the tone's frequency.
    double purity = 0;
    std::vector<Break> breaks;
    double longestSilenceMs = 0;

    // A few lines for a failing test's message.
    std::string describe(size_t maximumBreaks = 8) const;
};

// Analyses `frames` frames of one channel, found every `stride` samples from
// `samples`, recorded at `rate` frames a second, expecting a sine of about
// `frequency` Hz.
ToneAnalysis analyseTone(const float* samples, size_t frames, size_t stride, double rate,
                         double frequency);

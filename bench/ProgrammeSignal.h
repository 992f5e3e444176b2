#pragma once

#include <string>
#include <vector>

// Music-like stereo test material, the same every run: a bass line and
// chords of harmonic-rich notes that strike and decay, over a noise bed
// with rhythmic bursts, panned apart. Unlike silence or a pure tone, it
// keeps an encoder as busy as real programme does.
namespace ProgrammeSignal {

using Channels = std::vector<std::vector<float>>; // left, right

Channels generate(double seconds, double sampleRate);
// Writes the signal as raw interleaved 32-bit float (little-endian).
void writeRawFloat(const Channels& signal, const std::string& path);
// Root-mean-square level of `samples`, in dB below full scale.
double levelInDecibels(const std::vector<float>& samples);

} // namespace ProgrammeSignal

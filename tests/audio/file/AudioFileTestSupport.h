#pragma once

#include "audio/file/VELKExtendedAudioFile.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

// Signals written to and read from files in the tests: one vector per channel.
using Channels = std::vector<std::vector<float>>;

// A sine of `frequency` Hz in every channel (the second channel at 0.6 of the
// first's level), quantized to 16-bit steps so a 16-bit lossless file keeps
// it exactly.
Channels makeSine(uint32_t channels, int64_t frames, double rate, double frequency);

// Writes `signal` in slices of `slice` frames through the file's writer.
void writeChannels(VELKExtendedAudioFile& file, const Channels& signal, uint32_t slice = 512);

// Reads up to `frames` frames (from the current position, or backwards from
// `start` when the file is reversed).
Channels readChannels(VELKExtendedAudioFile& file, uint32_t channels, uint32_t frames,
                      int64_t start = 0);
// Reads everything from the current position in slices of `slice`.
Channels readAll(VELKExtendedAudioFile& file, uint32_t channels, uint32_t slice = 1000);

// The dominant frequency by counting zero crossings over `samples`.
double zeroCrossingFrequency(const std::vector<float>& samples, double rate);
// Normalized correlation of two equally long stretches.
double correlation(const std::vector<float>& a, const std::vector<float>& b);

// `ffprobe` of the file's audio stream: "codec rate channels".
std::string probe(const std::string& path);

// A fresh folder for the test's files, removed with the object.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    std::string path(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

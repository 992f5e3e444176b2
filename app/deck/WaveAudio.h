#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The samples of a RIFF WAVE file, as floats, one vector a channel.
struct WaveAudio {
    double sampleRate = 0;
    std::vector<std::vector<float>> channels;

    size_t frameCount() const { return channels.empty() ? 0 : channels.front().size(); }
};

// Reads integer PCM (8, 16, 24 or 32 bits) or float (32 or 64 bits) WAVE
// data, plain or in the extensible layout, 1 to 8 channels. Anything else —
// another format, a cut-off or inconsistent chunk, no audio at all — gives
// nothing, and `error` (when given) says what is wrong.
std::optional<WaveAudio> decodeWaveAudio(const QByteArray& bytes, QString* error = nullptr);

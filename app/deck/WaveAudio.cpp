#include "app/deck/WaveAudio.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr uint16_t kFormatPCM = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

uint16_t le16(const char* p) {
    const auto* b = reinterpret_cast<const uint8_t*>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t le32(const char* p) {
    return le16(p) | (static_cast<uint32_t>(le16(p + 2)) << 16);
}

struct Format {
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
};

std::optional<WaveAudio> fail(QString* error, const QString& reason) {
    if (error) {
        *error = reason;
    }
    return std::nullopt;
}

// One sample at `p`, scaled to [-1, 1).
float sampleAt(const char* p, const Format& format) {
    if (format.tag == kFormatFloat) {
        if (format.bits == 32) {
            float v;
            std::memcpy(&v, p, sizeof v);
            return v;
        }
        double v;
        std::memcpy(&v, p, sizeof v);
        return static_cast<float>(v);
    }
    const auto* b = reinterpret_cast<const uint8_t*>(p);
    switch (format.bits) {
    case 8:
        return (static_cast<int>(b[0]) - 128) / 128.0f;
    case 16:
        return static_cast<int16_t>(le16(p)) / 32768.0f;
    case 24: {
        const int32_t v = static_cast<int32_t>((b[0] << 8) | (b[1] << 16) |
                                               (static_cast<uint32_t>(b[2]) << 24)) >>
                          8;
        return static_cast<float>(v / 8388608.0);
    }
    default:
        return static_cast<float>(static_cast<int32_t>(le32(p)) / 2147483648.0);
    }
}

} // namespace

std::optional<WaveAudio> decodeWaveAudio(const QByteArray& bytes, QString* error) {
    const char* data = bytes.constData();
    const auto size = static_cast<size_t>(bytes.size());
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
        return fail(error, QStringLiteral("not a WAVE file"));
    }
    const size_t riffEnd = static_cast<size_t>(le32(data + 4)) + 8;
    if (riffEnd > size) {
        return fail(
            error, QStringLiteral("the file is cut short (%1 of %2 bytes)").arg(size).arg(riffEnd));
    }

    std::optional<Format> format;
    const char* samples = nullptr;
    size_t sampleBytes = 0;
    size_t at = 12;
    while (at + 8 <= riffEnd) {
        const QString id = QString::fromLatin1(data + at, 4);
        const size_t length = le32(data + at + 4);
        const char* body = data + at + 8;
        if (length > riffEnd - at - 8) {
            return fail(error, QStringLiteral("the chunk \"%1\" is cut short").arg(id));
        }
        if (id == QLatin1String("fmt ") && !format) {
            if (length < 16) {
                return fail(error, QStringLiteral("the format chunk is too short"));
            }
            Format f;
            f.tag = le16(body);
            f.channels = le16(body + 2);
            f.rate = le32(body + 4);
            f.blockAlign = le16(body + 12);
            f.bits = le16(body + 14);
            if (f.tag == kFormatExtensible) {
                if (length < 40) {
                    return fail(error, QStringLiteral("the extensible format chunk is too short"));
                }
                f.tag = le16(body + 24); // the sub-format's first two bytes
            }
            format = f;
        } else if (id == QLatin1String("data") && !samples) {
            samples = body;
            sampleBytes = length;
        }
        at += 8 + length + (length & 1); // chunks are padded to even sizes
    }

    if (!format) {
        return fail(error, QStringLiteral("the file has no format chunk"));
    }
    const Format& f = *format;
    const bool integer =
        f.tag == kFormatPCM && (f.bits == 8 || f.bits == 16 || f.bits == 24 || f.bits == 32);
    const bool floating = f.tag == kFormatFloat && (f.bits == 32 || f.bits == 64);
    if (!integer && !floating) {
        return fail(error, QStringLiteral("unsupported sample format (format %1, %2 bits)")
                               .arg(f.tag)
                               .arg(f.bits));
    }
    if (f.channels < 1 || f.channels > 8) {
        return fail(error, QStringLiteral("unsupported channel count %1").arg(f.channels));
    }
    if (f.rate < 1000 || f.rate > 384000) {
        return fail(error, QStringLiteral("unsupported sample rate %1").arg(f.rate));
    }
    if (f.blockAlign != f.channels * (f.bits / 8)) {
        return fail(error, QStringLiteral("the frame size %1 does not match %2 channels of %3 bits")
                               .arg(f.blockAlign)
                               .arg(f.channels)
                               .arg(f.bits));
    }
    if (!samples) {
        return fail(error, QStringLiteral("the file has no data chunk"));
    }
    if (sampleBytes % f.blockAlign != 0) {
        return fail(error, QStringLiteral("the data chunk does not hold whole frames"));
    }
    const size_t frames = sampleBytes / f.blockAlign;
    if (frames == 0) {
        return fail(error, QStringLiteral("the file holds no audio"));
    }

    WaveAudio audio;
    audio.sampleRate = f.rate;
    audio.channels.assign(f.channels, std::vector<float>(frames));
    const size_t bytesPerSample = f.bits / 8;
    for (size_t i = 0; i < frames; ++i) {
        const char* frame = samples + i * f.blockAlign;
        for (size_t c = 0; c < f.channels; ++c) {
            const float v = sampleAt(frame + c * bytesPerSample, f);
            if (!std::isfinite(v)) {
                return fail(error, QStringLiteral("the file holds samples that are not numbers"));
            }
            audio.channels[c][i] = v;
        }
    }
    return audio;
}

#pragma once

#include "audio/format/VELKAudioStreamBasicDescription.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

// The three recording qualities: "HQ" (Apple Lossless), "MQ" (AAC 128 kbit/s
// at 44100 Hz) and "LQ" (AAC 48 kbit/s at 22050 Hz), with the formats, bit
// rates and sample rates they stand for. The table never changes, so every
// function may be called from any thread.
class TapeQuality {
public:
    static const QStringList& qualities();

    // The index must be 0, 1 or 2; anything else is an internal inconsistency.
    static QString qualityForIndex(int index);
    // -1 when the string is not a quality (case matters).
    static int indexForQuality(const QString& quality);
    // 0 for "HQ" (the encoder chooses) and for strings that are not qualities.
    static uint32_t bitrateForQuality(const QString& quality);
    // 0 means the device's own rate; "HQ" records at 44100 Hz while the
    // "CRLockRecordingSampleRate" default is on.
    static uint32_t sampleRateForQuality(const QString& quality);
    // The quality whose bit-rate range holds `bitrate` (mono ranges are half
    // the stereo ones); rates between or above the ranges count as "HQ".
    static QString qualityForBitrate(uint32_t bitrate, uint32_t sampleRate, bool stereo);
    // The file format of a new recording.
    static std::shared_ptr<VELKAudioStreamBasicDescription>
    streamDescriptionForQuality(const QString& quality, bool stereo);

    // The "CRLockRecordingSampleRate" default, read afresh.
    static bool isSampleRateLocked();
};

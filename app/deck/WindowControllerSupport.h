#pragma once

// What the parts of the deck controller share: the settings they read and
// the way they report a failure.

#include <QString>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

namespace WindowControllerSupport {

inline const QString kRecordingIsStereo = QStringLiteral("RecordingIsStereo");
// Whether playback takes the voice out (Controls > Remove Voice).
inline const QString kRemoveVoice = QStringLiteral("RemoveVoice");
inline const QString kTapeAuthor = QStringLiteral("TapeAuthor");

inline void logError(const QString& message) {
    std::fprintf(stderr, "(ERROR) WindowController : %s\n", message.toLocal8Bit().constData());
}

// The recording channels, or none for the device's own.
inline std::optional<std::vector<int32_t>> channelsOrDefault(const std::vector<int32_t>& channels) {
    if (channels.empty()) {
        return std::nullopt;
    }
    return channels;
}

} // namespace WindowControllerSupport

#pragma once

// What the parts of the deck controller share: the settings they read and
// the way they report a failure.

#include "audio/format/NSXException.h"
#include "platform/audio/AudioHardwareService.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <exception>
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

// An engine error in words: the audio hardware's own description of a failed
// call ("no such audio device") when the error carries no text of its own.
inline QString describeEngineError(const NSXError& error) {
    if (error.stringDetail(NSXLocalizedDescriptionKey).empty() &&
        error.domain() == NSXMachErrorDomain) {
        return QString::fromStdString(AudioHardwareStatusDescription(error.code()));
    }
    return QString::fromStdString(error.localizedDescription());
}

// Runs an engine call for the deck. Its failure comes back in words (empty
// when it worked): an engine exception never leaves the deck for the event loop.
template <typename Call>
QString engineFailure(Call&& call) {
    try {
        call();
        return {};
    } catch (const NSXException& exception) {
        return describeEngineError(exception.error());
    } catch (const std::exception& exception) {
        return QString::fromUtf8(exception.what());
    }
}

} // namespace WindowControllerSupport

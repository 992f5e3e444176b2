#include "app/library/TapeQuality.h"

#include "audio/format/InternalInconsistencyException.h"
#include "platform/desktop/UserDefaults.h"
#include "platform/media/ExtAudioFile.h"

#include <map>

namespace {

struct QualityRow {
    uint32_t lowerBitrate;
    uint32_t bitrate;
    uint32_t upperBitrate;
    uint32_t sampleRate;
};

const std::map<QString, QualityRow>& qualityTable() {
    static const std::map<QString, QualityRow> table = {
        {QStringLiteral("HQ"), {0, 0, 0, 0}},
        {QStringLiteral("MQ"), {112000, 128000, 400000, 44100}},
        {QStringLiteral("LQ"), {30000, 48000, 80000, 22050}},
    };
    return table;
}

QualityRow rowFor(const QString& quality) {
    const auto found = qualityTable().find(quality);
    return found == qualityTable().end() ? QualityRow{0, 0, 0, 0} : found->second;
}

constexpr uint32_t kLockedSampleRate = 44100;

} // namespace

const QStringList& TapeQuality::qualities() {
    static const QStringList list = {QStringLiteral("HQ"), QStringLiteral("MQ"),
                                     QStringLiteral("LQ")};
    return list;
}

QString TapeQuality::qualityForIndex(int index) {
    if (index < 0 || index >= qualities().size()) {
        throw InternalInconsistencyException("Asking for qualty outside range", "TapeQuality",
                                             __LINE__);
    }
    return qualities().at(index);
}

int TapeQuality::indexForQuality(const QString& quality) {
    return static_cast<int>(qualities().indexOf(quality));
}

uint32_t TapeQuality::bitrateForQuality(const QString& quality) {
    return rowFor(quality).bitrate;
}

uint32_t TapeQuality::sampleRateForQuality(const QString& quality) {
    const uint32_t rate = rowFor(quality).sampleRate;
    return rate == 0 && isSampleRateLocked() ? kLockedSampleRate : rate;
}

QString TapeQuality::qualityForBitrate(uint32_t bitrate, uint32_t, bool stereo) {
    const int shift = stereo ? 0 : 1;
    for (const QString& quality : qualities()) {
        const QualityRow row = rowFor(quality);
        if ((row.lowerBitrate >> shift) <= bitrate && bitrate <= (row.upperBitrate >> shift)) {
            return quality;
        }
    }
    return rowFor(qualities().front()).bitrate < bitrate ? QStringLiteral("HQ")
                                                         : QStringLiteral("LQ");
}

std::shared_ptr<VELKAudioStreamBasicDescription>
TapeQuality::streamDescriptionForQuality(const QString& quality, bool stereo) {
    std::shared_ptr<VELKAudioStreamBasicDescription> preset;
    if (quality == QLatin1String("HQ")) {
        preset = VELKAudioStreamBasicDescription::alacStreamDescription();
        if (isSampleRateLocked()) {
            preset->setFormatFlags(preset->formatFlags() | 1); // 16-bit source data
        }
    } else {
        preset = VELKAudioStreamBasicDescription::aacStreamDescription();
    }
    if (!stereo) {
        preset->setChannelsPerFrame(1);
    }
    preset->setSampleRate(sampleRateForQuality(quality));
    AudioStreamBasicDescription asbd = preset->audioStreamBasicDescription();
    uint32_t size = sizeof(asbd);
    AudioFormatGetProperty(kAudioFormatProperty_FormatInfo, 0, nullptr, &size, &asbd);
    return VELKAudioStreamBasicDescription::streamDescriptionWithAudioStreamBasicDescription(asbd);
}

bool TapeQuality::isSampleRateLocked() {
    const QVariant locked =
        UserDefaults::standard().value(QStringLiteral("CRLockRecordingSampleRate"));
    return locked.isValid() ? locked.toBool() : true;
}

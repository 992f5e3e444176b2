#include "app/library/DurationFormatter.h"

#include <QCoreApplication>

#include <cmath>

namespace {

// The unit words that spelled() looks up, for the translations.
[[maybe_unused]] const char* const kUnitWords[] = {
    QT_TRANSLATE_NOOP("DurationFormatter", "hour"),
    QT_TRANSLATE_NOOP("DurationFormatter", "hours"),
    QT_TRANSLATE_NOOP("DurationFormatter", "minute"),
    QT_TRANSLATE_NOOP("DurationFormatter", "minutes"),
    QT_TRANSLATE_NOOP("DurationFormatter", "second"),
    QT_TRANSLATE_NOOP("DurationFormatter", "seconds"),
};

QString spelled(int count, const char* singular, const char* plural) {
    return QStringLiteral("%1 %2").arg(count).arg(
        QCoreApplication::translate("DurationFormatter", count == 1 ? singular : plural));
}

} // namespace

QString DurationFormatter::durationToString(int seconds, unsigned style) {
    float x = static_cast<float>(seconds);
    QStringList pieces;
    const auto hours = static_cast<int>(x / 3600.0f);
    if (hours > 0 && style != 2) {
        pieces << (style == 1 ? spelled(hours, "hour", "hours") : QStringLiteral("%1h").arg(hours));
        x -= static_cast<float>(hours) * 3600.0f;
    }
    const auto minutes = static_cast<int>(x / 60.0f);
    if (minutes > 0) {
        pieces << (style == 1   ? spelled(minutes, "minute", "minutes")
                   : style == 2 ? QStringLiteral("%1\u2032").arg(minutes)
                                : QStringLiteral("%1m").arg(minutes));
        x -= static_cast<float>(minutes) * 60.0f;
    }
    const auto rest = static_cast<int>(std::ceil(x));
    if (style == 1) {
        if (rest > 0 || pieces.isEmpty()) {
            pieces << (rest >= 1 ? spelled(rest, "second", "seconds")
                                 : QCoreApplication::translate("DurationFormatter",
                                                               "less than a second"));
        }
        return pieces.join(QLatin1Char(' '));
    }
    pieces << (style == 2 ? QStringLiteral("%1\u2033").arg(rest) : QStringLiteral("%1s").arg(rest));
    return pieces.join(QString());
}

QString DurationFormatter::tapeDurationToString(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0 || seconds > kLongestTape) {
        return QCoreApplication::translate("DurationFormatter", "unknown");
    }
    return durationToString(static_cast<int>(seconds));
}

#include "app/library/FuzzyDateFormatter.h"

#include <QCoreApplication>

QString FuzzyDateFormatter::stringFromDate(const QDateTime& date, const QDateTime& now) const {
    const QDateTime local = date.toLocalTime();
    const QString text = mLocale.toString(local, mFormat);
    const QStringList words = text.split(QLatin1Char(' '));
    const QString rest = words.size() >= 2 ? words.mid(1).join(QLatin1Char(' ')) : QString();
    // The whole date is compared, the year included, so a date a year back
    // is not "Today".
    const QDate today = now.toLocalTime().date();
    QString day;
    if (local.date() == today) {
        day = QCoreApplication::translate("FuzzyDateFormatter", "Today");
    } else if (local.date() == today.addDays(-1)) {
        day = QCoreApplication::translate("FuzzyDateFormatter", "Yesterday");
    } else {
        return text;
    }
    return rest.isEmpty() ? day : QStringLiteral("%1 %2").arg(day, rest);
}

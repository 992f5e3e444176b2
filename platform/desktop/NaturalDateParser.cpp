#include "platform/desktop/NaturalDateParser.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace {

using Result = NaturalDateParser::Result;
using Precision = NaturalDateParser::Precision;

const char* const kEnglishMonths[] = {"january",   "february", "march",    "april",
                                      "may",       "june",     "july",     "august",
                                      "september", "october",  "november", "december"};
const char* const kEnglishWeekdays[] = {"monday", "tuesday",  "wednesday", "thursday",
                                        "friday", "saturday", "sunday"};

std::optional<int> matchName(const QString& word, const QStringList& names) {
    if (word.size() < 3) {
        return std::nullopt;
    }
    for (int i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        if (name.compare(word, Qt::CaseInsensitive) == 0 ||
            (word.size() >= 3 && name.startsWith(word, Qt::CaseInsensitive))) {
            return i + 1;
        }
    }
    return std::nullopt;
}

Result day(const QDate& date, const QDateTime& now) {
    return {QDateTime(date, QTime(0, 0), now.timeZone()), Precision::Day};
}

std::optional<Result> storedOrIso(const QString& text) {
    // "2012-03-04 10:20:30 +0000", with or without seconds and zone.
    static const QRegularExpression stored(
        QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})[ "
                       "T](\\d{1,2}):(\\d{2})(?::(\\d{2}))?\\s*(Z|[+-]\\d{2}:?\\d{2})?$"));
    const auto match = stored.match(text);
    if (match.hasMatch()) {
        const QDate date(match.captured(1).toInt(), match.captured(2).toInt(),
                         match.captured(3).toInt());
        const QTime time(match.captured(4).toInt(), match.captured(5).toInt(),
                         match.captured(6).isEmpty() ? 0 : match.captured(6).toInt());
        if (!date.isValid() || !time.isValid()) {
            return std::nullopt;
        }
        QString zone = match.captured(7);
        if (zone.isEmpty()) {
            return Result{QDateTime(date, time), Precision::Moment};
        }
        int offset = 0;
        if (zone != QLatin1String("Z")) {
            zone.remove(QLatin1Char(':'));
            const int sign = zone.startsWith(QLatin1Char('-')) ? -1 : 1;
            offset = sign * (zone.mid(1, 2).toInt() * 3600 + zone.mid(3, 2).toInt() * 60);
        }
        return Result{QDateTime(date, time, QTimeZone(offset)), Precision::Moment};
    }
    static const QRegularExpression isoDay(QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})$"));
    const auto dayMatch = isoDay.match(text);
    if (dayMatch.hasMatch()) {
        const QDate date(dayMatch.captured(1).toInt(), dayMatch.captured(2).toInt(),
                         dayMatch.captured(3).toInt());
        return date.isValid()
                   ? std::optional<Result>(Result{QDateTime(date, QTime(0, 0)), Precision::Day})
                   : std::nullopt;
    }
    static const QRegularExpression isoMonth(QStringLiteral("^(\\d{4})-(\\d{1,2})$"));
    const auto monthMatch = isoMonth.match(text);
    if (monthMatch.hasMatch()) {
        const QDate date(monthMatch.captured(1).toInt(), monthMatch.captured(2).toInt(), 1);
        return date.isValid()
                   ? std::optional<Result>(Result{QDateTime(date, QTime(0, 0)), Precision::Month})
                   : std::nullopt;
    }
    return std::nullopt;
}

// Numbers and names in any order: "March 4, 2012", "4 March 2012", "Mar 2012".
std::optional<Result> written(const QStringList& words, const QDateTime& now,
                              const QLocale& locale) {
    std::optional<int> month;
    std::optional<int> dayOfMonth;
    std::optional<int> year;
    for (const QString& word : words) {
        bool isNumber = false;
        QString digits = word;
        static const QRegularExpression ordinal(QStringLiteral("(st|nd|rd|th)$"));
        digits.remove(ordinal);
        const int number = digits.toInt(&isNumber);
        if (isNumber) {
            if (digits.size() == 4 && !year) {
                year = number;
            } else if (number >= 1 && number <= 31 && !dayOfMonth) {
                dayOfMonth = number;
            } else {
                return std::nullopt;
            }
        } else if (const auto found = NaturalDateParser::monthForName(word, locale);
                   found && !month) {
            month = found;
        } else {
            return std::nullopt;
        }
    }
    if (!month && !year) {
        return std::nullopt;
    }
    if (!month) {
        if (dayOfMonth) {
            return std::nullopt;
        }
        const QDate date(*year, 1, 1);
        return Result{QDateTime(date, QTime(0, 0), now.timeZone()), Precision::Year};
    }
    const int y = year.value_or(now.date().year());
    const QDate date(y, *month, dayOfMonth.value_or(1));
    if (!date.isValid()) {
        return std::nullopt;
    }
    return Result{QDateTime(date, QTime(0, 0), now.timeZone()),
                  dayOfMonth ? Precision::Day : Precision::Month};
}

// "3/4/2012", "3/4" or "3.4.2012", in the locale's order of day and month.
std::optional<Result> numeric(const QString& text, const QDateTime& now, const QLocale& locale) {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{1,2})[/.](\\d{1,2})(?:[/.](\\d{2}|\\d{4}))?$"));
    const auto match = pattern.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const QString format = locale.dateFormat(QLocale::ShortFormat).toLower();
    const bool dayFirst = format.indexOf(QLatin1Char('d')) < format.indexOf(QLatin1Char('m'));
    int first = match.captured(1).toInt();
    int second = match.captured(2).toInt();
    int year = match.captured(3).isEmpty() ? now.date().year() : match.captured(3).toInt();
    if (year < 100) {
        year += 2000;
    }
    const QDate date = dayFirst ? QDate(year, second, first) : QDate(year, first, second);
    return date.isValid() ? std::optional<Result>(day(date, now)) : std::nullopt;
}

} // namespace

std::optional<int> NaturalDateParser::monthForName(const QString& name, const QLocale& locale) {
    QStringList english;
    for (const char* month : kEnglishMonths) {
        english << QString::fromLatin1(month);
    }
    if (auto found = matchName(name, english)) {
        return found;
    }
    QStringList local;
    for (int m = 1; m <= 12; ++m) {
        local << locale.monthName(m, QLocale::LongFormat);
    }
    return matchName(name, local);
}

std::optional<int> NaturalDateParser::weekdayForName(const QString& name, const QLocale& locale) {
    QStringList english;
    for (const char* weekday : kEnglishWeekdays) {
        english << QString::fromLatin1(weekday);
    }
    if (auto found = matchName(name, english)) {
        return found;
    }
    QStringList local;
    for (int d = 1; d <= 7; ++d) {
        local << locale.dayName(d, QLocale::LongFormat);
    }
    return matchName(name, local);
}

std::optional<Result> NaturalDateParser::parse(const QString& input, const QDateTime& now,
                                               const QLocale& locale) {
    const QString text = input.simplified();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    if (auto result = storedOrIso(text)) {
        return result;
    }
    const QString lower = text.toLower();
    const QDate today = now.date();
    if (lower == QLatin1String("today") || lower == QLatin1String("now")) {
        return day(today, now);
    }
    if (lower == QLatin1String("yesterday")) {
        return day(today.addDays(-1), now);
    }
    if (lower == QLatin1String("tomorrow")) {
        return day(today.addDays(1), now);
    }
    if (const auto weekday = weekdayForName(lower, locale)) {
        // The most recent such day, today included.
        const int back = (today.dayOfWeek() - *weekday + 7) % 7;
        return day(today.addDays(-back), now);
    }
    if (auto result = numeric(text, now, locale)) {
        return result;
    }
    QString words = text;
    words.replace(QLatin1Char(','), QLatin1Char(' '));
    return written(words.split(QLatin1Char(' '), Qt::SkipEmptyParts), now, locale);
}

std::optional<QDateTime> NaturalDateParser::parseDate(const QString& text) {
    const auto result = parse(text);
    return result ? std::optional<QDateTime>(result->dateTime) : std::nullopt;
}

QString NaturalDateParser::storedForm(const QDateTime& dateTime) {
    return dateTime.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral(" +0000");
}

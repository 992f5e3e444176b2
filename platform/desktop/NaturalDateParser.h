#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

// Reads dates as people and the tape files write them: the stored form
// "2012-03-04 10:20:30 +0000", ISO dates and times, "today", "yesterday",
// "tomorrow", weekday names (the most recent such day), month names with or
// without a year ("March", "Mar 2012", "March 4, 2012", "4 March 2012"), a
// four-digit year, and numeric dates ("3/4/2012") in the locale's order.
// What a text does not say is taken from `now`: a month alone is the first
// of that month in the current year, a year alone its first of January.
class NaturalDateParser {
public:
    // What the text names and how precisely.
    enum class Precision { Moment, Day, Month, Year };
    struct Result {
        QDateTime dateTime;
        Precision precision;
    };

    static std::optional<Result> parse(const QString& text,
                                       const QDateTime& now = QDateTime::currentDateTime(),
                                       const QLocale& locale = QLocale());
    static std::optional<QDateTime> parseDate(const QString& text);

    // The stored form of a date: UTC, "yyyy-MM-dd HH:mm:ss +0000".
    static QString storedForm(const QDateTime& dateTime);
    // 1..12 for a month name or abbreviation (English or the locale's).
    static std::optional<int> monthForName(const QString& name, const QLocale& locale = QLocale());
    // 1..7 (Monday first) for a weekday name or abbreviation.
    static std::optional<int> weekdayForName(const QString& name,
                                             const QLocale& locale = QLocale());
};

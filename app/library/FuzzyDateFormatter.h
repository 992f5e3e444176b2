#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// A date as the locale writes it in the given format, its date part
// replaced by "Today" or "Yesterday" when it is one of those days.
class FuzzyDateFormatter {
public:
    explicit FuzzyDateFormatter(QString format = QLocale().dateTimeFormat(QLocale::ShortFormat),
                                QLocale locale = QLocale())
        : mFormat(std::move(format)), mLocale(std::move(locale)) {}

    QString stringFromDate(const QDateTime& date,
                           const QDateTime& now = QDateTime::currentDateTime()) const;

private:
    QString mFormat;
    QLocale mLocale;
};

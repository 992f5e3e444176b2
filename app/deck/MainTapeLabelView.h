#pragma once

#include "app/library/TapeLetter.h"

#include <QDateTime>
#include <QFont>
#include <QRectF>
#include <QString>

#include <memory>

class QPainter;

// The paper label of the cassette: the tape letter's tag, the title, the
// "Recorded …" line, the quality and, on the deck, the share button (a
// control, not part of the cassette: movies and cover art go without it).
// A painting helper,
// not a widget, so that cover art can be drawn without a widget
// application. Rectangles are in the cassette's own coordinates (its
// top-left corner at 0, 0, one unit per point).
class MainTapeLabelView {
public:
    QString title() const { return mTitle; }
    void setTitle(const QString& title) { mTitle = title; }
    QDateTime date() const { return mDate; }
    void setDate(const QDateTime& date) { mDate = date; }
    double duration() const { return mDuration; }
    // NaN, infinite and negative durations are shown as 0.
    void setDuration(double seconds);
    QString quality() const { return mQuality; }
    void setQuality(const QString& quality) { mQuality = quality; }
    // Never null: an empty letter shows as the new tape's "A" in red.
    std::shared_ptr<TapeLetter> tapeLetter() const { return mTapeLetter; }
    void setTapeLetter(std::shared_ptr<TapeLetter> letter);
    bool showsShareButton() const { return mShowsShareButton; }
    void setShowsShareButton(bool shows) { mShowsShareButton = shows; }
    bool isShareButtonOn() const { return mShareButtonOn; }
    void setShareButtonOn(bool on) { mShareButtonOn = on; }

    // "Recorded <short date and time> | <duration>"; only the duration when
    // there is no date, nothing for an empty cassette.
    QString timeLine() const;

    static QRectF labelRect();
    static QRectF letterTagRect();
    static QRectF titleRect();
    static QRectF timeLineRect();
    static QRectF qualityRect();
    static QRectF shareButtonRect();

    // The marker-like font of the title (also the in-place editor's).
    static QFont titleFont();

    void paint(QPainter& painter) const;

private:
    void paintShareButton(QPainter& painter) const;

    QString mTitle;
    QDateTime mDate;
    double mDuration = 0;
    QString mQuality;
    std::shared_ptr<TapeLetter> mTapeLetter = TapeLetter::tapeLetter(QStringLiteral("A"));
    bool mShowsShareButton = false;
    bool mShareButtonOn = false;
};

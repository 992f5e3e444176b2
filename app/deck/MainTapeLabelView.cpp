#include "app/deck/MainTapeLabelView.h"

#include "app/library/DurationFormatter.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>

#include <climits>
#include <cmath>

namespace {

QFont sansFont(qreal pixelSize, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(static_cast<int>(std::lround(pixelSize)));
    font.setBold(bold);
    return font;
}

// Shrinks a font until the text fits the width (down to 6 pixels).
QFont fitted(QFont font, const QString& text, qreal width) {
    while (font.pixelSize() > 6 && QFontMetricsF(font).horizontalAdvance(text) > width) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    return font;
}

} // namespace

void MainTapeLabelView::setDuration(double seconds) {
    mDuration = std::isfinite(seconds) && seconds > 0 ? seconds : 0;
}

void MainTapeLabelView::setTapeLetter(std::shared_ptr<TapeLetter> letter) {
    mTapeLetter = letter ? std::move(letter) : TapeLetter::tapeLetter(QStringLiteral("A"));
}

QString MainTapeLabelView::timeLine() const {
    // Whole seconds, truncated; a very long tape is held at the largest count.
    const int seconds = mDuration >= double(INT_MAX) ? INT_MAX : static_cast<int>(mDuration);
    const QString duration = DurationFormatter::durationToString(seconds, 0);
    if (mDate.isValid()) {
        // One formatter for every label, as the user's locale writes short
        // dates and times.
        static const QLocale locale;
        const QDateTime local = mDate.toLocalTime();
        const QString when = locale.toString(local.date(), QLocale::ShortFormat) +
                             QLatin1Char(' ') + locale.toString(local.time(), QLocale::ShortFormat);
        return QStringLiteral("%1 %2 | %3")
            .arg(QCoreApplication::translate("TapeView", "Recorded"), when, duration);
    }
    if (mDuration > 0 || !mTitle.isEmpty()) {
        return duration;
    }
    return {};
}

QRectF MainTapeLabelView::labelRect() {
    return {14, 10, 295, 136};
}
QRectF MainTapeLabelView::letterTagRect() {
    return {22, 16, 30, 34};
}
QRectF MainTapeLabelView::titleRect() {
    return {58, 14, 200, 22};
}
QRectF MainTapeLabelView::timeLineRect() {
    return {58, 37, 206, 13};
}
QRectF MainTapeLabelView::qualityRect() {
    return {266, 16, 34, 14};
}
QRectF MainTapeLabelView::shareButtonRect() {
    return {270, 34, 30, 17};
}

QFont MainTapeLabelView::titleFont() {
    static const QFont font = [] {
        // Felt-tip faces first, then bold sans faces that read like a marker.
        const struct {
            const char* family;
            int pixelSize;
            bool bold;
        } candidates[] = {
            {"Marker Felt", 16, false},      {"Helvetica Neue", 15, true},
            {"Permanent Marker", 15, false}, {"Comic Neue", 16, true},
            {"Comic Sans MS", 15, true},     {"Purisa", 15, true},
        };
        for (const auto& candidate : candidates) {
            const QString family = QString::fromLatin1(candidate.family);
            if (QFontDatabase::hasFamily(family)) {
                QFont found(family);
                found.setPixelSize(candidate.pixelSize);
                found.setBold(candidate.bold);
                return found;
            }
        }
        QFont fallback(QStringLiteral("DejaVu Sans"));
        fallback.setStyleHint(QFont::SansSerif);
        fallback.setPixelSize(15);
        fallback.setWeight(QFont::Bold);
        fallback.setStretch(QFont::SemiCondensed);
        return fallback;
    }();
    return font;
}

void MainTapeLabelView::paint(QPainter& painter) const {
    const auto scheme = mTapeLetter->colorScheme() ? mTapeLetter->colorScheme()
                                                   : TapeColorScheme::colorSchemeWithIndex(0);
    painter.save();

    // Two stripes in the scheme's colour under the title area.
    const QRectF label = labelRect();
    painter.fillRect(QRectF(label.left() + 8, 53, label.width() - 16, 2.5),
                     scheme->backgroundColor());
    painter.fillRect(QRectF(label.left() + 8, 57, label.width() - 16, 1.2),
                     scheme->backgroundColor());

    // The letter's tag.
    const QRectF tag = letterTagRect();
    QPainterPath tagPath;
    tagPath.addRoundedRect(tag, 4, 4);
    QLinearGradient tagFill(tag.topLeft(), tag.bottomLeft());
    tagFill.setColorAt(0, scheme->backgroundColor().lighter(112));
    tagFill.setColorAt(1, scheme->backgroundColor().darker(108));
    painter.fillPath(tagPath, tagFill);
    painter.setPen(QPen(QColor(0, 0, 0, 50), 0.8));
    painter.drawPath(tagPath);
    const QString letter = mTapeLetter->letter();
    painter.setFont(fitted(sansFont(24, true), letter, tag.width() - 4));
    painter.setPen(scheme->letterColor());
    painter.drawText(tag, Qt::AlignCenter | Qt::TextSingleLine, letter);

    // The title, as if written with a felt pen.
    const QFont title = titleFont();
    painter.setFont(title);
    painter.setPen(scheme->titleColor());
    const QRectF titleBox = titleRect();
    painter.drawText(titleBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QFontMetricsF(title).elidedText(mTitle, Qt::ElideRight, titleBox.width()));

    painter.setFont(sansFont(9));
    painter.setPen(QColor(0x55, 0x53, 0x4c));
    const QRectF timeBox = timeLineRect();
    painter.drawText(
        timeBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        QFontMetricsF(painter.font()).elidedText(timeLine(), Qt::ElideRight, timeBox.width()));

    if (!mQuality.isEmpty()) {
        const QRectF badge = qualityRect();
        painter.setPen(QPen(scheme->titleColor(), 1.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(badge.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
        painter.setFont(fitted(sansFont(9, true), mQuality, badge.width() - 4));
        painter.drawText(badge, Qt::AlignCenter | Qt::TextSingleLine, mQuality);
    }

    if (mShowsShareButton) {
        paintShareButton(painter);
    }
    painter.restore();
}

void MainTapeLabelView::paintShareButton(QPainter& painter) const {
    const QRectF button = shareButtonRect();
    QPainterPath path;
    path.addRoundedRect(button.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    QLinearGradient fill(button.topLeft(), button.bottomLeft());
    fill.setColorAt(0, mShareButtonOn ? QColor(0xb8, 0xb4, 0xaa) : QColor(0xff, 0xff, 0xfd));
    fill.setColorAt(1, mShareButtonOn ? QColor(0xa4, 0xa0, 0x96) : QColor(0xdc, 0xd8, 0xcd));
    painter.fillPath(path, fill);
    painter.setPen(QPen(QColor(0, 0, 0, 90), 0.8));
    painter.drawPath(path);

    // A tray with an arrow leaving it.
    const QPointF c = button.center();
    QPen glyph(QColor(0x3a, 0x3a, 0x3a), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(glyph);
    painter.setBrush(Qt::NoBrush);
    QPainterPath tray;
    tray.moveTo(c + QPointF(-3.5, -1.5));
    tray.lineTo(c + QPointF(-5, -1.5));
    tray.lineTo(c + QPointF(-5, 5));
    tray.lineTo(c + QPointF(5, 5));
    tray.lineTo(c + QPointF(5, -1.5));
    tray.lineTo(c + QPointF(3.5, -1.5));
    painter.drawPath(tray);
    painter.drawLine(c + QPointF(0, 2.5), c + QPointF(0, -6));
    painter.drawLine(c + QPointF(-2.5, -3.5), c + QPointF(0, -6));
    painter.drawLine(c + QPointF(2.5, -3.5), c + QPointF(0, -6));
}

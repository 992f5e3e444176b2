#include "app/deck/TimeView.h"

#include "app/deck/HUDDrawing.h"
#include "app/deck/HUDView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace {

// Beyond this (about 27 hours) the readout stops counting, so the minutes
// always fit an int.
constexpr float kLongestShownTime = 99999999.0f;

// Digit cell, in pixels.
constexpr double kDigitWidth = 9.5;
constexpr double kDigitHeight = 15.0;
constexpr double kStroke = 2.2;
constexpr double kDigitAdvance = 12.0;
constexpr double kPunctuationAdvance = 6.0;
constexpr double kSlant = 0.08;

// Segments a..g as bits 0..6.
constexpr std::array<uint8_t, 10> kDigitSegments = {
    0b0111111, 0b0000110, 0b1011011, 0b1001111, 0b1100110,
    0b1101101, 0b1111101, 0b0000111, 0b1111111, 0b1101111,
};

// A segment bar between two points on a line, with pointed ends.
QPolygonF bar(QPointF from, QPointF to, double halfStroke) {
    if (from.y() == to.y()) {
        const double y = from.y();
        return QPolygonF({{from.x(), y},
                          {from.x() + halfStroke, y - halfStroke},
                          {to.x() - halfStroke, y - halfStroke},
                          {to.x(), y},
                          {to.x() - halfStroke, y + halfStroke},
                          {from.x() + halfStroke, y + halfStroke}});
    }
    const double x = from.x();
    return QPolygonF({{x, from.y()},
                      {x + halfStroke, from.y() + halfStroke},
                      {x + halfStroke, to.y() - halfStroke},
                      {x, to.y()},
                      {x - halfStroke, to.y() - halfStroke},
                      {x - halfStroke, from.y() + halfStroke}});
}

std::array<QPolygonF, 7> digitSegments(double left, double top) {
    const double r = kStroke / 2.0;
    const double gap = 0.55;
    const double x0 = left + r, x1 = left + kDigitWidth - r;
    const double y0 = top + r, ym = top + kDigitHeight / 2.0, y1 = top + kDigitHeight - r;
    return {
        bar({x0 + gap, y0}, {x1 - gap, y0}, r), // a
        bar({x1, y0 + gap}, {x1, ym - gap}, r), // b
        bar({x1, ym + gap}, {x1, y1 - gap}, r), // c
        bar({x0 + gap, y1}, {x1 - gap, y1}, r), // d
        bar({x0, ym + gap}, {x0, y1 - gap}, r), // e
        bar({x0, y0 + gap}, {x0, ym - gap}, r), // f
        bar({x0 + gap, ym}, {x1 - gap, ym}, r), // g
    };
}

double advanceOf(QChar c) {
    return c.isDigit() ? kDigitAdvance : kPunctuationAdvance;
}

} // namespace

TimeView::TimeView(QWidget* parent) : QWidget(parent) {
    resize(frameSize());
    refreshTime();
}

void TimeView::setTime(double time) {
    mTime = time;
    refreshTime();
}

QString TimeView::timeStringForTime(double time) {
    float t = static_cast<float>(time);
    if (!(t >= 0.0f)) {
        t = 0.0f;
    }
    t = std::min(t, kLongestShownTime);
    const int hundredths = static_cast<int>(std::fmod(t, 1000.0f) / 10.0f);
    const float s = std::floor(t / 1000.0f);
    const float minutes = std::floor(s / 60.0f);
    const float seconds = s - 60.0f * minutes;
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d.%02d", static_cast<int>(minutes),
                  static_cast<int>(seconds), hundredths);
    return QString::fromLatin1(text);
}

void TimeView::refreshTime() {
    const QString text = timeStringForTime(mTime);
    if (text != mTimeString) {
        mTimeString = text;
        update();
    }
}

void TimeView::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void TimeView::paintGlyph(QPainter& painter, QChar c, bool dark, double x, double top) {
    const QColor lit = HUDView::activeColor();
    const QColor unlit = HUDDrawing::withAlpha(HUDView::inactiveColor(), 0.13);
    if (c.isDigit()) {
        const uint8_t on = dark ? 0 : kDigitSegments[c.digitValue()];
        const auto segments = digitSegments(x, top);
        for (int s = 0; s < 7; ++s) {
            QPainterPath path;
            path.addPolygon(segments[s]);
            path.closeSubpath();
            const bool isLit = (on >> s) & 1;
            HUDDrawing::fillSegment(painter, path, isLit ? lit : unlit, isLit);
        }
        return;
    }
    const double dot = kStroke;
    // Centred in the space between the digit before and the digit after.
    const double cx = x + (kPunctuationAdvance - (kDigitAdvance - kDigitWidth)) / 2.0;
    QPainterPath path;
    if (c == QLatin1Char(':')) {
        path.addRect(QRectF(cx - dot / 2.0, top + kDigitHeight * 0.28, dot, dot));
        path.addRect(QRectF(cx - dot / 2.0, top + kDigitHeight * 0.66, dot, dot));
    } else {
        path.addRect(QRectF(cx - dot / 2.0, top + kDigitHeight - dot, dot, dot));
    }
    HUDDrawing::fillSegment(painter, path, lit, true);
}

void TimeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    HUDView::paintGlassBehind(*this, painter);
    paintReadout(painter);
    HUDView::paintGlossOver(*this, painter);
}

void TimeView::paintReadout(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing);

    // Always at least two minute digits: an unused one stays dark, as on a
    // real readout.
    QString shown = mTimeString;
    int dark = 0;
    while (shown.indexOf(QLatin1Char(':')) < 2) {
        shown.prepend(QLatin1Char('8'));
        ++dark;
    }
    double width = 0.0;
    for (const QChar c : shown) {
        width += advanceOf(c);
    }
    width -= kDigitAdvance - kDigitWidth;
    // Very long times get a narrower readout rather than losing digits.
    const double available = frameSize().width() - 4.0;
    const double squeeze = std::min(1.0, available / width);
    const double top = (frameSize().height() - kDigitHeight) / 2.0;
    const double baseline = top + kDigitHeight;
    const double left = frameSize().width() - 2.0 - width * squeeze;

    if (squeeze < 1.0) {
        QTransform transform;
        transform.translate(left, 0.0);
        transform.translate(0.0, baseline);
        transform.shear(-kSlant, 0.0);
        transform.translate(0.0, -baseline);
        transform.scale(squeeze, 1.0);
        painter.setTransform(transform);
        double x = 0.0;
        for (int i = 0; i < shown.size(); ++i) {
            paintGlyph(painter, shown.at(i), i < dark, x, top);
            x += advanceOf(shown.at(i));
        }
        return;
    }
    // The readout changes fifteen times a second: each glyph is drawn once
    // (the slant only depends on the height, so a glyph looks the same
    // wherever it stands) and then copied into place.
    double x = left;
    for (int i = 0; i < shown.size(); ++i) {
        const QChar c = shown.at(i);
        const QPixmap& glyph = glyphImage(c, i < dark, top, baseline);
        painter.drawPixmap(QPointF(std::round(x) - kGlyphMargin, 0.0), glyph);
        x += advanceOf(c);
    }
}

const QPixmap& TimeView::glyphImage(QChar c, bool dark, double top, double baseline) {
    const qreal ratio = devicePixelRatioF();
    if (ratio != mGlyphRatio) {
        mGlyphs.clear();
        mGlyphRatio = ratio;
    }
    const QString key = QString(c) + (dark ? QLatin1Char('d') : QLatin1Char('l'));
    auto found = mGlyphs.find(key);
    if (found == mGlyphs.end()) {
        const QSizeF size(advanceOf(c) + 2 * kGlyphMargin, frameSize().height());
        QPixmap glyph((size * ratio).toSize());
        glyph.setDevicePixelRatio(ratio);
        glyph.fill(Qt::transparent);
        QPainter painter(&glyph);
        painter.setRenderHint(QPainter::Antialiasing);
        QTransform transform;
        transform.translate(kGlyphMargin, baseline);
        transform.shear(-kSlant, 0.0);
        transform.translate(0.0, -baseline);
        painter.setTransform(transform);
        paintGlyph(painter, c, dark, 0.0, top);
        painter.end();
        found = mGlyphs.insert(key, glyph);
    }
    return found.value();
}

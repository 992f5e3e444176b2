#include "app/deck/HUDDrawing.h"

#include "app/deck/HUDView.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace HUDDrawing {

double roundHalfEven(double value) {
    if (!std::isfinite(value)) {
        return value;
    }
    const double lower = std::floor(value);
    const double fraction = value - lower;
    if (fraction < 0.5) {
        return lower;
    }
    if (fraction > 0.5) {
        return lower + 1.0;
    }
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

int litCount(double scaled, int count) {
    if (!(scaled > 0.0)) { // also NaN
        return 0;
    }
    if (scaled >= count) {
        return count;
    }
    return std::clamp(static_cast<int>(roundHalfEven(scaled)), 0, count);
}

QFont labelFont(double pixelSize) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Sans Serif")});
    font.setStretch(QFont::Condensed);
    font.setWeight(QFont::Bold);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.4);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(std::clamp(alpha, 0.0, 1.0)));
    return color;
}

QColor blend(const QColor& from, const QColor& to, double fraction) {
    const double t = std::clamp(fraction, 0.0, 1.0);
    auto mix = [t](float a, float b) { return static_cast<float>(a + (b - a) * t); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()),
                            mix(from.blueF(), to.blueF()), mix(from.alphaF(), to.alphaF()));
}

void fillSegment(QPainter& painter, const QPainterPath& shape, const QColor& color, bool lit) {
    if (lit) {
        painter.save();
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(withAlpha(color, color.alphaF() * 0.16), 3.2, Qt::SolidLine,
                            Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(shape);
        painter.setPen(QPen(withAlpha(color, color.alphaF() * 0.22), 1.6, Qt::SolidLine,
                            Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(shape);
        painter.restore();
    }
    painter.fillPath(shape, color);
}

void fillSegment(QPainter& painter, const QRectF& rect, const QColor& color, bool lit) {
    QPainterPath path;
    path.addRoundedRect(rect, 0.8, 0.8);
    fillSegment(painter, path, color, lit);
}

QPainterPath textPath(const QString& text, const QFont& font, const QRectF& rect) {
    const QFontMetricsF metrics(font);
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF box = path.boundingRect();
    // Centre on the ink, not on the advance, so letter spacing and side
    // bearings do not push short labels off centre.
    const double x = rect.center().x() - box.center().x();
    const double y = rect.center().y() + metrics.capHeight() / 2.0;
    return path.translated(x, y);
}

void paintChoice(QPainter& painter, const QString& label, const QRectF& itemRect, bool selected,
                 bool framed) {
    const QFont font = labelFont(9.0);
    const QColor color = selected ? HUDView::activeRecordColor() : HUDView::inactiveRecordColor();
    const QPainterPath text = textPath(label, font, itemRect);
    fillSegment(painter, text, color, selected);
    if (framed && selected) {
        const double width = std::min(itemRect.width() - 1.0, text.boundingRect().width() + 8.0);
        const double height = std::min(itemRect.height() - 1.0, 12.0);
        // Whole pixels plus a half, so the 1-pixel frame is crisp at any scale.
        const double left = std::round(itemRect.center().x() - width / 2.0) + 0.5;
        const double top = std::round(itemRect.center().y() - height / 2.0) + 0.5;
        const QRectF frame(left, top, std::round(width) - 1.0, std::round(height) - 1.0);
        painter.save();
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(withAlpha(color, 0.18), 2.6));
        painter.drawRoundedRect(frame, 2.0, 2.0);
        painter.setPen(QPen(color, 1.0));
        painter.drawRoundedRect(frame, 2.0, 2.0);
        painter.restore();
    }
}

} // namespace HUDDrawing

#include "app/transport/TransportGlyphs.h"

#include "app/transport/WindowControllerActions.h"

#include <QPainter>
#include <QPainterPath>

namespace {

QPainterPath triangle(double left, double right, double top, double bottom, bool pointsRight) {
    const double middle = (top + bottom) / 2;
    QPainterPath path;
    if (pointsRight) {
        path.moveTo(left, top);
        path.lineTo(right, middle);
        path.lineTo(left, bottom);
    } else {
        path.moveTo(right, top);
        path.lineTo(left, middle);
        path.lineTo(right, bottom);
    }
    path.closeSubpath();
    return path;
}

QPainterPath glyphPath(int segment, double s) {
    QPainterPath path;
    switch (segment) {
    case TransportSegmentRecord:
        path.addEllipse(QRectF(s * 0.28, s * 0.28, s * 0.44, s * 0.44));
        break;
    case TransportSegmentPlay:
        path = triangle(s * 0.32, s * 0.74, s * 0.26, s * 0.74, true);
        break;
    case TransportSegmentRewind:
        path = triangle(s * 0.16, s * 0.5, s * 0.3, s * 0.7, false);
        path.addPath(triangle(s * 0.5, s * 0.84, s * 0.3, s * 0.7, false));
        break;
    case TransportSegmentFastForward:
        path = triangle(s * 0.16, s * 0.5, s * 0.3, s * 0.7, true);
        path.addPath(triangle(s * 0.5, s * 0.84, s * 0.3, s * 0.7, true));
        break;
    case TransportSegmentStop:
        path.addRect(QRectF(s * 0.3, s * 0.3, s * 0.4, s * 0.4));
        break;
    case TransportSegmentPause:
        path.addRect(QRectF(s * 0.3, s * 0.28, s * 0.14, s * 0.44));
        path.addRect(QRectF(s * 0.56, s * 0.28, s * 0.14, s * 0.44));
        break;
    default:
        break;
    }
    return path;
}

} // namespace

QImage transportGlyph(int segment, const QColor& color, int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(glyphPath(segment, side), color);
    return image;
}

#include "app/deck/FocusRing.h"

#include <QPainter>
#include <QWidget>

namespace FocusRing {

void paint(QPainter& painter, const QWidget& widget, const QRectF& area, double radius) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(widget.palette().color(QPalette::Active, QPalette::Highlight), 2.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(area.adjusted(1.0, 1.0, -1.0, -1.0), radius, radius);
    painter.restore();
}

} // namespace FocusRing

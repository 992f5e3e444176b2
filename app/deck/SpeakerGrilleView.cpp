#include "app/deck/SpeakerGrilleView.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

SpeakerGrilleView::SpeakerGrilleView(QWidget* parent) : QWidget(parent) {}

void SpeakerGrilleView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

    // The recessed plate the holes are punched in.
    QPainterPath plate;
    plate.addRoundedRect(area, 4, 4);
    QLinearGradient metal(area.topLeft(), area.bottomLeft());
    metal.setColorAt(0.0, QColor(0x3a, 0x3c, 0x40));
    metal.setColorAt(1.0, QColor(0x26, 0x27, 0x2a));
    painter.fillPath(plate, metal);
    painter.setPen(QColor(255, 255, 255, 28));
    painter.drawPath(plate.translated(0, 1));
    painter.setPen(QColor(0, 0, 0, 200));
    painter.drawPath(plate);

    // Staggered rows of holes, each with a highlight on its lower lip.
    const qreal pitch = 5.0;
    const qreal radius = 1.5;
    painter.setPen(Qt::NoPen);
    int row = 0;
    for (qreal y = area.top() + 5; y < area.bottom() - 3; y += pitch * 0.866, ++row) {
        const qreal offset = (row % 2) ? pitch / 2 : 0;
        for (qreal x = area.left() + 6 + offset; x < area.right() - 4; x += pitch) {
            painter.setBrush(QColor(255, 255, 255, 22));
            painter.drawEllipse(QPointF(x, y + 0.6), radius, radius);
            painter.setBrush(QColor(0, 0, 0));
            painter.drawEllipse(QPointF(x, y), radius, radius);
        }
    }
}

#include "app/deck/DeckPanelView.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

DeckPanelView::DeckPanelView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

const QPixmap& DeckPanelView::grainTile(qreal ratio) {
    if (mGrain.isNull() || mGrain.devicePixelRatio() != ratio) {
        // Horizontal brush strokes of slightly varying brightness; the seed is
        // fixed so the face looks the same on every start.
        const int size = 128;
        QImage tile(QSize(size, size) * ratio, QImage::Format_ARGB32_Premultiplied);
        tile.fill(Qt::transparent);
        QRandomGenerator random(20261208);
        for (int y = 0; y < tile.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(tile.scanLine(y));
            const double rowShade = random.bounded(-5, 6);
            // Long strokes: the brightness wanders slowly along the row.
            double stroke = 0;
            for (int x = 0; x < tile.width(); ++x) {
                stroke = stroke * 0.92 + random.bounded(-2, 3) * 0.08 * 4;
                const int shade = static_cast<int>(std::lround(rowShade + stroke));
                const int alpha = std::min(255, std::abs(shade) * 3);
                const int value = shade > 0 ? 255 : 0;
                line[x] = qPremultiply(qRgba(value, value, value, alpha));
            }
        }
        mGrain = QPixmap::fromImage(tile);
        mGrain.setDevicePixelRatio(ratio);
    }
    return mGrain;
}

void DeckPanelView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = rect();
    QLinearGradient light(area.topLeft(), area.bottomLeft());
    light.setColorAt(0.0, QColor(0x3a, 0x3b, 0x3f));
    light.setColorAt(0.08, QColor(0x2b, 0x2c, 0x30));
    light.setColorAt(1.0, QColor(0x16, 0x17, 0x19));
    painter.fillRect(event->rect(), light);
    painter.drawTiledPixmap(event->rect(), grainTile(devicePixelRatioF()), event->rect().topLeft());
    // A bright lip along the top edge and a dark one at the bottom.
    painter.setPen(QColor(255, 255, 255, 40));
    painter.drawLine(area.topLeft(), area.topRight());
    painter.setPen(QColor(0, 0, 0, 160));
    painter.drawLine(area.bottomLeft(), area.bottomRight());
}

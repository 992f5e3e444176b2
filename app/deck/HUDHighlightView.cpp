#include "app/deck/HUDHighlightView.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

HUDHighlightView::HUDHighlightView(Placement placement, QWidget* parent)
    : QWidget(parent), mPlacement(placement) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void HUDHighlightView::setCornerRadius(double radius) {
    mCornerRadius = radius;
    mCache = QPixmap();
    update();
}

// The gloss lies over displays that change many times a second: it is drawn
// once and then only copied.
const QPixmap& HUDHighlightView::gloss() {
    const qreal ratio = devicePixelRatioF();
    if (mCache.isNull() || mCache.size() != size() * ratio || mCache.devicePixelRatio() != ratio) {
        mCache = QPixmap(size() * ratio);
        mCache.setDevicePixelRatio(ratio);
        mCache.fill(Qt::transparent);
        QPainter cachePainter(&mCache);
        paintGloss(cachePainter);
    }
    return mCache;
}

void HUDHighlightView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawPixmap(QPointF(0, 0), gloss());
}

void HUDHighlightView::paintGloss(QPainter& painter) const {
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(1.0, 1.0, -1.0, -1.0);
    const double radius = std::max(0.0, mCornerRadius - 1.0);

    QPainterPath glass;
    glass.addRoundedRect(bounds, radius, radius);

    if (mPlacement == Placement::Upper) {
        // The sheen: the glass's upper part, ending in a shallow curve that
        // dips towards the middle, brightest at the top edge.
        const double edge = bounds.top() + bounds.height() * 0.42;
        QPainterPath sheen;
        sheen.moveTo(bounds.left(), bounds.top());
        sheen.lineTo(bounds.right(), bounds.top());
        sheen.lineTo(bounds.right(), edge - bounds.height() * 0.08);
        sheen.quadTo(bounds.center().x(), edge + bounds.height() * 0.1, bounds.left(),
                     edge - bounds.height() * 0.08);
        sheen.closeSubpath();
        QLinearGradient gradient(0, bounds.top(), 0, edge + bounds.height() * 0.1);
        gradient.setColorAt(0.0, QColor(255, 255, 255, 46));
        gradient.setColorAt(0.35, QColor(255, 255, 255, 20));
        gradient.setColorAt(1.0, QColor(255, 255, 255, 6));
        painter.fillPath(sheen.intersected(glass), gradient);
        // A hairline where the light catches the rim of the glass.
        painter.setPen(QPen(QColor(255, 255, 255, 40), 1.0));
        painter.drawLine(QPointF(bounds.left() + radius, bounds.top() + 0.5),
                         QPointF(bounds.right() - radius, bounds.top() + 0.5));
    } else {
        // A faint reflection coming up from the lower edge.
        const double top = bounds.bottom() - bounds.height() * 0.28;
        QLinearGradient gradient(0, top, 0, bounds.bottom());
        gradient.setColorAt(0.0, QColor(120, 200, 255, 0));
        gradient.setColorAt(1.0, QColor(120, 200, 255, 16));
        QPainterPath band;
        band.addRect(QRectF(bounds.left(), top, bounds.width(), bounds.bottom() - top));
        painter.fillPath(band.intersected(glass), gradient);
    }
}

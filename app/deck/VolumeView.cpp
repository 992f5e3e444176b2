#include "app/deck/VolumeView.h"

#include "app/deck/HUDDrawing.h"
#include "app/deck/HUDView.h"
#include "audio/format/InternalInconsistencyException.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kFirstBarX = 29.0;
constexpr double kBarPitch = 6.0;
} // namespace

VolumeView::VolumeView(QWidget* parent) : ClickableHUDSubview(parent) {
    resize(frameSize());
    refreshVolume();
}

void VolumeView::setVolume(double volume) {
    if (volume == mVolume) {
        return;
    }
    mVolume = volume;
    refreshVolume();
    emit volumeChanged();
}

double VolumeView::volumeForIndex(int index) {
    if (index < 0 || index >= BarCount) {
        throw InternalInconsistencyException("volume bar index out of range", "VolumeView",
                                             __LINE__);
    }
    return -25.0 + 5.0 * index;
}

int VolumeView::litBarsForVolume(double volume) {
    return HUDDrawing::litCount(BarCount * (volume + 30.0) / 30.0, BarCount);
}

QColor VolumeView::barColor(int index) const {
    return index < mLitBars ? HUDView::activeColor() : HUDView::inactiveColor();
}

QRectF VolumeView::barRect(int index) {
    return QRectF(kFirstBarX + kBarPitch * index, 0.0, kBarPitch, frameSize().height());
}

bool VolumeView::setVolumeForPoint(const QPointF& point) {
    for (int index = 0; index < BarCount; ++index) {
        const QRectF bar = barRect(index);
        // Half-open, so a point on the line between two bars belongs to one.
        if (point.x() >= bar.left() && point.x() < bar.right() && point.y() >= bar.top() &&
            point.y() < bar.bottom()) {
            setVolume(volumeForIndex(index));
            return true;
        }
    }
    return false;
}

void VolumeView::refreshVolume() {
    mLitBars = litBarsForVolume(mVolume);
    update();
}

void VolumeView::stepBy(int steps) {
    const double quietest = volumeForIndex(0);
    const double loudest = volumeForIndex(BarCount - 1);
    const double step = volumeForIndex(1) - quietest;
    // From between two bars, the first step goes to the nearer bar that way.
    const double bars = (mVolume - quietest) / step;
    const double from = steps > 0 ? std::floor(bars + 1e-9) : std::ceil(bars - 1e-9);
    setVolume(std::clamp(quietest + (from + steps) * step, quietest, loudest));
}

void VolumeView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) {
        setVolumeForPoint(event->position());
    }
}

void VolumeView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (event->buttons() & Qt::LeftButton) {
        setVolumeForPoint(event->position());
    }
}

void VolumeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFont font = HUDDrawing::labelFont(9.0);
    HUDDrawing::fillSegment(
        painter,
        HUDDrawing::textPath(QStringLiteral("VOL"), font, QRectF(0.0, 0.0, kFirstBarX - 3.0, 16.0)),
        HUDView::activeColor(), true);
    for (int index = 0; index < BarCount; ++index) {
        // Bars rise from 4 to 14 pixels on a baseline 2 pixels above the bottom.
        const double height = 4.0 + 2.0 * index;
        const QRectF hit = barRect(index);
        const QRectF bar(hit.left() + 1.0, hit.bottom() - 2.0 - height, hit.width() - 2.0, height);
        HUDDrawing::fillSegment(painter, bar, barColor(index), index < mLitBars);
    }
}

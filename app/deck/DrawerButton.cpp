#include "app/deck/DrawerButton.h"

#include "app/deck/FocusRing.h"

#include <QPainter>
#include <QPainterPath>

DrawerButton::DrawerButton(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    // Reached with Tab (Space or Return presses it); a click leaves the focus where it was.
    setFocusPolicy(Qt::TabFocus);
    setToolTip(tr("Show or hide the tape box"));
    setAccessibleName(tr("Tape box"));
}

void DrawerButton::setDrawerOpen(bool open) {
    if (open != mDrawerOpen) {
        mDrawerOpen = open;
        update();
    }
}

void DrawerButton::enterEvent(QEnterEvent* event) {
    mHovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void DrawerButton::leaveEvent(QEvent* event) {
    mHovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void DrawerButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(2, 4, -2, -4);

    // A slot with a few ridges to grip.
    QPainterPath slot;
    slot.addRoundedRect(area, 3, 3);
    painter.fillPath(slot, isDown() ? QColor(0x0e, 0x0f, 0x10) : QColor(0x1b, 0x1c, 0x1f));
    painter.setPen(QColor(0, 0, 0, 180));
    painter.drawPath(slot);
    painter.setPen(QColor(255, 255, 255, mHovered ? 60 : 30));
    for (qreal y = area.center().y() - 20; y <= area.center().y() + 20; y += 5) {
        painter.drawLine(QPointF(area.left() + 2, y), QPointF(area.right() - 2, y));
    }

    // The arrow: towards the drawer when it is closed, away when open.
    const QPointF tip = area.center() + QPointF(0, -34);
    const qreal size = 3.0;
    const qreal direction = mDrawerOpen ? -1.0 : 1.0;
    QPainterPath arrow;
    arrow.moveTo(tip + QPointF(direction * size, 0));
    arrow.lineTo(tip + QPointF(-direction * size, -size * 1.4));
    arrow.lineTo(tip + QPointF(-direction * size, size * 1.4));
    arrow.closeSubpath();
    painter.fillPath(arrow, mHovered ? QColor(0, 180, 255) : QColor(0x9a, 0x9c, 0xa2));
    if (hasFocus()) {
        FocusRing::paint(painter, *this, QRectF(rect()), 3.0);
    }
}

#include "app/deck/ClickableHUDSubview.h"

#include "app/deck/FocusRing.h"
#include "app/deck/HUDView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

ClickableHUDSubview::ClickableHUDSubview(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

bool ClickableHUDSubview::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // A display that paints its own patch of the panel (an opaque one) has
    // the gloss over it painted here, over the ring too.
    if (event->type() == QEvent::Paint && (hasFocus() || testAttribute(Qt::WA_OpaquePaintEvent))) {
        QPainter painter(this); // over what the display drew
        if (hasFocus()) {
            FocusRing::paint(painter, *this, rect(), 3.0);
        }
        HUDView::paintGlossOver(*this, painter);
    } else if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        update();
    }
    return handled;
}

void ClickableHUDSubview::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        stepBy(-1);
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        stepBy(1);
        break;
    case Qt::Key_Home:
        stepToEnd(false);
        break;
    case Qt::Key_End:
        stepToEnd(true);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void ClickableHUDSubview::setRecordingMode(bool recording) {
    if (mRecordingMode == recording) {
        return;
    }
    mRecordingMode = recording;
    recordingModeChanged();
}

void ClickableHUDSubview::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void ClickableHUDSubview::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

#include "app/deck/ClickableHUDSubview.h"

#include <QMouseEvent>

ClickableHUDSubview::ClickableHUDSubview(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::PointingHandCursor);
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

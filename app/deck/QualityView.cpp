#include "app/deck/QualityView.h"

#include "app/deck/HUDDrawing.h"
#include "app/library/TapeQuality.h"
#include "audio/format/InternalInconsistencyException.h"
#include "platform/desktop/UserDefaults.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {
const QString kRecordingQuality = QStringLiteral("RecordingQuality");
}

QualityView::QualityView(QWidget* parent) : ClickableHUDSubview(parent) {
    for (int index = 0; index < ItemCount; ++index) {
        const QString level = TapeQuality::qualityForIndex(index);
        mLabels << level;
        mQualities << level;
    }
    resize(frameSize());
    UserDefaults::standard().observe(
        kRecordingQuality, this,
        [this](const QVariant& value) {
            if (value.isValid()) {
                setQuality(value.toString());
            }
        },
        true);
}

QString QualityView::quality() const {
    if (mSelectedQuality < 0 || mSelectedQuality >= mQualities.size()) {
        throw InternalInconsistencyException("selected quality beyond # of layers", "QualityView",
                                             __LINE__);
    }
    return mQualities.at(mSelectedQuality);
}

void QualityView::setQuality(const QString& quality) {
    const int index = static_cast<int>(mQualities.indexOf(quality));
    if (index >= 0) {
        setSelectedQuality(index);
    }
}

void QualityView::setSelectedQuality(int index) {
    if (index == mSelectedQuality) {
        return;
    }
    mSelectedQuality = index;
    update();
    emit qualityChanged();
}

QString QualityView::qualityForItem(int index) const {
    return index >= 0 && index < mQualities.size() ? mQualities.at(index) : QString();
}

QRectF QualityView::itemRect(int index) const {
    const QSize size = frameSize();
    const double width = static_cast<double>(size.width()) / ItemCount;
    return QRectF(index * width, 0.0, width, size.height());
}

int QualityView::itemAtPoint(const QPointF& point) const {
    for (int index = 0; index < ItemCount; ++index) {
        if (itemRect(index).contains(point)) {
            return index;
        }
    }
    return -1;
}

void QualityView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (recordingMode() || event->button() != Qt::LeftButton) {
        return;
    }
    chooseItem(itemAtPoint(event->position()));
}

void QualityView::stepBy(int steps) {
    if (!recordingMode()) {
        chooseItem(std::clamp(mSelectedQuality + steps, 0, ItemCount - 1));
    }
}

void QualityView::chooseItem(int index) {
    if (index < 0 || index >= mQualities.size()) {
        return;
    }
    const QString level = mQualities.at(index);
    UserDefaults::standard().setValue(kRecordingQuality, level);
    // The observation normally brings the display along; when the default
    // already held this level no change is announced, so follow it here too.
    setQuality(level);
}

void QualityView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int index = 0; index < ItemCount; ++index) {
        HUDDrawing::paintChoice(painter, mLabels.at(index), itemRect(index),
                                index == mSelectedQuality, !recordingMode());
    }
}

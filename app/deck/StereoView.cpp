#include "app/deck/StereoView.h"

#include "app/deck/HUDDrawing.h"
#include "platform/desktop/UserDefaults.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {
const QString kRecordingIsStereo = QStringLiteral("RecordingIsStereo");
}

StereoView::StereoView(QWidget* parent) : ClickableHUDSubview(parent) {
    mLabels << QStringLiteral("STEREO") << QStringLiteral("MONO");
    resize(frameSize());
    UserDefaults::standard().observe(
        kRecordingIsStereo, this,
        [this](const QVariant& value) {
            if (value.isValid()) {
                setStereo(value.toBool());
            }
        },
        true);
}

void StereoView::setStereo(bool stereo) {
    if (stereo == mStereo) {
        return;
    }
    mStereo = stereo;
    update();
    emit stereoChanged();
}

QRectF StereoView::itemRect(int index) const {
    const QSize size = frameSize();
    const double width = static_cast<double>(size.width()) / ItemCount;
    return QRectF(index * width, 0.0, width, size.height());
}

int StereoView::itemAtPoint(const QPointF& point) const {
    for (int index = 0; index < ItemCount; ++index) {
        if (itemRect(index).contains(point)) {
            return index;
        }
    }
    return -1;
}

void StereoView::chooseItem(int index) {
    if (recordingMode() || index < 0 || index >= ItemCount) {
        return;
    }
    bool stereo = index == 0;
    if (stereo && mCanRecordStereo && !mCanRecordStereo()) {
        presentMonoOnlyAlert();
        stereo = false;
    }
    UserDefaults::standard().setValue(kRecordingIsStereo, stereo);
    // Follow at once as well: an unchanged default announces nothing.
    setStereo(stereo);
}

void StereoView::stepBy(int steps) {
    chooseItem(std::clamp(selectedIndex() + steps, 0, ItemCount - 1));
}

void StereoView::presentMonoOnlyAlert() {
    const QString message = QCoreApplication::translate("StereoView", "Mono Recording Only");
    const QString informative = QCoreApplication::translate(
        "StereoView", "Your currently chosen input device only records in mono. Choose another "
                      "device in the preferences if you require stereo recording.");
    if (mPresentAlert) {
        mPresentAlert(message, informative);
        return;
    }
    QMessageBox alert(QMessageBox::Warning, message, message, QMessageBox::Ok, window());
    alert.setInformativeText(informative);
    alert.exec();
}

void StereoView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    chooseItem(itemAtPoint(event->position()));
}

void StereoView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int index = 0; index < ItemCount; ++index) {
        HUDDrawing::paintChoice(painter, mLabels.at(index), itemRect(index),
                                index == selectedIndex(), !recordingMode());
    }
}

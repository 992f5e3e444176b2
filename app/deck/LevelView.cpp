#include "app/deck/LevelView.h"

#include "app/deck/HUDDrawing.h"
#include "app/deck/HUDView.h"

#include <QPainter>

namespace {

// Whole pixels, so the segments stay sharp at a scale of 1: 4 pixels wide
// on a 6-pixel pitch; the labels take the 30 pixels in the middle.
constexpr double kSegmentWidth = 4.0;
constexpr double kSegmentPitch = 6.0;
constexpr double kMeterWidth = 34.0;
constexpr double kLabelWidth = 15.0;
constexpr double kSegmentTop = 3.0;
constexpr double kSegmentHeight = 10.0;

} // namespace

LevelView::LevelView(QWidget* parent) : QWidget(parent) {
    resize(frameSize());
    refreshLevels();
}

void LevelView::setLevels(double left, double right) {
    mLevels = {left, right};
    refreshLevels();
}

void LevelView::setStereo(bool stereo) {
    mStereo = stereo;
    refreshLevels();
}

int LevelView::litSegmentsForLevel(double level) {
    return HUDDrawing::litCount(SegmentCount * (level + 60.0) / 60.0, SegmentCount);
}

void LevelView::refreshLevels() {
    const int left = litSegmentsForLevel(mLevels[Left]);
    const int right = litSegmentsForLevel(mStereo ? mLevels[Right] : mLevels[Left]);
    // The meter is fed fifteen times a second: repaint only what shows a change.
    if (left == mLit[Left] && right == mLit[Right] && mStereo == mPaintedStereo) {
        return;
    }
    mLit[Left] = left;
    mLit[Right] = right;
    mPaintedStereo = mStereo;
    update();
}

QColor LevelView::segmentColor(Side side, int index) const {
    return index < mLit[side] ? HUDView::activeRecordColor() : HUDView::inactiveRecordColor();
}

QColor LevelView::labelColor() const {
    return mStereo ? HUDView::activeRecordColor() : HUDView::inactiveRecordColor();
}

QRectF LevelView::segmentRect(Side side, int index) {
    const double centreOffset = index * kSegmentPitch;
    if (side == Left) {
        const double right = kMeterWidth - centreOffset;
        return QRectF(right - kSegmentWidth, kSegmentTop, kSegmentWidth, kSegmentHeight);
    }
    const double left = kMeterWidth + 2.0 * kLabelWidth + centreOffset;
    return QRectF(left, kSegmentTop, kSegmentWidth, kSegmentHeight);
}

void LevelView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const Side side : {Left, Right}) {
        for (int index = 0; index < SegmentCount; ++index) {
            HUDDrawing::fillSegment(painter, segmentRect(side, index), segmentColor(side, index),
                                    index < mLit[side]);
        }
    }
    const QFont font = HUDDrawing::labelFont(9.0);
    const QRectF leftLabel(kMeterWidth, 0.0, kLabelWidth, frameSize().height());
    const QRectF rightLabel(kMeterWidth + kLabelWidth, 0.0, kLabelWidth, frameSize().height());
    HUDDrawing::fillSegment(painter, HUDDrawing::textPath(QStringLiteral("L"), font, leftLabel),
                            labelColor(), mStereo);
    HUDDrawing::fillSegment(painter, HUDDrawing::textPath(QStringLiteral("R"), font, rightLabel),
                            labelColor(), mStereo);
}

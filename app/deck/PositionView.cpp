#include "app/deck/PositionView.h"

#include "app/deck/DeckClock.h"
#include "app/deck/HUDDrawing.h"
#include "app/deck/HUDView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kBarStart = 2.0;
constexpr double kBarLength = 136.0;
constexpr double kSegmentPitch = 4.0;
// The display's scale has one step fewer than the click scale.
constexpr int kDisplaySteps = PositionView::SegmentCount - 1;
constexpr int kClickSteps = PositionView::SegmentCount;
// Milliseconds of recording per step of the running pattern.
constexpr double kPatternStep = 200.0;
constexpr int kPatternLength = 5;
// How far a lit segment's glow and its edge's smoothing reach past it, in pixels.
constexpr int kGlowReach = 3;

} // namespace

PositionView::PositionView(QWidget* parent) : ClickableHUDSubview(parent) {
    resize(frameSize());
    connect(&mFrameTimer, &BeatTimer::timeout, this, &PositionView::tick);
    const double past = -std::numeric_limits<double>::infinity();
    for (int index = 0; index < SegmentCount; ++index) {
        mSegments[index] = {targetColor(index), targetColor(index), past};
    }
}

void PositionView::setTime(double time) {
    const bool changed = time != mTime;
    mTime = time;
    updatePosition();
    if (changed) {
        emit timeChanged();
    }
}

void PositionView::setMaxTime(double maxTime) {
    mMaxTime = maxTime;
    updatePosition();
}

QColor PositionView::targetColor(int index) const {
    if (!recordingMode()) {
        return index == mCurrentPosition ? HUDView::activeColor() : HUDView::inactiveColor();
    }
    // A pattern of five fading steps that moves one segment along every
    // 200 ms; the offset of 100 keeps (k - index) positive.
    const double steps = HUDDrawing::roundHalfEven(mTime / kPatternStep);
    const long long k =
        std::isfinite(steps) ? static_cast<long long>(std::clamp(steps, -1e15, 1e15)) + 100 : 100;
    const long long phase = ((k - index) % kPatternLength + kPatternLength) % kPatternLength;
    // alpha = i * 0.8 / 5 + 0.2 for i = 5 down to 1: 1.0, 0.84, 0.68, 0.52, 0.36
    const double alpha = (kPatternLength - phase) * 0.8 / kPatternLength + 0.2;
    return HUDDrawing::withAlpha(HUDView::activeColor(), alpha);
}

void PositionView::updatePosition() {
    if (recordingMode() || !(mMaxTime > 0.0)) {
        mCurrentPosition = 0;
    } else {
        mCurrentPosition = HUDDrawing::litCount(mTime / mMaxTime * kDisplaySteps, kDisplaySteps);
    }
    const double now = DeckClock::now();
    for (int index = 0; index < SegmentCount; ++index) {
        Fade& fade = mSegments[index];
        const QColor target = targetColor(index);
        if (target != fade.to) {
            fade.from = displayedSegmentColor(index);
            fade.to = target;
            fade.start = now;
            mRepainting[index] = true;
            update(paintedRect(index));
        }
    }
    if (mRepainting.any() && !mFrameTimer.isActive()) {
        mFrameTimer.start();
    }
}

QColor PositionView::displayedSegmentColor(int index) const {
    const Fade& fade = mSegments.at(index);
    const double elapsed = DeckClock::now() - fade.start;
    if (!(elapsed < FadeDuration)) {
        return fade.to;
    }
    return HUDDrawing::blend(fade.from, fade.to, elapsed / FadeDuration);
}

bool PositionView::isAnimating() const {
    const double now = DeckClock::now();
    return std::any_of(mSegments.begin(), mSegments.end(),
                       [now](const Fade& fade) { return now - fade.start < FadeDuration; });
}

// Each beat repaints the segments that are fading, the last time once their
// fade is over.
void PositionView::tick() {
    const double now = DeckClock::now();
    for (int index = 0; index < SegmentCount; ++index) {
        if (mRepainting[index]) {
            update(paintedRect(index));
            mRepainting[index] = now - mSegments[index].start < FadeDuration;
        }
    }
    if (mRepainting.none()) {
        mFrameTimer.stop();
    }
}

void PositionView::recordingModeChanged() {
    updatePosition();
}

void PositionView::setTimeForPoint(const QPointF& point) {
    const double steps =
        HUDDrawing::roundHalfEven((point.x() - kBarStart) / kBarLength * kClickSteps);
    const int position = static_cast<int>(std::clamp(steps, 0.0, static_cast<double>(kClickSteps)));
    const double maxTime = std::max(0.0, mMaxTime);
    // Scaled as a fraction first, so the last step gives exactly maxTime.
    setTime(maxTime * (static_cast<double>(position) / kClickSteps));
}

void PositionView::stepBy(int steps) {
    if (recordingMode() || !(mMaxTime > 0.0)) {
        return;
    }
    const double at = HUDDrawing::roundHalfEven(mTime / mMaxTime * kClickSteps);
    const double position = std::clamp(at + steps, 0.0, static_cast<double>(kClickSteps));
    setTime(mMaxTime * (position / kClickSteps));
}

void PositionView::stepToEnd(bool end) {
    if (!recordingMode() && mMaxTime > 0.0) {
        setTime(end ? mMaxTime : 0.0);
    }
}

QRectF PositionView::segmentRect(int index) {
    return QRectF(kBarStart + kSegmentPitch * index, 1.0, kSegmentPitch - 1.0,
                  frameSize().height() - 2.0);
}

QRect PositionView::paintedRect(int index) {
    // The glow of a lit segment reaches past it (and into its neighbours).
    return segmentRect(index).toAlignedRect().adjusted(-kGlowReach, -kGlowReach, kGlowReach,
                                                       kGlowReach);
}

void PositionView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (!recordingMode() && event->button() == Qt::LeftButton) {
        setTimeForPoint(event->position());
    }
}

void PositionView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!recordingMode() && (event->buttons() & Qt::LeftButton)) {
        setTimeForPoint(event->position());
    }
}

void PositionView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    HUDView::paintGlassBehind(*this, painter);
    painter.setRenderHint(QPainter::Antialiasing);
    const double inactiveAlpha = HUDView::inactiveColor().alphaF();
    for (int index = 0; index < SegmentCount; ++index) {
        if (!event->region().intersects(paintedRect(index))) {
            continue;
        }
        const QColor color = displayedSegmentColor(index);
        HUDDrawing::fillSegment(painter, segmentRect(index), color,
                                color.alphaF() > inactiveAlpha + 0.05);
    }
}

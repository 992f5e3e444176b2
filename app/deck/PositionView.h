#pragma once

#include "app/deck/BeatTimer.h"
#include "app/deck/ClickableHUDSubview.h"

#include <QColor>
#include <QRect>
#include <QRectF>
#include <QSize>

#include <array>
#include <bitset>

// The position in the tape: a bar of 34 segments with the current one lit.
// Pressing or dragging outside recording mode moves the position; while
// recording, a pattern runs along the bar instead. Colour changes fade over
// 0.12 s of DeckClock time.
class PositionView : public ClickableHUDSubview {
    Q_OBJECT
    Q_PROPERTY(double time READ time WRITE setTime NOTIFY timeChanged)
    Q_PROPERTY(double maxTime READ maxTime WRITE setMaxTime)

public:
    static constexpr int SegmentCount = 34;
    static constexpr double FadeDuration = 0.12; // seconds

    explicit PositionView(QWidget* parent = nullptr);

    static QSize frameSize() { return {139, 10}; }

    // Milliseconds.
    double time() const { return mTime; }
    void setTime(double time);
    double maxTime() const { return mMaxTime; }
    void setMaxTime(double maxTime);

    // The lit segment outside recording mode: time / maxTime on a scale of
    // 33 (nearest, ties to even), clamped to 0..33; 0 in recording mode and
    // when maxTime is not above 0.
    int currentPosition() const { return mCurrentPosition; }
    // The colour segment `index` is heading for, and the one shown now
    // (part-way through a fade).
    QColor segmentColor(int index) const { return mSegments.at(index).to; }
    QColor displayedSegmentColor(int index) const;
    bool isAnimating() const;

    // Moves to the point's position on a scale of 34 steps over x = 2..138;
    // points beyond the bar's ends count as its ends.
    void setTimeForPoint(const QPointF& point);
    static QRectF segmentRect(int index);
    // What painting segment `index` may touch.
    static QRect paintedRect(int index);
    void updatePosition();

    QSize sizeHint() const override { return frameSize(); }

    // A click's step (a 34th of the tape) back or on; Home and End go to
    // the start and the end of the tape.
    void stepBy(int steps) override;
    void stepToEnd(bool end) override;

signals:
    void timeChanged();

protected:
    void recordingModeChanged() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Fade {
        QColor from;
        QColor to;
        double start = 0.0;
    };

    QColor targetColor(int index) const;
    void tick();

    double mTime = 0.0;
    double mMaxTime = 0.0;
    int mCurrentPosition = 0;
    std::array<Fade, SegmentCount> mSegments;
    // The segments to repaint on the next beat.
    std::bitset<SegmentCount> mRepainting;
    BeatTimer mFrameTimer;
};

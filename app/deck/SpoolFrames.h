#pragma once

#include <QPixmap>
#include <QPointF>

#include <array>
#include <vector>

class QPainter;

// The turning hubs of the cassette in the deck, each look of a hub drawn
// once and then only copied: a spinning deck copies two small images a
// frame instead of filling gradients and paths. A step is 2 degrees, what
// one spin tick turns at normal speed.
//
// A frame is drawn for one device-pixel ratio and one placement of the
// hub's centre within a device pixel, so that a copied frame matches the
// hub drawn in place. Both hubs share frames while their centres sit alike
// within a pixel, as they do when the cassette is in the well.
class SpoolFrames {
public:
    static constexpr int StepsPerTurn = 180;
    // A hub looks the same every third of a turn, so steps this far apart
    // share a frame.
    static constexpr int StepsPerLook = StepsPerTurn / 3;
    // The step nearest to `angle` radians clockwise, 0 .. StepsPerTurn - 1;
    // negative angles (the spools turning back) and NaN give a step too.
    static int stepForAngle(double angle);
    // The angle in radians that a step shows.
    static double angleForStep(int step);

    // Copies the hub turned to `step` with its centre at `centre`. The
    // painter's coordinates must be the device's divided by `ratio` (a
    // widget's own, untransformed).
    void paint(QPainter& painter, const QPointF& centre, int step, qreal ratio);

    // Frames drawn and kept now, for every placement.
    int frameCount() const;

private:
    struct Placement {
        QPointF phase; // the centre's offset in device pixels from the frame's corner
        std::array<QPixmap, StepsPerLook> frames;
    };
    Placement& placementFor(const QPointF& phase, qreal ratio);
    QPixmap drawFrame(const QPointF& phase, int step, qreal ratio) const;

    qreal mRatio = 0;
    // At most two: one for each hub when their centres sit unlike.
    std::vector<Placement> mPlacements;
};

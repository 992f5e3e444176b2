#include "app/deck/SpoolFrames.h"

#include "app/deck/CassettePainter.h"

#include <QPainter>

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kMostPlacements = 2;

// Half the side of a frame in points: hubRect's margin around the centre.
double frameRadius() {
    return CassettePainter::hubRect(QPointF(0, 0)).width() / 2;
}

bool samePoint(const QPointF& a, const QPointF& b) {
    return std::abs(a.x() - b.x()) < 1e-6 && std::abs(a.y() - b.y()) < 1e-6;
}

} // namespace

int SpoolFrames::stepForAngle(double angle) {
    const double steps = std::round(angle * StepsPerTurn / (2 * kPi));
    if (!std::isfinite(steps)) {
        return 0;
    }
    const double step = std::fmod(steps, static_cast<double>(StepsPerTurn));
    return static_cast<int>(step < 0 ? step + StepsPerTurn : step);
}

double SpoolFrames::angleForStep(int step) {
    return step * 2 * kPi / StepsPerTurn;
}

void SpoolFrames::paint(QPainter& painter, const QPointF& centre, int step, qreal ratio) {
    // The frame's corner on a device pixel, the centre where it falls.
    const QPointF device = centre * ratio;
    const double reach = frameRadius() * ratio;
    const QPointF corner(std::floor(device.x() - reach), std::floor(device.y() - reach));
    const QPointF phase = device - corner;
    QPixmap& frame = placementFor(phase, ratio).frames.at(step % StepsPerLook);
    if (frame.isNull()) {
        frame = drawFrame(phase, step, ratio);
    }
    painter.drawPixmap(corner / ratio, frame);
}

SpoolFrames::Placement& SpoolFrames::placementFor(const QPointF& phase, qreal ratio) {
    if (ratio != mRatio) {
        mPlacements.clear();
        mRatio = ratio;
    }
    for (Placement& placement : mPlacements) {
        if (samePoint(placement.phase, phase)) {
            return placement;
        }
    }
    if (mPlacements.size() == kMostPlacements) {
        mPlacements.erase(mPlacements.begin());
    }
    mPlacements.push_back({phase, {}});
    return mPlacements.back();
}

QPixmap SpoolFrames::drawFrame(const QPointF& phase, int step, qreal ratio) const {
    const int side = static_cast<int>(std::ceil(2 * frameRadius() * ratio)) + 1;
    QPixmap frame(side, side);
    frame.setDevicePixelRatio(ratio);
    frame.fill(Qt::transparent);
    QPainter painter(&frame);
    CassettePainter::paintHub(painter, phase / ratio, angleForStep(step));
    return frame;
}

int SpoolFrames::frameCount() const {
    int count = 0;
    for (const Placement& placement : mPlacements) {
        for (const QPixmap& frame : placement.frames) {
            count += frame.isNull() ? 0 : 1;
        }
    }
    return count;
}

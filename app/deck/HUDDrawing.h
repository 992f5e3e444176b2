#pragma once

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QRectF>
#include <QString>

class QPainter;

// Arithmetic and drawing shared by the HUD's segment displays.
namespace HUDDrawing {

// The integer nearest to `value`, halves going to the even neighbour
// (2.5 -> 2, 3.5 -> 4), whatever the floating-point rounding mode is.
double roundHalfEven(double value);

// How many of `count` segments a scaled reading lights: the nearest integer
// (ties to even), clamped to 0..count. NaN and -inf light none.
int litCount(double scaled, int count);

// The condensed bold face of the display's labels, at a size in pixels.
QFont labelFont(double pixelSize);

QColor withAlpha(QColor color, double alpha);
// Component-wise blend from `from` (fraction 0) to `to` (fraction 1).
QColor blend(const QColor& from, const QColor& to, double fraction);

// Fills `shape`; a lit shape first gets a soft halo of its own colour, as a
// phosphor segment glows on the dark glass.
void fillSegment(QPainter& painter, const QPainterPath& shape, const QColor& color, bool lit);
void fillSegment(QPainter& painter, const QRectF& rect, const QColor& color, bool lit);

// A label as a path, centred in `rect` (baseline placed by the font's cap
// height so short capitals sit in the optical middle).
QPainterPath textPath(const QString& text, const QFont& font, const QRectF& rect);

// One choice of a selector display (quality, stereo): its label in the
// active record colour when selected, else the inactive one; a selected
// choice that can be clicked gets a frame around it.
void paintChoice(QPainter& painter, const QString& label, const QRectF& itemRect, bool selected,
                 bool framed);

} // namespace HUDDrawing

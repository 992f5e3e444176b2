#pragma once

#include <QRectF>

class QPainter;
class QWidget;

// The ring the deck's own controls draw around themselves while they have
// the keyboard focus, in the desktop's highlight colour.
namespace FocusRing {

void paint(QPainter& painter, const QWidget& widget, const QRectF& area, double radius = 3.0);

} // namespace FocusRing

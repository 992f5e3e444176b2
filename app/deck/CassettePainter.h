#pragma once

#include "app/deck/MainTapeLabelView.h"
#include "app/deck/NotesTapeLabelView.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

class QPainter;
class Tape;

// Paints the cassette and the deck's door with QPainter alone (no widgets),
// so the same drawing serves the window, thumbnails and cover art under a
// plain GUI application. Coordinates are the cassette's own points, its
// top-left corner at 0, 0.
//
// The cassette is painted in three layers so that a spinning deck repaints
// only its spools' hubs: `paintBody` (shell, the window's smoked back and
// the tape packs), then `paintSpools` (the two hubs with their teeth), then
// `paintCover` (the paper label with its cut-out, screws and the window's
// gloss).
class CassettePainter {
public:
    static QSizeF tapeSize() { return {323, 204}; }
    static QRectF tapeRect() { return {QPointF(0, 0), tapeSize()}; }

    // The cut-out in the label through which the spools show.
    static QRectF windowRect();
    static QPointF leftSpoolCentre();
    static QPointF rightSpoolCentre();
    // What a spin tick changes: a spool's hub, and both of them.
    static QRectF hubRect(const QPointF& centre);
    static QRectF spoolsRect();

    static void paintBody(QPainter& painter);
    // Angles in radians, clockwise.
    static void paintSpools(QPainter& painter, double leftAngle, double rightAngle);
    // One hub, antialiased, turned `angle` radians clockwise about `centre`;
    // it stays inside hubRect(centre). Lit from a fixed side, it looks the
    // same after a third of a turn.
    static void paintHub(QPainter& painter, const QPointF& centre, double angle);
    static void paintCover(QPainter& painter, const MainTapeLabelView& label,
                           const NotesTapeLabelView& notes);
    static void paintCassette(QPainter& painter, const MainTapeLabelView& label,
                              const NotesTapeLabelView& notes, double leftAngle, double rightAngle);

    // The cassette alone on a transparent image of its size times `scale`,
    // with that device-pixel ratio.
    static QImage render(const MainTapeLabelView& label, const NotesTapeLabelView& notes,
                         double leftAngle = 0, double rightAngle = 0, double scale = 2.0);
    // A tape's cassette at twice its size: its cover art.
    static QImage renderTape(const Tape& tape);

    // The deck's well the cassette slides into, `size` being the whole view:
    // the panel around it and its dark back, drawn under the cassette...
    static void paintDoor(QPainter& painter, const QSizeF& size, const QRectF& well);
    // ...and the door's glass with the slogan printed on it, drawn over it.
    static void paintDoorGlass(QPainter& painter, const QRectF& well, const QString& slogan);
};

#include "app/deck/CassettePainter.h"

#include "app/library/Tape.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr qreal kShellRadius = 12;
constexpr qreal kHubRadius = 15;
constexpr qreal kHubHoleRadius = 10.5;
// The tape packs: most of the tape is wound on the left spool.
constexpr qreal kLeftPackRadius = 41;
constexpr qreal kRightPackRadius = 27;

QPainterPath shellPath() {
    QPainterPath path;
    path.addRoundedRect(CassettePainter::tapeRect().adjusted(0.5, 0.5, -0.5, -0.5), kShellRadius,
                        kShellRadius);
    return path;
}

QPainterPath windowPath() {
    const QRectF window = CassettePainter::windowRect();
    QPainterPath path;
    path.addRoundedRect(window, window.height() / 2, window.height() / 2);
    return path;
}

// The trapezoid at the foot of the shell where the heads meet the tape.
QPainterPath headAreaPath() {
    QPainterPath path;
    path.moveTo(58, 203.5);
    path.lineTo(72, 156);
    path.lineTo(251, 156);
    path.lineTo(265, 203.5);
    path.closeSubpath();
    return path;
}

void paintScrew(QPainter& painter, const QPointF& centre, double slotAngle) {
    QRadialGradient metal(centre + QPointF(-1.2, -1.2), 4.5);
    metal.setColorAt(0, QColor(0xe8, 0xe9, 0xec));
    metal.setColorAt(0.7, QColor(0x9a, 0x9c, 0xa2));
    metal.setColorAt(1, QColor(0x5c, 0x5e, 0x64));
    painter.setPen(QPen(QColor(0, 0, 0, 120), 0.6));
    painter.setBrush(metal);
    painter.drawEllipse(centre, 3.8, 3.8);
    painter.save();
    painter.translate(centre);
    painter.rotate(slotAngle);
    painter.setPen(QPen(QColor(0x3a, 0x3b, 0x40), 0.9, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(-2.4, 0), QPointF(2.4, 0));
    painter.drawLine(QPointF(0, -2.4), QPointF(0, 2.4));
    painter.restore();
}

void paintPack(QPainter& painter, const QPointF& centre, qreal radius) {
    QRadialGradient brown(centre, radius);
    brown.setColorAt(0, QColor(0x5a, 0x40, 0x2e));
    brown.setColorAt(0.75, QColor(0x47, 0x31, 0x22));
    brown.setColorAt(1, QColor(0x2c, 0x1d, 0x13));
    painter.setPen(Qt::NoPen);
    painter.setBrush(brown);
    painter.drawEllipse(centre, radius, radius);
    // The windings catch the light in faint rings.
    painter.setBrush(Qt::NoBrush);
    for (qreal r = kHubRadius + 3; r < radius - 1; r += 3.3) {
        painter.setPen(QPen(QColor(0xff, 0xe6, 0xc8, 14 + static_cast<int>(r) % 3 * 6), 0.6));
        painter.drawEllipse(centre, r, r);
    }
    painter.setPen(QPen(QColor(0, 0, 0, 110), 0.8));
    painter.drawEllipse(centre, radius, radius);
}

// The light stays where it is while the hub turns: only the teeth and the
// notches move, so the hub looks the same every third of a turn.
void paintHubAt(QPainter& painter, const QPointF& centre, double angle) {
    painter.save();
    painter.translate(centre);

    QRadialGradient plastic(QPointF(-4, -4), kHubRadius * 1.6);
    plastic.setColorAt(0, QColor(0xfb, 0xf9, 0xf3));
    plastic.setColorAt(1, QColor(0xc4, 0xbe, 0xb0));
    // The ring: the hole cut out by the even-odd rule (cheap enough for
    // every frame of the spin).
    QPainterPath ring;
    ring.setFillRule(Qt::OddEvenFill);
    ring.addEllipse(QPointF(0, 0), kHubRadius, kHubRadius);
    ring.addEllipse(QPointF(0, 0), kHubHoleRadius, kHubHoleRadius);
    painter.setPen(QPen(QColor(0, 0, 0, 120), 0.7));
    painter.setBrush(plastic);
    painter.drawPath(ring);

    // The hole shows the dark deck behind it.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x15, 0x15, 0x18));
    painter.drawEllipse(QPointF(0, 0), kHubHoleRadius - 0.2, kHubHoleRadius - 0.2);

    painter.rotate(angle * 180.0 / kPi);
    // Six teeth reaching into the hole, as the deck's spindle catches them.
    painter.setBrush(QColor(0xe6, 0xe1, 0xd5));
    painter.setPen(QPen(QColor(0, 0, 0, 90), 0.5));
    for (int tooth = 0; tooth < 6; ++tooth) {
        painter.save();
        painter.rotate(tooth * 60.0);
        painter.drawRect(QRectF(-1.6, -kHubHoleRadius - 0.3, 3.2, 4.2));
        painter.restore();
    }
    // Notches on the rim, so the turning shows on the outside too.
    painter.setPen(QPen(QColor(0x8c, 0x86, 0x78), 1.0));
    for (int notch = 0; notch < 3; ++notch) {
        painter.save();
        painter.rotate(notch * 120.0 + 30.0);
        painter.drawLine(QPointF(0, -kHubRadius + 0.6), QPointF(0, -kHubRadius + 3));
        painter.restore();
    }
    painter.restore();
}

} // namespace

QRectF CassettePainter::windowRect() {
    return {40, 63, 243, 52};
}

QPointF CassettePainter::leftSpoolCentre() {
    return {93, 89};
}

QPointF CassettePainter::rightSpoolCentre() {
    return {230, 89};
}

QRectF CassettePainter::hubRect(const QPointF& centre) {
    return {centre - QPointF(kHubRadius + 1, kHubRadius + 1),
            QSizeF(2 * kHubRadius + 2, 2 * kHubRadius + 2)};
}

QRectF CassettePainter::spoolsRect() {
    return hubRect(leftSpoolCentre()).united(hubRect(rightSpoolCentre()));
}

void CassettePainter::paintBody(QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shell = shellPath();

    // Smoked plastic, lit from above.
    QLinearGradient smoke(0, 0, 0, tapeSize().height());
    smoke.setColorAt(0, QColor(0x52, 0x55, 0x5e));
    smoke.setColorAt(0.5, QColor(0x36, 0x38, 0x3f));
    smoke.setColorAt(1, QColor(0x22, 0x23, 0x28));
    painter.fillPath(shell, smoke);

    // The head area at the foot, with its holes.
    const QPainterPath head = headAreaPath();
    QLinearGradient headFill(0, 156, 0, 204);
    headFill.setColorAt(0, QColor(0x2c, 0x2e, 0x34));
    headFill.setColorAt(1, QColor(0x1b, 0x1c, 0x20));
    painter.fillPath(head, headFill);
    painter.setPen(QPen(QColor(0xff, 0xff, 0xff, 40), 0.8));
    painter.drawLine(QPointF(72, 156.5), QPointF(251, 156.5));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x0c, 0x0c, 0x0e));
    painter.drawEllipse(QPointF(98, 186), 5.5, 5.5);
    painter.drawEllipse(QPointF(225, 186), 5.5, 5.5);
    painter.drawRect(QRectF(126, 183, 7, 7));
    painter.drawRect(QRectF(190, 183, 7, 7));
    painter.drawRoundedRect(QRectF(147, 178, 29, 13), 2, 2);
    // The tape running across the mouth.
    painter.fillRect(QRectF(74, 200.3, 175, 2.2), QColor(0x3e, 0x2a, 0x1c));

    // The window's back: darker smoke, shaded at the top.
    const QPainterPath window = windowPath();
    QLinearGradient back(0, windowRect().top(), 0, windowRect().bottom());
    back.setColorAt(0, QColor(0x0f, 0x10, 0x13));
    back.setColorAt(0.25, QColor(0x23, 0x25, 0x2b));
    back.setColorAt(1, QColor(0x33, 0x35, 0x3c));
    painter.fillPath(window, back);
    // The tape packs look the same at any angle, so they belong to the still
    // part; only the hubs turn.
    painter.save();
    painter.setClipPath(window, Qt::IntersectClip);
    paintPack(painter, leftSpoolCentre(), kLeftPackRadius);
    paintPack(painter, rightSpoolCentre(), kRightPackRadius);
    painter.restore();

    // Edge of the shell: a thin highlight inside a dark outline.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0, 0, 0, 200), 1.0));
    painter.drawPath(shell);
    QPainterPath inner;
    inner.addRoundedRect(tapeRect().adjusted(2, 2, -2, -2), kShellRadius - 1.5, kShellRadius - 1.5);
    painter.setPen(QPen(QColor(0xff, 0xff, 0xff, 45), 1.0));
    painter.drawPath(inner);
    painter.restore();
}

void CassettePainter::paintSpools(QPainter& painter, double leftAngle, double rightAngle) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    paintHubAt(painter, leftSpoolCentre(), leftAngle);
    paintHubAt(painter, rightSpoolCentre(), rightAngle);
    painter.restore();
}

void CassettePainter::paintHub(QPainter& painter, const QPointF& centre, double angle) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    paintHubAt(painter, centre, angle);
    painter.restore();
}

void CassettePainter::paintCover(QPainter& painter, const MainTapeLabelView& label,
                                 const NotesTapeLabelView& notes) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // The window's gloss and the clear pane between the spools.
    const QRectF window = windowRect();
    QLinearGradient gloss(window.topLeft(), QPointF(window.left() + 60, window.bottom()));
    gloss.setColorAt(0, QColor(255, 255, 255, 46));
    gloss.setColorAt(0.5, QColor(255, 255, 255, 10));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillPath(windowPath(), gloss);
    const QRectF pane(124, 72, 75, 34);
    painter.setPen(QPen(QColor(0xff, 0xff, 0xff, 70), 0.8));
    painter.setBrush(QColor(0xff, 0xff, 0xff, 12));
    painter.drawRoundedRect(pane, 2, 2);
    for (int tick = 0; tick <= 8; ++tick) {
        const qreal x = pane.left() + 7 + tick * (pane.width() - 14) / 8;
        const qreal length = tick % 4 == 0 ? 5 : 3;
        painter.drawLine(QPointF(x, pane.top()), QPointF(x, pane.top() + length));
    }

    // The paper label with its cut-out for the window.
    const QRectF labelRect = MainTapeLabelView::labelRect();
    QPainterPath paper;
    paper.addRoundedRect(labelRect, 6, 6);
    QPainterPath cutOut;
    cutOut.addRoundedRect(window, window.height() / 2, window.height() / 2);
    paper = paper.subtracted(cutOut);
    QLinearGradient paperFill(labelRect.topLeft(), labelRect.bottomLeft());
    paperFill.setColorAt(0, QColor(0xfc, 0xfa, 0xf2));
    paperFill.setColorAt(1, QColor(0xe9, 0xe3, 0xd2));
    painter.fillPath(paper, paperFill);
    painter.setPen(QPen(QColor(0, 0, 0, 70), 0.8));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(paper);
    // The cut-out's edge throws a little shadow into the window.
    painter.setPen(QPen(QColor(0, 0, 0, 90), 1.6));
    painter.drawPath(cutOut.translated(0, 0.8));

    label.paint(painter);
    NotesTapeLabelView accented = notes;
    accented.setAccentColor(label.tapeLetter()->colorScheme()
                                ? label.tapeLetter()->colorScheme()->titleColor()
                                : QColor(Qt::red));
    accented.paint(painter);

    paintScrew(painter, QPointF(8, 8), 20);
    paintScrew(painter, QPointF(315, 8), 65);
    paintScrew(painter, QPointF(8, 196), 110);
    paintScrew(painter, QPointF(315, 196), 35);
    paintScrew(painter, QPointF(161.5, 167), 80);
    painter.restore();
}

void CassettePainter::paintCassette(QPainter& painter, const MainTapeLabelView& label,
                                    const NotesTapeLabelView& notes, double leftAngle,
                                    double rightAngle) {
    paintBody(painter);
    paintSpools(painter, leftAngle, rightAngle);
    paintCover(painter, label, notes);
}

QImage CassettePainter::render(const MainTapeLabelView& label, const NotesTapeLabelView& notes,
                               double leftAngle, double rightAngle, double scale) {
    if (!(scale > 0) || !std::isfinite(scale)) {
        scale = 1.0;
    }
    const QSize pixels(static_cast<int>(std::ceil(tapeSize().width() * scale)),
                       static_cast<int>(std::ceil(tapeSize().height() * scale)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintCassette(painter, label, notes, leftAngle, rightAngle);
    painter.end();
    return image;
}

QImage CassettePainter::renderTape(const Tape& tape) {
    MainTapeLabelView label;
    label.setTitle(tape.title());
    label.setDate(tape.date());
    label.setDuration(tape.duration());
    label.setQuality(tape.quality());
    label.setTapeLetter(tape.tapeLetter());
    NotesTapeLabelView notes;
    notes.setNotes(tape.notesForCover());
    return render(label, notes, 0, 0, 2.0);
}

void CassettePainter::paintDoor(QPainter& painter, const QSizeF& size, const QRectF& well) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // The deck's panel around the well.
    QLinearGradient panel(0, 0, 0, size.height());
    panel.setColorAt(0, QColor(0x4a, 0x4c, 0x52));
    panel.setColorAt(1, QColor(0x2a, 0x2b, 0x2f));
    painter.fillRect(QRectF(QPointF(0, 0), size), panel);

    // The well: sunk into the panel, darkest at its top edge.
    const QRectF rim = well.adjusted(-3, -3, 3, 3);
    QPainterPath rimPath;
    rimPath.addRoundedRect(rim, kShellRadius + 3, kShellRadius + 3);
    painter.setPen(QPen(QColor(0xff, 0xff, 0xff, 55), 1.0));
    painter.setBrush(QColor(0x14, 0x15, 0x17));
    painter.drawPath(rimPath.translated(0, 0.8));
    QLinearGradient depth(0, well.top(), 0, well.bottom());
    depth.setColorAt(0, QColor(0x06, 0x06, 0x07));
    depth.setColorAt(0.2, QColor(0x16, 0x17, 0x1a));
    depth.setColorAt(1, QColor(0x1f, 0x20, 0x24));
    QPainterPath wellPath;
    wellPath.addRoundedRect(well, kShellRadius, kShellRadius);
    painter.fillPath(wellPath, depth);
    // The spindles that catch the spools' teeth.
    painter.setPen(Qt::NoPen);
    for (const QPointF& spool : {leftSpoolCentre(), rightSpoolCentre()}) {
        const QPointF centre = well.topLeft() + spool;
        QRadialGradient metal(centre + QPointF(-2, -2), 8);
        metal.setColorAt(0, QColor(0x9a, 0x9c, 0xa3));
        metal.setColorAt(1, QColor(0x3a, 0x3b, 0x40));
        painter.setBrush(metal);
        painter.drawEllipse(centre, 7, 7);
    }
    painter.restore();
}

void CassettePainter::paintDoorGlass(QPainter& painter, const QRectF& well, const QString& slogan) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QPainterPath glass;
    glass.addRoundedRect(well, kShellRadius, kShellRadius);
    painter.setClipPath(glass, Qt::IntersectClip);
    // A broad reflection across the upper left of the pane.
    QPainterPath sheen;
    sheen.moveTo(well.topLeft());
    sheen.lineTo(well.left() + well.width() * 0.62, well.top());
    sheen.lineTo(well.left() + well.width() * 0.30, well.bottom());
    sheen.lineTo(well.left(), well.bottom());
    sheen.closeSubpath();
    QLinearGradient light(well.topLeft(), well.bottomLeft());
    light.setColorAt(0, QColor(255, 255, 255, 34));
    light.setColorAt(1, QColor(255, 255, 255, 4));
    painter.fillPath(sheen, light);
    painter.setPen(QPen(QColor(255, 255, 255, 60), 1.0));
    painter.drawLine(QPointF(well.left() + kShellRadius, well.top() + 0.5),
                     QPointF(well.right() - kShellRadius, well.top() + 0.5));

    // The slogan, printed along the foot of the pane.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(7);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    painter.setFont(font);
    painter.setPen(QColor(0xe4, 0xe6, 0xea, 190));
    painter.drawText(QRectF(well.left(), well.bottom() - 10, well.width(), 9),
                     Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine, slogan);
    painter.restore();
}

#include "app/deck/NotesTapeLabelView.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QPainter>

namespace {

QFont notesFont(int pixelSize, bool bold = false, bool italic = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

} // namespace

QString NotesTapeLabelView::collapsed(const QString& notes) {
    QString line = notes;
    // A CR LF pair is one line break.
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar& c : line) {
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator) {
            c = u' ';
        }
    }
    return line;
}

bool NotesTapeLabelView::showsPlaceholder() const {
    return collapsed(mNotes).isEmpty();
}

QString NotesTapeLabelView::displayText() const {
    return showsPlaceholder() ? QCoreApplication::translate("TapeView", "Click to edit")
                              : collapsed(mNotes);
}

QRectF NotesTapeLabelView::rect() {
    return {22, 119, 279, 22};
}

QRectF NotesTapeLabelView::editControlRect() {
    return rect();
}

void NotesTapeLabelView::paint(QPainter& painter) const {
    painter.save();
    const QRectF strip = rect();
    const QFont heading = notesFont(8, true);
    painter.setFont(heading);
    painter.setPen(mAccentColor);
    const QString title = QCoreApplication::translate("TapeView", "NOTES");
    const qreal headingWidth = QFontMetricsF(heading).horizontalAdvance(title);
    painter.drawText(QRectF(strip.left(), strip.top(), headingWidth + 2, strip.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, title);

    // The line the notes are written on.
    const qreal textLeft = strip.left() + headingWidth + 8;
    painter.setPen(
        QPen(QColor(mAccentColor.red(), mAccentColor.green(), mAccentColor.blue(), 110), 0.8));
    painter.drawLine(QPointF(textLeft, strip.bottom() - 4),
                     QPointF(strip.right(), strip.bottom() - 4));

    const bool placeholder = showsPlaceholder();
    const QFont text = notesFont(10, false, placeholder);
    painter.setFont(text);
    painter.setPen(placeholder ? QColor(0x8c, 0x88, 0x7e) : QColor(0x2e, 0x2d, 0x2a));
    const QRectF textBox(textLeft + 2, strip.top(), strip.right() - textLeft - 2,
                         strip.height() - 4);
    painter.drawText(
        textBox, Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine,
        QFontMetricsF(text).elidedText(displayText(), Qt::ElideRight, textBox.width()));
    painter.restore();
}

#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

// The notes strip at the foot of the cassette label: the heading "NOTES"
// and the notes on one line, or an italic "Click to edit" when there are
// none. The whole strip is its edit control. A painting helper in the
// cassette's coordinates, like the main label.
class NotesTapeLabelView {
public:
    QString notes() const { return mNotes; }
    void setNotes(const QString& notes) { mNotes = notes; }
    // The heading and rule take the title colour of the tape's scheme.
    void setAccentColor(const QColor& color) { mAccentColor = color; }

    // The notes on one line: every line break becomes one space.
    static QString collapsed(const QString& notes);
    // What the strip shows: the collapsed notes, or the placeholder.
    QString displayText() const;
    bool showsPlaceholder() const;

    static QRectF rect();
    static QRectF editControlRect();
    bool editPressed(const QPointF& point) const { return editControlRect().contains(point); }

    void paint(QPainter& painter) const;

private:
    QString mNotes;
    QColor mAccentColor = Qt::red;
};

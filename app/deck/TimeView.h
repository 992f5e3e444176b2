#pragma once

#include <QHash>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QWidget>

// The tape time as minutes, seconds and hundredths ("1:23.45") on a
// seven-segment readout. Clicks are swallowed.
class TimeView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double time READ time WRITE setTime)

public:
    explicit TimeView(QWidget* parent = nullptr);

    static QSize frameSize() { return {100, 20}; }

    // Milliseconds.
    double time() const { return mTime; }
    void setTime(double time);

    // "%d:%02d.%02d" of minutes, seconds and hundredths, worked out in single
    // precision. Negative and NaN times show as 0:00.00.
    static QString timeStringForTime(double time);
    QString timeString() const { return mTimeString; }
    void refreshTime();

    QSize sizeHint() const override { return frameSize(); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Room around a glyph's cell for its slant and glow, in pixels.
    static constexpr double kGlyphMargin = 4.0;
    void paintReadout(QPainter& painter);
    static void paintGlyph(QPainter& painter, QChar c, bool dark, double x, double top);
    const QPixmap& glyphImage(QChar c, bool dark, double top, double baseline);

    double mTime = 0.0;
    QString mTimeString;
    QHash<QString, QPixmap> mGlyphs;
    qreal mGlyphRatio = 0;
};

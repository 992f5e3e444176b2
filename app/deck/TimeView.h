#pragma once

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
    double mTime = 0.0;
    QString mTimeString;
};

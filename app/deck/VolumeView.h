#pragma once

#include "app/deck/ClickableHUDSubview.h"

#include <QColor>
#include <QRectF>
#include <QSize>

// The playback volume: "VOL" and six bars of rising height, lit from the
// first. Pressing or dragging over a bar sets its volume.
class VolumeView : public ClickableHUDSubview {
    Q_OBJECT
    Q_PROPERTY(double volume READ volume WRITE setVolume NOTIFY volumeChanged)

public:
    static constexpr int BarCount = 6;

    explicit VolumeView(QWidget* parent = nullptr);

    static QSize frameSize() { return {65, 16}; }

    // Decibels; 0 is unity gain.
    double volume() const { return mVolume; }
    void setVolume(double volume);

    // Bars 0..5 stand for -25, -20, -15, -10, -5 and 0 dB; any other index
    // is an internal inconsistency.
    static double volumeForIndex(int index);
    // Bars lit for a volume: six steps of 5 dB from -30 to 0, the nearest
    // step (ties to even), clamped to 0..6.
    static int litBarsForVolume(double volume);
    int litBars() const { return mLitBars; }
    QColor barColor(int index) const;
    // The bar's hit rectangle (the full height of the view).
    static QRectF barRect(int index);
    // Sets the volume of the bar under `point`; a point in no bar changes
    // nothing. Returns whether a bar was hit.
    bool setVolumeForPoint(const QPointF& point);
    void refreshVolume();

    QSize sizeHint() const override { return frameSize(); }

    // One bar's worth (5 dB) louder or quieter, between the quietest and the
    // loudest bar a click gives.
    void stepBy(int steps) override;

signals:
    void volumeChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    double mVolume = 0.0;
    int mLitBars = BarCount;
};

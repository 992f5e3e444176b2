#pragma once

#include <QColor>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class HUDHighlightView;
class LevelView;
class PositionView;
class QPainter;
class QualityView;
class StereoView;
class TimeView;
class VolumeView;

// The deck's display panel: recording quality, stereo or mono, input levels,
// playback volume, tape time and tape position on black glass. The deck
// controller pushes values in; the user's clicks change quality, stereo,
// volume and position, announced through the change signals. The panel never
// calls the audio engine.
class HUDView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double time READ time WRITE setTime)                                    // ms
    Q_PROPERTY(double position READ position WRITE setPosition NOTIFY positionChanged) // ms
    Q_PROPERTY(double maxTime READ maxTime WRITE setMaxTime)                           // ms
    Q_PROPERTY(bool stereo READ stereo WRITE setStereo NOTIFY stereoChanged)
    Q_PROPERTY(QString quality READ quality WRITE setQuality NOTIFY qualityChanged)
    Q_PROPERTY(double volume READ volume WRITE setVolume NOTIFY volumeChanged) // dB

public:
    explicit HUDView(QWidget* parent = nullptr);

    double time() const;
    void setTime(double time);
    double position() const;
    void setPosition(double position);
    double maxTime() const;
    void setMaxTime(double maxTime);
    bool stereo() const;
    void setStereo(bool stereo);
    // Throws InternalInconsistencyException when the quality display's
    // selection lies beyond its items.
    QString quality() const;
    void setQuality(const QString& quality);
    double volume() const;
    void setVolume(double volume);

    std::array<double, 2> levels() const;
    // dB; -inf and -100 mean silence.
    void setLevels(double left, double right);

    // Recording makes quality, stereo and position read-only, and runs a
    // pattern along the position bar.
    void setRecordingMode(bool recording);
    bool recordingMode() const { return mRecordingMode; }

    // Asked when the user picks STEREO: can the recording device record
    // stereo? Without one, it can.
    void setStereoCapabilityQuery(std::function<bool()> query);
    // Shows the "Mono Recording Only" alert; by default a modal warning box.
    void setAlertPresenter(
        std::function<void(const QString& message, const QString& informativeText)> presenter);

    QualityView* qualityView() const { return mQualityView; }
    StereoView* stereoView() const { return mStereoView; }
    LevelView* levelView() const { return mLevelView; }
    VolumeView* volumeView() const { return mVolumeView; }
    TimeView* timeView() const { return mTimeView; }
    PositionView* positionView() const { return mPositionView; }
    HUDHighlightView* upperHighlightView() const { return mUpperHighlight; }
    HUDHighlightView* lowerHighlightView() const { return mLowerHighlight; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static QColor backgroundColor();
    static QColor inactiveColor();
    static QColor activeColor();
    static QColor inactiveRecordColor();
    static QColor activeRecordColor();

    // The time and the position change while the tape runs: they paint their
    // own patch of the panel, the glass behind them and the gloss over them,
    // so that their repaints reach no view beneath or above them. For any
    // other display, and outside a HUD, these paint nothing.
    static void paintGlassBehind(const QWidget& display, QPainter& painter);
    static void paintGlossOver(const QWidget& display, QPainter& painter);

signals:
    void positionChanged();
    void stereoChanged();
    void qualityChanged();
    void volumeChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void paintGlass(QPainter& painter) const;

private:
    static HUDView* panelPaintedBy(const QWidget& display);
    const QPixmap& glass();
    void layoutSubviews();
    QRectF panelRect() const;

    QualityView* mQualityView;
    StereoView* mStereoView;
    LevelView* mLevelView;
    VolumeView* mVolumeView;
    TimeView* mTimeView;
    PositionView* mPositionView;
    HUDHighlightView* mUpperHighlight;
    HUDHighlightView* mLowerHighlight;
    bool mRecordingMode = false;
    QPixmap mGlassCache;
};

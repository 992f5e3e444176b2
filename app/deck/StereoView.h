#pragma once

#include "app/deck/ClickableHUDSubview.h"

#include <QRectF>
#include <QSize>
#include <QStringList>

#include <functional>

// Stereo or mono recording: "STEREO" and "MONO", one of them lit. It
// follows the "RecordingIsStereo" default; a click outside recording mode
// stores the choice there. Stereo is refused, with an alert, when the
// recording device records only mono.
class StereoView : public ClickableHUDSubview {
    Q_OBJECT
    Q_PROPERTY(bool stereo READ stereo WRITE setStereo NOTIFY stereoChanged)

public:
    static constexpr int ItemCount = 2;
    using CapabilityQuery = std::function<bool()>;
    using AlertPresenter =
        std::function<void(const QString& message, const QString& informativeText)>;

    explicit StereoView(QWidget* parent = nullptr);

    static QSize frameSize() { return {112, 16}; }

    bool stereo() const { return mStereo; }
    void setStereo(bool stereo);

    // Index 0 is "STEREO", 1 is "MONO".
    int selectedIndex() const { return mStereo ? 0 : 1; }
    QStringList stereoLayers() const { return mLabels; }
    QRectF itemRect(int index) const;
    int itemAtPoint(const QPointF& point) const;

    // Asked when the user picks stereo; without one, stereo is allowed.
    void setStereoCapabilityQuery(CapabilityQuery query) { mCanRecordStereo = std::move(query); }
    // Shows the mono-only alert; without one, a modal warning box.
    void setAlertPresenter(AlertPresenter presenter) { mPresentAlert = std::move(presenter); }

    // What a click on item `index` does outside recording mode.
    void chooseItem(int index);

    QSize sizeHint() const override { return frameSize(); }

    void stepBy(int steps) override;

signals:
    void stereoChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void presentMonoOnlyAlert();

    QStringList mLabels;
    bool mStereo = true;
    CapabilityQuery mCanRecordStereo;
    AlertPresenter mPresentAlert;
};

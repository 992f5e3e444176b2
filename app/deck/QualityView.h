#pragma once

#include "app/deck/ClickableHUDSubview.h"

#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

// The recording quality: "HQ", "MQ" and "LQ", one of them lit. It follows
// the "RecordingQuality" default; a click outside recording mode stores the
// clicked quality there.
class QualityView : public ClickableHUDSubview {
    Q_OBJECT
    Q_PROPERTY(QString quality READ quality WRITE setQuality NOTIFY qualityChanged)

public:
    static constexpr int ItemCount = 3;

    explicit QualityView(QWidget* parent = nullptr);

    static QSize frameSize() { return {79, 16}; }

    // The selected item's quality; throws InternalInconsistencyException when
    // the selection lies beyond the items.
    QString quality() const;
    // Selects the first item carrying `quality`; a quality no item carries
    // changes nothing.
    void setQuality(const QString& quality);

    int selectedQuality() const { return mSelectedQuality; }
    void setSelectedQuality(int index);

    // The items' labels, index 0 to 2 ("HQ", "MQ", "LQ").
    QStringList qualityLayers() const { return mLabels; }
    // The quality level an item stands for.
    QString qualityForItem(int index) const;
    // Where item `index` lies, in the view's coordinates.
    QRectF itemRect(int index) const;
    // The item under `point`, or -1.
    int itemAtPoint(const QPointF& point) const;

    QSize sizeHint() const override { return frameSize(); }

    void stepBy(int steps) override;

signals:
    void qualityChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // What a click on item `index` does: that quality becomes the setting.
    void chooseItem(int index);

    QStringList mLabels;
    QStringList mQualities;
    int mSelectedQuality = 0;
};

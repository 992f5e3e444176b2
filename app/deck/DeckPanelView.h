#pragma once

#include <QPixmap>
#include <QWidget>

// The deck's face: dark anodised metal with a fine brushed grain, lit from
// above. The grain is one tile made once per device-pixel ratio.
class DeckPanelView : public QWidget {
    Q_OBJECT

public:
    explicit DeckPanelView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QPixmap& grainTile(qreal ratio);

    QPixmap mGrain;
};

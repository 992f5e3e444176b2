#pragma once

#include <QPixmap>
#include <QWidget>

// A gloss overlay over the HUD's glass: the bright sheen over the upper
// part, or the faint reflection along the lower edge. It lets every click
// through to the displays underneath.
class HUDHighlightView : public QWidget {
    Q_OBJECT

public:
    enum class Placement { Upper, Lower };

    explicit HUDHighlightView(Placement placement, QWidget* parent = nullptr);

    Placement placement() const { return mPlacement; }
    // Corner radius of the glass the overlay lies on, in pixels.
    void setCornerRadius(double radius);
    double cornerRadius() const { return mCornerRadius; }
    // The gloss as this view paints it, for displays that paint their own.
    const QPixmap& gloss();

protected:
    void paintEvent(QPaintEvent* event) override;
    void paintGloss(QPainter& painter) const;

private:
    Placement mPlacement;
    double mCornerRadius = 6.0;
    QPixmap mCache;
};

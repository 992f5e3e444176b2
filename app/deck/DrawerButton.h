#pragma once

#include <QAbstractButton>

// A narrow grip at the side of the deck that opens and closes the tape box
// drawer. Its arrow points the way the drawer will move.
class DrawerButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit DrawerButton(QWidget* parent = nullptr);

    // Whether the drawer is open now (the arrow then points to close it).
    void setDrawerOpen(bool open);
    bool isDrawerOpen() const { return mDrawerOpen; }

    QSize sizeHint() const override { return {12, 120}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool mDrawerOpen = true;
    bool mHovered = false;
};

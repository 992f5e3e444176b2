#pragma once

#include <QWidget>

// A HUD display that takes clicks: the pointer turns into a pointing hand
// over it, and its presses never reach the window behind the display. It
// takes the keyboard focus too (shown by a ring): the arrow keys step its
// choice down (Left, Down) or up (Right, Up), Home and End go to its ends.
class ClickableHUDSubview : public QWidget {
    Q_OBJECT

public:
    explicit ClickableHUDSubview(QWidget* parent = nullptr);

    // In recording mode the display is read-only: no borders, clicks ignored.
    void setRecordingMode(bool recording);
    bool recordingMode() const { return mRecordingMode; }

    // The keyboard's steps (also the menus'); a display that has nothing
    // to step ignores them.
    virtual void stepBy(int /*steps*/) {}
    virtual void stepToEnd(bool /*end*/) {}

protected:
    virtual void recordingModeChanged() { update(); }
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool mRecordingMode = false;
};

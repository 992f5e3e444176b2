#pragma once

#include <QWidget>

// A HUD display that takes clicks: the pointer turns into a pointing hand
// over it, and its presses never reach the window behind the display.
class ClickableHUDSubview : public QWidget {
    Q_OBJECT

public:
    explicit ClickableHUDSubview(QWidget* parent = nullptr);

    // In recording mode the display is read-only: no borders, clicks ignored.
    void setRecordingMode(bool recording);
    bool recordingMode() const { return mRecordingMode; }

protected:
    virtual void recordingModeChanged() { update(); }
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool mRecordingMode = false;
};

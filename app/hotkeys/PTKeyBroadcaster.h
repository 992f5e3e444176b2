#pragma once

#include "app/hotkeys/PTKeyCombo.h"

#include <QPushButton>

// A button that captures keystrokes: while it has the focus, every key
// pressed with it (shortcuts included, which it claims) becomes a
// PTKeyCombo, broadcast through `keyEvent`. Modifier keys alone are not a
// combination; a key that has no place in our key table is broadcast as
// `unknownKeyPressed`. Escape alone is no combination either: it asks to
// cancel (`cancelRequested`).
class PTKeyBroadcaster : public QPushButton {
    Q_OBJECT

public:
    explicit PTKeyBroadcaster(QWidget* parent = nullptr);

    // The combination of a key event: its physical key's virtual key code
    // and its modifiers (Ctrl → command, Alt → option, Super → control,
    // Shift → shift; keypad keys have codes of their own). The clear combination for a
    // modifier key alone or a key without a virtual key code.
    static PTKeyCombo keyComboForEvent(const QKeyEvent& event);

signals:
    void keyEvent(const PTKeyCombo& keyCombo);
    void unknownKeyPressed();
    void cancelRequested();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

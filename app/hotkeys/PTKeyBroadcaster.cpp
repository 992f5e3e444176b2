#include "app/hotkeys/PTKeyBroadcaster.h"

#include "platform/desktop/KeyCodeTable.h"

#include <QKeyEvent>

namespace {

bool isModifierKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return true;
    default:
        return false;
    }
}

} // namespace

PTKeyBroadcaster::PTKeyBroadcaster(QWidget* parent) : QPushButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAutoDefault(false);
    setDefault(false);
}

PTKeyCombo PTKeyBroadcaster::keyComboForEvent(const QKeyEvent& event) {
    if (isModifierKey(event.key())) {
        return {};
    }
    const auto keyCode = KeyCodeTable::virtualKeyCodeForEvent(event.nativeScanCode(), event.key());
    if (!keyCode) {
        return {};
    }
    const Qt::KeyboardModifiers flags = event.modifiers();
    int modifiers = 0;
    if (flags & Qt::ControlModifier) {
        modifiers |= PTKeyCombo::kCommandModifier;
    }
    if (flags & Qt::AltModifier) {
        modifiers |= PTKeyCombo::kOptionModifier;
    }
    if (flags & Qt::MetaModifier) {
        modifiers |= PTKeyCombo::kControlModifier;
    }
    if (flags & Qt::ShiftModifier) {
        modifiers |= PTKeyCombo::kShiftModifier;
    }
    return {*keyCode, modifiers};
}

bool PTKeyBroadcaster::event(QEvent* event) {
    // Claim every shortcut, so Ctrl+Q or Ctrl+W are captured, not acted on.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QPushButton::event(event);
}

void PTKeyBroadcaster::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (isModifierKey(event->key())) {
        return;
    }
    if (event->key() == Qt::Key_Escape && !(event->modifiers() & ~Qt::KeypadModifier)) {
        emit cancelRequested();
        return;
    }
    const PTKeyCombo combo = keyComboForEvent(*event);
    if (combo.isClearCombo()) {
        emit unknownKeyPressed();
        return;
    }
    emit keyEvent(combo);
}

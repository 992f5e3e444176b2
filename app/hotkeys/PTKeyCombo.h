#pragma once

#include <QKeySequence>
#include <QString>
#include <QVariant>

// A key combination for a global hot key: a virtual key code (the physical
// key's position, as the defaults store it) and modifier bits (command
// 0x0100, shift 0x0200, option 0x0800, control 0x1000). Both are -1 for the
// clear combination. A value type: copies are equal and independent.
class PTKeyCombo {
public:
    static constexpr int kCommandModifier = 0x0100;
    static constexpr int kShiftModifier = 0x0200;
    static constexpr int kOptionModifier = 0x0800;
    static constexpr int kControlModifier = 0x1000;
    static constexpr int kFunctionModifier = 0x8000;

    // The clear combination.
    PTKeyCombo() = default;
    PTKeyCombo(int keyCode, int modifiers) : mKeyCode(keyCode), mModifiers(modifiers) {}
    static PTKeyCombo clearKeyCombo() { return {}; }

    // The stored form: a map with the integers "keyCode" and "modifiers". A
    // missing or empty map is the clear combination; a value of 0 or less (a
    // missing or unreadable entry reads as 0) becomes -1.
    static PTKeyCombo withPlistRepresentation(const QVariant& plist);
    QVariantMap plistRepresentation() const;

    int keyCode() const { return mKeyCode; }
    int modifiers() const { return mModifiers; }
    bool isValidHotKeyCombo() const { return mKeyCode >= 0 && mModifiers > 0; }
    bool isClearCombo() const { return mKeyCode == -1 && mModifiers == -1; }

    // "Ctrl+Shift+7": command shows as Ctrl, option as Alt, control as Super,
    // shift as Shift, then the key's name; "(None)" when not valid.
    QString description() const;
    // The key's name ("7", "F5", "Num+3"); empty for the clear combination.
    QString keyCodeString() const;
    // The modifiers as Qt's; none for the clear combination.
    Qt::KeyboardModifiers modifierMask() const;
    // The combination as a key sequence for menus; empty when not valid or
    // when the key has no Qt key.
    QKeySequence keySequence() const;

    friend bool operator==(const PTKeyCombo&, const PTKeyCombo&) = default;

private:
    int mKeyCode = -1;
    int mModifiers = -1;
};

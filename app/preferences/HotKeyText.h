#pragma once

#include <QString>
#include <QVariant>

// Key combinations as stored in the defaults: a map with the integers
// "keyCode" (the original platform's virtual key code) and "modifiers"
// (command 0x0100, shift 0x0200, option 0x0800, control 0x1000).
namespace HotKeyText {

constexpr int kCommandModifier = 0x0100;
constexpr int kShiftModifier = 0x0200;
constexpr int kOptionModifier = 0x0800;
constexpr int kControlModifier = 0x1000;

// The stored form of a combination.
QVariantMap plist(int keyCode, int modifiers);

// The name of a key ("7", "F5", "Left", "Num+3"); "%X" of the code for a
// key the table does not know.
QString keyName(int keyCode);

// A stored combination the Linux way ("Ctrl+Shift+7"): command shows as Ctrl,
// option as Alt, control as Super, shift as Shift. A missing or cleared
// combination, or one without a key or modifiers, shows as "(None)".
QString description(const QVariant& stored);

} // namespace HotKeyText

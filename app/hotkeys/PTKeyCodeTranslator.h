#pragma once

#include <QString>

#include <memory>

struct xcb_connection_t;
struct _XCBKeySymbols;

// What a key produces in the keyboard layout of the X server, for naming
// keys the way the user sees them: on a German layout the key at Y's place
// is named "Z". Keys without a printable character (function keys, arrows,
// the keypad) are named from our own table. Without an X11 connection (a
// Wayland session, the offscreen platform) names follow a US layout.
class PTKeyCodeTranslator {
public:
    // The translator of the application's X connection; replaced when the
    // server's keyboard mapping changes.
    static PTKeyCodeTranslator& currentTranslator();
    // Forgets the layout, so the next name is read from the server again.
    static void keyboardMappingDidChange();
    // The key's name in the layout of this moment, read from the server
    // afresh (a layout switched with setxkbmap announces nothing to us).
    static QString keyNameInCurrentLayout(int virtualKeyCode);

    explicit PTKeyCodeTranslator(xcb_connection_t* connection);
    ~PTKeyCodeTranslator();
    PTKeyCodeTranslator(const PTKeyCodeTranslator&) = delete;
    PTKeyCodeTranslator& operator=(const PTKeyCodeTranslator&) = delete;

    // The character the key at `virtualKeyCode`'s place types without
    // modifiers; a null QChar when it types none or the layout is unknown.
    QChar translateKeyCode(int virtualKeyCode) const;
    // The name shown for the key: its character in upper case, or the
    // table's name ("F5", "Left", "Num+3", "Space").
    QString keyName(int virtualKeyCode) const;
    QString description() const;

private:
    xcb_connection_t* mConnection = nullptr;
    _XCBKeySymbols* mKeySymbols = nullptr;
};

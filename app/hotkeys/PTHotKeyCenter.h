#pragma once

#include "app/hotkeys/PTHotKey.h"

#include <QAbstractNativeEventFilter>
#include <QList>
#include <QMap>
#include <QString>

#include <memory>

struct xcb_connection_t;

// Registers global hot keys with the X server: each is a passive grab of its
// key and modifiers on the root window (also with Caps Lock and Num Lock
// on), and its presses arrive through Qt's native event filter, whichever
// window has the focus. Without an X11 connection (a Wayland session, the
// offscreen platform) no hot key can be registered and `unavailableReason`
// says why. Main thread only.
class PTHotKeyCenter : public QAbstractNativeEventFilter {
public:
    static PTHotKeyCenter& sharedCenter();

    // A center on the given connection (the application's by default).
    explicit PTHotKeyCenter(xcb_connection_t* connection);
    ~PTHotKeyCenter() override;

    bool isAvailable() const;
    // Why hot keys cannot work here; empty when they can.
    QString unavailableReason() const;

    // Registers `hotKey` (unregistering it first when it already is). A
    // combination that is not valid registers nothing and succeeds. False
    // when the server refuses the grab (another program holds it, or the
    // key does not exist there), with the reason in `error`; the hot key is
    // then not registered and the numbering still moves on.
    bool registerHotKey(PTHotKey& hotKey, QString* error = nullptr);
    void unregisterHotKey(PTHotKey& hotKey);

    QList<PTHotKey*> allHotKeys() const;
    PTHotKey* hotKeyWithIdentifier(const QString& identifier) const;

    // Runs the hot key grabbed for an X11 key press (key code and the
    // event's modifier state); false when none is.
    bool dispatchKeyPress(uint8_t x11KeyCode, uint16_t state);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    bool grab(uint8_t keyCode, uint16_t modifiers, const QString& name, QString* error);
    void ungrab(uint8_t keyCode, uint16_t modifiers);
    void installEventHandler();

    xcb_connection_t* mConnection = nullptr;
    uint32_t mRoot = 0;
    QMap<uint32_t, PTHotKey*> mHotKeys;
    uint32_t mHotKeyCount = 0;
    bool mEventHandlerInstalled = false;
    // The key codes that are down, so a held key (auto-repeat) acts once.
    QList<uint8_t> mKeysDown;
};

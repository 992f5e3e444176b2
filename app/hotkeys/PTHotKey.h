#pragma once

#include "app/hotkeys/PTKeyCombo.h"

#include <QString>

#include <cstdint>
#include <functional>

class PTHotKeyCenter;

// One global hot key: an identity ("Record", "Pause", "Stop"), a display
// name, a key combination and the action run when it is pressed. The
// registration fields are kept by PTHotKeyCenter.
class PTHotKey {
public:
    PTHotKey(QString identifier, QString name, PTKeyCombo keyCombo = {},
             std::function<void()> action = {});
    // A registered hot key is unregistered first.
    ~PTHotKey();
    PTHotKey(const PTHotKey&) = delete;
    PTHotKey& operator=(const PTHotKey&) = delete;

    const QString& identifier() const { return mIdentifier; }
    const QString& name() const { return mName; }
    void setName(const QString& name) { mName = name; }
    const PTKeyCombo& keyCombo() const { return mKeyCombo; }
    void setKeyCombo(const PTKeyCombo& combo) { mKeyCombo = combo; }
    void setAction(std::function<void()> action) { mAction = std::move(action); }

    // Runs the action (nothing when there is none).
    void invoke() const;

    // The center's registration number; 0 when not registered. Numbers are
    // never reused within a run.
    uint32_t hotKeyID() const { return mHotKeyID; }
    bool isRegistered() const { return mHotKeyID != 0; }

    QString description() const;

private:
    friend class PTHotKeyCenter;

    QString mIdentifier;
    QString mName;
    PTKeyCombo mKeyCombo;
    std::function<void()> mAction;
    uint32_t mHotKeyID = 0;
    PTHotKeyCenter* mCenter = nullptr;
    // The grabbed X11 key code and modifier mask while registered.
    uint8_t mGrabbedKeyCode = 0;
    uint16_t mGrabbedModifiers = 0;
};

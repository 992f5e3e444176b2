#include "app/hotkeys/PTHotKeyCenter.h"

#include "app/hotkeys/PTKeyCodeTranslator.h"
#include "platform/desktop/KeyCodeTable.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

// The modifiers a hot key is made of, in X11's masks.
constexpr uint16_t kHotKeyModifierMask =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
// Caps Lock and Num Lock must not stop a hot key: each is grabbed with
// every combination of them.
constexpr uint16_t kLockModifiers[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                       XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr uint8_t kBadAccess = 10;

uint16_t x11Modifiers(int modifiers) {
    uint16_t mask = 0;
    if (modifiers & PTKeyCombo::kCommandModifier) {
        mask |= XCB_MOD_MASK_CONTROL;
    }
    if (modifiers & PTKeyCombo::kShiftModifier) {
        mask |= XCB_MOD_MASK_SHIFT;
    }
    if (modifiers & PTKeyCombo::kOptionModifier) {
        mask |= XCB_MOD_MASK_1;
    }
    if (modifiers & PTKeyCombo::kControlModifier) {
        mask |= XCB_MOD_MASK_4;
    }
    return mask;
}

xcb_connection_t* applicationConnection() {
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        return x11->connection();
    }
    return nullptr;
}

QString tr(const char* text) {
    return QCoreApplication::translate("PTHotKeyCenter", text);
}

} // namespace

PTHotKeyCenter& PTHotKeyCenter::sharedCenter() {
    static PTHotKeyCenter* center = new PTHotKeyCenter(applicationConnection());
    return *center;
}

PTHotKeyCenter::PTHotKeyCenter(xcb_connection_t* connection) : mConnection(connection) {
    if (mConnection && !xcb_connection_has_error(mConnection)) {
        mRoot = xcb_setup_roots_iterator(xcb_get_setup(mConnection)).data->root;
    } else {
        mConnection = nullptr;
    }
}

PTHotKeyCenter::~PTHotKeyCenter() {
    const QList<PTHotKey*> registered = mHotKeys.values();
    for (PTHotKey* hotKey : registered) {
        unregisterHotKey(*hotKey);
    }
    if (mEventHandlerInstalled && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool PTHotKeyCenter::isAvailable() const {
    return mConnection != nullptr;
}

QString PTHotKeyCenter::unavailableReason() const {
    if (isAvailable()) {
        return {};
    }
    return tr("Global hot keys need an X11 session; this session (%1) offers none to Cassora.")
        .arg(QGuiApplication::platformName());
}

bool PTHotKeyCenter::registerHotKey(PTHotKey& hotKey, QString* error) {
    if (hotKey.isRegistered()) {
        unregisterHotKey(hotKey);
    }
    const PTKeyCombo combo = hotKey.keyCombo();
    if (!combo.isValidHotKeyCombo()) {
        return true;
    }
    ++mHotKeyCount;
    if (!isAvailable()) {
        if (error) {
            *error = unavailableReason();
        }
        return false;
    }
    const auto keyCode = KeyCodeTable::x11KeyCodeForVirtualKeyCode(combo.keyCode());
    if (!keyCode || *keyCode < 8 || *keyCode > 255) {
        if (error) {
            *error = tr("The key of %1 does not exist on this keyboard.").arg(combo.description());
        }
        return false;
    }
    const uint16_t modifiers = x11Modifiers(combo.modifiers());
    if (!grab(static_cast<uint8_t>(*keyCode), modifiers, combo.description(), error)) {
        return false;
    }
    const uint32_t number = mHotKeyCount;
    hotKey.mHotKeyID = number;
    hotKey.mGrabbedKeyCode = static_cast<uint8_t>(*keyCode);
    hotKey.mGrabbedModifiers = modifiers;
    hotKey.mCenter = this;
    mHotKeys.insert(number, &hotKey);
    installEventHandler();
    return true;
}

void PTHotKeyCenter::unregisterHotKey(PTHotKey& hotKey) {
    if (!hotKey.isRegistered() || hotKey.mCenter != this) {
        return;
    }
    ungrab(hotKey.mGrabbedKeyCode, hotKey.mGrabbedModifiers);
    mHotKeys.remove(hotKey.mHotKeyID);
    hotKey.mHotKeyID = 0;
    hotKey.mGrabbedKeyCode = 0;
    hotKey.mGrabbedModifiers = 0;
    hotKey.mCenter = nullptr;
}

QList<PTHotKey*> PTHotKeyCenter::allHotKeys() const {
    return mHotKeys.values();
}

PTHotKey* PTHotKeyCenter::hotKeyWithIdentifier(const QString& identifier) const {
    for (PTHotKey* hotKey : mHotKeys) {
        if (hotKey->identifier() == identifier) {
            return hotKey;
        }
    }
    return nullptr;
}

bool PTHotKeyCenter::grab(uint8_t keyCode, uint16_t modifiers, const QString& name,
                          QString* error) {
    int grabbed = 0;
    uint8_t failure = 0;
    for (uint16_t locks : kLockModifiers) {
        // Not owner events: while the grab lasts (until the key is up), its
        // press and release are both reported on the root window, even when
        // one of our own windows has the focus.
        xcb_void_cookie_t cookie =
            xcb_grab_key_checked(mConnection, 0, mRoot, modifiers | locks, keyCode,
                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* reply = xcb_request_check(mConnection, cookie)) {
            failure = reply->error_code;
            std::free(reply);
            break;
        }
        ++grabbed;
    }
    if (failure == 0) {
        return true;
    }
    // All or nothing: a hot key that works only with Num Lock off would
    // puzzle its user.
    for (int i = 0; i < grabbed; ++i) {
        xcb_ungrab_key(mConnection, keyCode, mRoot, modifiers | kLockModifiers[i]);
    }
    xcb_flush(mConnection);
    if (error) {
        *error = failure == kBadAccess
                     ? tr("%1 is already in use by another program.").arg(name)
                     : tr("The X server refused %1 (error %2).").arg(name).arg(int(failure));
    }
    return false;
}

void PTHotKeyCenter::ungrab(uint8_t keyCode, uint16_t modifiers) {
    for (uint16_t locks : kLockModifiers) {
        xcb_ungrab_key(mConnection, keyCode, mRoot, modifiers | locks);
    }
    xcb_flush(mConnection);
    mKeysDown.removeAll(keyCode);
}

void PTHotKeyCenter::installEventHandler() {
    if (mEventHandlerInstalled || !QCoreApplication::instance()) {
        return;
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
    mEventHandlerInstalled = true;
}

bool PTHotKeyCenter::dispatchKeyPress(uint8_t x11KeyCode, uint16_t state) {
    const uint16_t modifiers = state & kHotKeyModifierMask;
    for (PTHotKey* hotKey : mHotKeys) {
        if (hotKey->mGrabbedKeyCode == x11KeyCode && hotKey->mGrabbedModifiers == modifiers) {
            // The action may unregister or replace hot keys: run it last.
            hotKey->invoke();
            return true;
        }
    }
    return false;
}

bool PTHotKeyCenter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7F) {
    case XCB_KEY_PRESS: {
        const auto* press = static_cast<const xcb_key_press_event_t*>(message);
        if (press->event != mRoot) {
            return false;
        }
        if (mKeysDown.contains(press->detail)) {
            return true; // held down: the key repeats
        }
        mKeysDown << press->detail;
        return dispatchKeyPress(press->detail, press->state);
    }
    case XCB_KEY_RELEASE: {
        const auto* release = static_cast<const xcb_key_release_event_t*>(message);
        // A key that is up again is up wherever its release was reported;
        // one kept down would swallow every later press of it.
        mKeysDown.removeAll(release->detail);
        return release->event == mRoot;
    }
    case XCB_MAPPING_NOTIFY:
        PTKeyCodeTranslator::keyboardMappingDidChange();
        return false;
    default:
        return false;
    }
}

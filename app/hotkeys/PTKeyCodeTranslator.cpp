#include "app/hotkeys/PTKeyCodeTranslator.h"

#include "app/preferences/HotKeyText.h"
#include "platform/desktop/KeyCodeTable.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xkbcommon/xkbcommon.h>

namespace {

std::unique_ptr<PTKeyCodeTranslator>& sharedTranslator() {
    static std::unique_ptr<PTKeyCodeTranslator> translator;
    return translator;
}

xcb_connection_t* applicationConnection() {
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        return x11->connection();
    }
    return nullptr;
}

// Keys whose names come from the table whatever the layout: those that type
// no character, white space, and the keypad (which types the same digits as
// the main keys and needs its prefix).
bool namedByTable(int virtualKeyCode) {
    const QString name = HotKeyText::keyName(virtualKeyCode);
    return name.size() > 1;
}

} // namespace

PTKeyCodeTranslator& PTKeyCodeTranslator::currentTranslator() {
    auto& translator = sharedTranslator();
    if (!translator) {
        translator = std::make_unique<PTKeyCodeTranslator>(applicationConnection());
    }
    return *translator;
}

void PTKeyCodeTranslator::keyboardMappingDidChange() {
    sharedTranslator().reset();
}

QString PTKeyCodeTranslator::keyNameInCurrentLayout(int virtualKeyCode) {
    keyboardMappingDidChange();
    return currentTranslator().keyName(virtualKeyCode);
}

PTKeyCodeTranslator::PTKeyCodeTranslator(xcb_connection_t* connection) : mConnection(connection) {
    if (mConnection && !xcb_connection_has_error(mConnection)) {
        mKeySymbols = xcb_key_symbols_alloc(mConnection);
    }
}

PTKeyCodeTranslator::~PTKeyCodeTranslator() {
    if (mKeySymbols) {
        xcb_key_symbols_free(mKeySymbols);
    }
}

QChar PTKeyCodeTranslator::translateKeyCode(int virtualKeyCode) const {
    if (!mKeySymbols) {
        return {};
    }
    const auto x11KeyCode = KeyCodeTable::x11KeyCodeForVirtualKeyCode(virtualKeyCode);
    if (!x11KeyCode || *x11KeyCode > 255) {
        return {};
    }
    const xcb_keysym_t keysym =
        xcb_key_symbols_get_keysym(mKeySymbols, static_cast<xcb_keycode_t>(*x11KeyCode), 0);
    const uint32_t character = xkb_keysym_to_utf32(keysym);
    // Only characters of the basic plane that print; control characters
    // (Return, Tab, Escape) are named by the table.
    if (character < 0x20 || character == 0x7F || character > 0xFFFF) {
        return {};
    }
    return QChar(static_cast<char16_t>(character));
}

QString PTKeyCodeTranslator::keyName(int virtualKeyCode) const {
    if (!namedByTable(virtualKeyCode)) {
        const QChar character = translateKeyCode(virtualKeyCode);
        if (!character.isNull() && !character.isSpace()) {
            return QString(character).toUpper();
        }
    }
    return HotKeyText::keyName(virtualKeyCode);
}

QString PTKeyCodeTranslator::description() const {
    return QStringLiteral("PTKeyCodeTranslator layout=%1 (%2)")
        .arg(mKeySymbols ? QStringLiteral("X11 keyboard mapping") : QStringLiteral("US"),
             QStringLiteral("xcb"));
}

#include "app/preferences/HotKeyText.h"

#include "platform/desktop/KeyCodeTable.h"

#include <QCoreApplication>
#include <QKeySequence>

namespace {

// Keypad keys share their Qt key with the main keyboard's; they are named
// with Qt's keypad prefix.
QString keypadKeyName(int keyCode) {
    struct KeypadKey {
        int keyCode;
        const char* name;
    };
    static constexpr KeypadKey kKeypad[] = {
        {0x41, "."}, {0x43, "*"}, {0x45, "+"}, {0x47, "Clear"}, {0x4B, "/"}, {0x4C, "Enter"},
        {0x4E, "-"}, {0x51, "="}, {0x52, "0"}, {0x53, "1"},     {0x54, "2"}, {0x55, "3"},
        {0x56, "4"}, {0x57, "5"}, {0x58, "6"}, {0x59, "7"},     {0x5B, "8"}, {0x5C, "9"},
    };
    for (const KeypadKey& key : kKeypad) {
        if (key.keyCode == keyCode) {
            return QStringLiteral("Num+") + QLatin1String(key.name);
        }
    }
    return {};
}

int storedInteger(const QVariantMap& map, const char* key) {
    bool ok = false;
    const int value = map.value(QLatin1String(key)).toInt(&ok);
    // A missing or unreadable entry reads as 0, which means "none".
    return ok ? value : 0;
}

} // namespace

namespace HotKeyText {

QVariantMap plist(int keyCode, int modifiers) {
    return {{QStringLiteral("keyCode"), keyCode}, {QStringLiteral("modifiers"), modifiers}};
}

QString keyName(int keyCode) {
    if (QString keypad = keypadKeyName(keyCode); !keypad.isEmpty()) {
        return keypad;
    }
    if (const auto qtKey = KeyCodeTable::qtKeyForVirtualKeyCode(keyCode); qtKey && *qtKey != 0) {
        const QString name = QKeySequence(*qtKey).toString(QKeySequence::PortableText);
        if (!name.isEmpty()) {
            return name;
        }
    }
    return QString::number(keyCode, 16).toUpper();
}

QString description(const QVariant& stored) {
    const QVariantMap map = stored.toMap();
    const int keyCode = storedInteger(map, "keyCode");
    const int modifiers = storedInteger(map, "modifiers");
    // Key code 0 reads as "no key": stored combinations use -1 for none, and
    // a missing entry must not turn into a real key.
    if (map.isEmpty() || keyCode <= 0 || modifiers <= 0) {
        return QCoreApplication::translate("HotKeyText", "(None)");
    }
    QStringList parts;
    if (modifiers & kCommandModifier) {
        parts << QStringLiteral("Ctrl");
    }
    if (modifiers & kOptionModifier) {
        parts << QStringLiteral("Alt");
    }
    if (modifiers & kControlModifier) {
        parts << QStringLiteral("Super");
    }
    if (modifiers & kShiftModifier) {
        parts << QStringLiteral("Shift");
    }
    parts << keyName(keyCode);
    return parts.join(QLatin1Char('+'));
}

} // namespace HotKeyText

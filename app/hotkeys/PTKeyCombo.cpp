#include "app/hotkeys/PTKeyCombo.h"

#include "app/hotkeys/PTKeyCodeTranslator.h"
#include "platform/desktop/KeyCodeTable.h"

#include <QCoreApplication>

namespace {

int storedInteger(const QVariantMap& map, const char* key) {
    bool ok = false;
    const int value = map.value(QLatin1String(key)).toInt(&ok);
    return ok ? value : 0;
}

} // namespace

PTKeyCombo PTKeyCombo::withPlistRepresentation(const QVariant& plist) {
    const QVariantMap map = plist.toMap();
    if (map.isEmpty()) {
        return clearKeyCombo();
    }
    const int keyCode = storedInteger(map, "keyCode");
    const int modifiers = storedInteger(map, "modifiers");
    return {keyCode > 0 ? keyCode : -1, modifiers > 0 ? modifiers : -1};
}

QVariantMap PTKeyCombo::plistRepresentation() const {
    return {{QStringLiteral("keyCode"), mKeyCode}, {QStringLiteral("modifiers"), mModifiers}};
}

QString PTKeyCombo::description() const {
    if (!isValidHotKeyCombo()) {
        return QCoreApplication::translate("PTKeyCombo", "(None)");
    }
    QStringList parts;
    if (mModifiers & kCommandModifier) {
        parts << QStringLiteral("Ctrl");
    }
    if (mModifiers & kOptionModifier) {
        parts << QStringLiteral("Alt");
    }
    if (mModifiers & kControlModifier) {
        parts << QStringLiteral("Super");
    }
    if (mModifiers & kShiftModifier) {
        parts << QStringLiteral("Shift");
    }
    parts << keyCodeString();
    return parts.join(QLatin1Char('+'));
}

QString PTKeyCombo::keyCodeString() const {
    if (mKeyCode < 0) {
        return {};
    }
    return PTKeyCodeTranslator::currentTranslator().keyName(mKeyCode);
}

Qt::KeyboardModifiers PTKeyCombo::modifierMask() const {
    Qt::KeyboardModifiers mask;
    if (!isValidHotKeyCombo()) {
        return mask;
    }
    if (mModifiers & kCommandModifier) {
        mask |= Qt::ControlModifier;
    }
    if (mModifiers & kOptionModifier) {
        mask |= Qt::AltModifier;
    }
    if (mModifiers & kControlModifier) {
        mask |= Qt::MetaModifier;
    }
    if (mModifiers & kShiftModifier) {
        mask |= Qt::ShiftModifier;
    }
    return mask;
}

QKeySequence PTKeyCombo::keySequence() const {
    if (!isValidHotKeyCombo()) {
        return {};
    }
    const auto qtKey = KeyCodeTable::qtKeyForVirtualKeyCode(mKeyCode);
    if (!qtKey) {
        return {};
    }
    return QKeySequence(QKeyCombination(modifierMask(), Qt::Key(*qtKey)));
}

#include "app/hotkeys/PTHotKey.h"

#include "app/hotkeys/PTHotKeyCenter.h"

PTHotKey::PTHotKey(QString identifier, QString name, PTKeyCombo keyCombo,
                   std::function<void()> action)
    : mIdentifier(std::move(identifier)), mName(std::move(name)), mKeyCombo(keyCombo),
      mAction(std::move(action)) {}

PTHotKey::~PTHotKey() {
    if (mCenter) {
        mCenter->unregisterHotKey(*this);
    }
}

void PTHotKey::invoke() const {
    if (mAction) {
        mAction();
    }
}

QString PTHotKey::description() const {
    return QStringLiteral("<PTHotKey: %1, %2>").arg(mIdentifier, mKeyCombo.description());
}

#include "app/shell/DeckHotKeys.h"

#include "app/deck/WindowController.h"
#include "app/hotkeys/PTHotKeyCenter.h"
#include "platform/desktop/UserDefaults.h"

#include <QMessageBox>
#include <QPointer>

#include <cstdio>

namespace {

const QString kEnableHotKeys = QStringLiteral("EnableHotKeys");

struct Binding {
    const char* identifier;
    const char* defaultsKey;
    const char* name;
    void (WindowController::*action)(QObject*);
};

// In the order they are registered.
const Binding kBindings[] = {
    {"Record", "RecordHotKey", QT_TRANSLATE_NOOP("DeckHotKeys", "Record"),
     &WindowController::recordTape},
    {"Stop", "StopHotKey", QT_TRANSLATE_NOOP("DeckHotKeys", "Stop"), &WindowController::stopTape},
    {"Pause", "PauseHotKey", QT_TRANSLATE_NOOP("DeckHotKeys", "Pause"),
     &WindowController::pauseTape},
};

void logError(const QString& message) {
    std::fprintf(stderr, "(ERROR) DeckHotKeys : %s\n", message.toLocal8Bit().constData());
}

} // namespace

DeckHotKeys::DeckHotKeys(WindowController& deck, PTHotKeyCenter& center, QObject* parent)
    : QObject(parent), mDeck(deck), mCenter(center) {
    mReporter = [](const QString& message) {
        logError(message);
        auto* box = new QMessageBox(QMessageBox::Warning, tr("Cassora"),
                                    tr("A global hot key could not be set up"), QMessageBox::Ok);
        box->setInformativeText(message + QLatin1Char('\n') +
                                tr("Choose another combination under Preferences, Hot Keys."));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
}

DeckHotKeys::~DeckHotKeys() {
    for (const auto& hotKey : std::as_const(mHotKeys)) {
        mCenter.unregisterHotKey(*hotKey);
    }
}

void DeckHotKeys::startObservingDefaults() {
    UserDefaults& defaults = UserDefaults::standard();
    auto changed = [this](const QVariant&) { registerHotkeys(); };
    defaults.observe(kEnableHotKeys, this, changed);
    for (const Binding& binding : kBindings) {
        defaults.observe(QLatin1String(binding.defaultsKey), this, changed);
    }
    registerHotkeys();
}

PTHotKey* DeckHotKeys::hotKey(const QString& identifier) const {
    return mHotKeys.value(identifier).get();
}

void DeckHotKeys::registerHotkeys() {
    const UserDefaults& defaults = UserDefaults::standard();
    const bool enabled = defaults.boolForKey(kEnableHotKeys);
    QStringList failures;
    bool changed = false;
    for (const Binding& binding : kBindings) {
        const QString identifier = QLatin1String(binding.identifier);
        const PTKeyCombo wanted = enabled ? PTKeyCombo::withPlistRepresentation(
                                                defaults.value(QLatin1String(binding.defaultsKey)))
                                          : PTKeyCombo::clearKeyCombo();
        std::shared_ptr<PTHotKey>& current = mHotKeys[identifier];
        // An unchanged combination stays as it is, unless it failed before:
        // the program that held it may have let it go.
        if (current && current->keyCombo() == wanted &&
            (current->isRegistered() || !wanted.isValidHotKeyCombo() ||
             !mFailures.contains(identifier))) {
            continue;
        }
        if (current) {
            mCenter.unregisterHotKey(*current);
        }
        QPointer<WindowController> deck(&mDeck);
        auto action = binding.action;
        current = std::make_shared<PTHotKey>(identifier, tr(binding.name), wanted, [deck, action] {
            if (deck) {
                (deck.data()->*action)(nullptr);
            }
        });
        changed = true;
        QString error;
        if (mCenter.registerHotKey(*current, &error)) {
            mFailures.remove(identifier);
            continue;
        }
        if (!mCenter.isAvailable()) {
            // Said once: the preferences' Hot Keys tab says it too.
            mFailures.insert(identifier, wanted);
            if (!mReportedUnavailable) {
                mReportedUnavailable = true;
                logError(error);
            }
            continue;
        }
        const bool reportedBefore =
            mFailures.contains(identifier) && mFailures.value(identifier) == wanted;
        mFailures.insert(identifier, wanted);
        if (!reportedBefore) {
            failures << tr("The %1 hot key: %2").arg(current->name(), error);
        }
    }
    if (!failures.isEmpty()) {
        reportFailures(failures);
    }
    if (changed) {
        emit hotKeysChanged();
    }
}

void DeckHotKeys::reportFailures(const QStringList& messages) {
    if (mReporter) {
        mReporter(messages.join(QLatin1Char('\n')));
    }
}

#pragma once

#include "app/hotkeys/PTHotKey.h"

#include <QMap>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class PTHotKeyCenter;
class WindowController;

// The deck's three global hot keys, "Record", "Pause" and "Stop", which act
// like the transport keys of the same names. They follow the settings
// "EnableHotKeys", "RecordHotKey", "PauseHotKey" and "StopHotKey": each
// change registers again what changed. A combination that cannot be
// registered (another program holds it) is reported to the user once, and
// again only when it fails anew after a change.
class DeckHotKeys : public QObject {
    Q_OBJECT

public:
    using FailureReporter = std::function<void(const QString& message)>;

    DeckHotKeys(WindowController& deck, PTHotKeyCenter& center, QObject* parent = nullptr);
    ~DeckHotKeys() override;

    // Observes the settings, registering the hot keys right away.
    void startObservingDefaults();
    // Brings the registrations in line with the settings.
    void registerHotkeys();

    // The hot key of "Record", "Pause" or "Stop"; nullptr before the first
    // registration.
    PTHotKey* hotKey(const QString& identifier) const;
    // The identifiers whose combination could not be registered.
    QStringList failedIdentifiers() const { return mFailures.keys(); }

    // How failures reach the user; the default logs them and shows a message
    // box that does not block.
    void setFailureReporter(FailureReporter reporter) { mReporter = std::move(reporter); }

signals:
    // Registrations have changed: menus showing the combinations refresh.
    void hotKeysChanged();

private:
    void reportFailures(const QStringList& messages);

    WindowController& mDeck;
    PTHotKeyCenter& mCenter;
    QMap<QString, std::shared_ptr<PTHotKey>> mHotKeys;
    // Identifier → the combination that failed, so it is reported once.
    QMap<QString, PTKeyCombo> mFailures;
    bool mReportedUnavailable = false;
    FailureReporter mReporter;
};

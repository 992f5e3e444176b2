#pragma once

#include "app/hotkeys/PTKeyCombo.h"

#include <QDialog>

#include <functional>

class PTHotKey;
class PTHotKeyCenter;
class PTKeyBroadcaster;
class QLabel;
class QPushButton;

// The small window that asks for a new key combination: it shows what the
// hot key is for and the combination typed last, and ends with OK (1),
// Cancel (0) or Clear (1, with the clear combination). A combination that
// cannot be a hot key (no modifier, a key we cannot register) is shown with
// the reason and OK stays off until a usable one is typed.
class PTKeyComboPanel : public QDialog {
    Q_OBJECT

public:
    static PTKeyComboPanel& sharedPanel();
    explicit PTKeyComboPanel(QWidget* parent = nullptr);

    PTKeyCombo keyCombo() const { return mKeyCombo; }
    void setKeyCombo(const PTKeyCombo& combo);
    QString keyBindingName() const { return mKeyName; }
    void setKeyBindingName(const QString& name);

    // Why a combination cannot be stored as a hot key; empty when it can
    // (the clear combination can).
    static QString problemWithKeyCombo(const PTKeyCombo& combo);

    // A centred modal window; answers the code it ended with.
    int runModal();
    // Shows the hot key's name and combination; on OK stores the new
    // combination in it and registers it again with `center`.
    int runModalForHotKey(PTHotKey& hotKey, PTHotKeyCenter& center);
    // Runs as a sheet on `window` and returns at once; `didEnd` gets the code
    // when the panel has closed.
    void runSheetForModalWindow(QWidget* window, std::function<void(int)> didEnd);

    QLabel* titleField() const { return mTitleField; }
    QLabel* comboField() const { return mComboField; }
    QLabel* messageField() const { return mMessageField; }
    PTKeyBroadcaster* keyBroadcaster() const { return mKeyBcaster; }
    QPushButton* okButton() const { return mOkButton; }

public slots:
    void ok();
    void cancel();
    void clear();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void keyWasBroadcast(const PTKeyCombo& combo);

    QLabel* mTitleField = nullptr;
    QLabel* mComboField = nullptr;
    QLabel* mMessageField = nullptr;
    PTKeyBroadcaster* mKeyBcaster = nullptr;
    QPushButton* mOkButton = nullptr;
    QString mTitleFormat;
    QString mKeyName;
    PTKeyCombo mKeyCombo;
    std::function<void(int)> mSheetDidEnd;
};

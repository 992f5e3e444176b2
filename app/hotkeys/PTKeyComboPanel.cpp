#include "app/hotkeys/PTKeyComboPanel.h"

#include "app/hotkeys/PTHotKey.h"
#include "app/hotkeys/PTHotKeyCenter.h"
#include "app/hotkeys/PTKeyBroadcaster.h"
#include "platform/desktop/KeyCodeTable.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <utility>

PTKeyComboPanel& PTKeyComboPanel::sharedPanel() {
    // Made again when the window it was a sheet on took it along.
    static QPointer<PTKeyComboPanel> panel;
    if (!panel) {
        panel = new PTKeyComboPanel;
    }
    return *panel;
}

PTKeyComboPanel::PTKeyComboPanel(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Hot Key"));
    auto* layout = new QVBoxLayout(this);
    mTitleField = new QLabel(tr("Type the new combination for “%1”:"));
    mTitleFormat = mTitleField->text();
    mKeyBcaster = new PTKeyBroadcaster;
    mKeyBcaster->setText(tr("Type the combination here"));
    mKeyBcaster->setMinimumHeight(40);
    mComboField = new QLabel;
    mComboField->setAlignment(Qt::AlignCenter);
    QFont comboFont = mComboField->font();
    comboFont.setPointSizeF(comboFont.pointSizeF() * 1.4);
    comboFont.setBold(true);
    mComboField->setFont(comboFont);
    mMessageField = new QLabel;
    mMessageField->setWordWrap(true);
    // A red that reads on the palette's background, light or dark.
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    mMessageField->setStyleSheet(dark ? QStringLiteral("color: #ff7a7a;")
                                      : QStringLiteral("color: #b02020;"));

    auto* buttons = new QDialogButtonBox;
    mOkButton = buttons->addButton(QDialogButtonBox::Ok);
    QPushButton* cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    QPushButton* clearButton = buttons->addButton(tr("Clear"), QDialogButtonBox::ResetRole);
    for (QPushButton* button : {mOkButton, cancelButton, clearButton}) {
        // Return is a combination to capture, not a button press.
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::NoFocus);
    }
    connect(mOkButton, &QPushButton::clicked, this, &PTKeyComboPanel::ok);
    connect(cancelButton, &QPushButton::clicked, this, &PTKeyComboPanel::cancel);
    connect(clearButton, &QPushButton::clicked, this, &PTKeyComboPanel::clear);

    layout->addWidget(mTitleField);
    layout->addWidget(mKeyBcaster);
    layout->addWidget(mComboField);
    layout->addWidget(mMessageField);
    layout->addWidget(buttons);
    setMinimumWidth(360);

    connect(mKeyBcaster, &PTKeyBroadcaster::keyEvent, this, &PTKeyComboPanel::keyWasBroadcast);
    connect(mKeyBcaster, &PTKeyBroadcaster::cancelRequested, this, &PTKeyComboPanel::cancel);
    connect(mKeyBcaster, &PTKeyBroadcaster::unknownKeyPressed, this,
            [this] { mMessageField->setText(tr("That key cannot be used for a hot key.")); });
    connect(this, &QDialog::finished, this, [this](int code) {
        if (auto didEnd = std::exchange(mSheetDidEnd, {})) {
            didEnd(code);
        }
    });
    refresh();
}

QString PTKeyComboPanel::problemWithKeyCombo(const PTKeyCombo& combo) {
    if (combo.isClearCombo()) {
        return {};
    }
    if (combo.keyCode() < 0) {
        return tr("Type a key together with Ctrl, Alt or Super.");
    }
    if (combo.modifiers() <= 0) {
        return tr("A hot key needs Ctrl, Alt or Super with the key.");
    }
    if (combo.modifiers() == PTKeyCombo::kShiftModifier) {
        return tr("Shift alone would take a character away from typing: add Ctrl, Alt or Super.");
    }
    // Stored combinations read key code 0 as "no key", so the key at A's
    // place could be chosen but never kept.
    if (combo.keyCode() <= 0) {
        return tr("%1 cannot be used for a hot key; please choose another key.")
            .arg(combo.keyCodeString());
    }
    if (!KeyCodeTable::x11KeyCodeForVirtualKeyCode(combo.keyCode())) {
        return tr("That key cannot be used for a hot key.");
    }
    return {};
}

void PTKeyComboPanel::setKeyCombo(const PTKeyCombo& combo) {
    mKeyCombo = combo;
    refresh();
}

void PTKeyComboPanel::setKeyBindingName(const QString& name) {
    mKeyName = name;
    refresh();
}

void PTKeyComboPanel::keyWasBroadcast(const PTKeyCombo& combo) {
    mKeyCombo = combo;
    refresh();
}

void PTKeyComboPanel::refresh() {
    mTitleField->setText(mTitleFormat.arg(mKeyName));
    const QString problem = problemWithKeyCombo(mKeyCombo);
    if (mKeyCombo.modifiers() <= 0 && mKeyCombo.keyCode() >= 0) {
        mComboField->setText(mKeyCombo.keyCodeString()); // a key typed alone
    } else {
        mComboField->setText(mKeyCombo.description());
    }
    mMessageField->setText(problem);
    mOkButton->setEnabled(problem.isEmpty());
}

void PTKeyComboPanel::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    refresh();
    mKeyBcaster->setFocus();
}

void PTKeyComboPanel::ok() {
    if (!problemWithKeyCombo(mKeyCombo).isEmpty()) {
        return;
    }
    done(1);
}

void PTKeyComboPanel::cancel() {
    done(0);
}

void PTKeyComboPanel::clear() {
    mKeyCombo = PTKeyCombo::clearKeyCombo();
    refresh();
    done(1);
}

int PTKeyComboPanel::runModal() {
    setWindowModality(Qt::ApplicationModal);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(screen->availableGeometry().center() - rect().center());
    }
    return exec();
}

int PTKeyComboPanel::runModalForHotKey(PTHotKey& hotKey, PTHotKeyCenter& center) {
    setKeyBindingName(hotKey.name());
    setKeyCombo(hotKey.keyCombo());
    const int code = runModal();
    if (code == 1) {
        hotKey.setKeyCombo(mKeyCombo);
        center.registerHotKey(hotKey);
    }
    return code;
}

void PTKeyComboPanel::runSheetForModalWindow(QWidget* window, std::function<void(int)> didEnd) {
    if (isVisible()) {
        return; // one question at a time
    }
    if (parentWidget() != window) {
        setParent(window, Qt::Dialog);
    }
    mSheetDidEnd = std::move(didEnd);
    setWindowModality(Qt::WindowModal);
    open();
}

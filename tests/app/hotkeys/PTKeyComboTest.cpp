#include "app/hotkeys/PTKeyCombo.h"
#include "app/hotkeys/PTHotKeyCenter.h"
#include "app/hotkeys/PTKeyBroadcaster.h"
#include "app/hotkeys/PTKeyComboPanel.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

// Key combinations and the capturing panel, off screen (no X server: hot
// keys cannot be registered here).
namespace {

constexpr int kCommandShift = PTKeyCombo::kCommandModifier | PTKeyCombo::kShiftModifier;

TEST(PTKeyCombo, StoredFormReadsBackAndBadValuesMeanNoHotKey) {
    const PTKeyCombo record(26, kCommandShift);
    EXPECT_EQ(PTKeyCombo::withPlistRepresentation(record.plistRepresentation()), record);
    EXPECT_EQ(record.description(), "Ctrl+Shift+7");
    EXPECT_EQ(record.keySequence(), QKeySequence(QStringLiteral("Ctrl+Shift+7")));
    EXPECT_EQ(record.modifierMask(), Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(PTKeyCombo(0x60, 0x1F00).description(), "Ctrl+Alt+Super+Shift+F5");

    // Clear: -1 for both, "(None)", no key, never registered.
    const PTKeyCombo clear = PTKeyCombo::clearKeyCombo();
    EXPECT_EQ(clear.plistRepresentation().value("keyCode").toInt(), -1);
    EXPECT_EQ(clear.plistRepresentation().value("modifiers").toInt(), -1);
    EXPECT_EQ(clear.description(), "(None)");
    EXPECT_TRUE(clear.keyCodeString().isEmpty());
    EXPECT_EQ(clear.modifierMask(), Qt::NoModifier);
    EXPECT_TRUE(clear.keySequence().isEmpty());

    // Missing, empty, zero or unreadable values read as "none".
    EXPECT_TRUE(PTKeyCombo::withPlistRepresentation(QVariant()).isClearCombo());
    EXPECT_TRUE(PTKeyCombo::withPlistRepresentation(QVariantMap()).isClearCombo());
    const PTKeyCombo zeroKey =
        PTKeyCombo::withPlistRepresentation(PTKeyCombo(0, 768).plistRepresentation());
    EXPECT_EQ(zeroKey.keyCode(), -1);
    EXPECT_FALSE(zeroKey.isValidHotKeyCombo());
    EXPECT_FALSE(
        PTKeyCombo::withPlistRepresentation(QVariantMap{{"keyCode", 26}}).isValidHotKeyCombo());
    // Settings files give numbers back as text.
    EXPECT_EQ(
        PTKeyCombo::withPlistRepresentation(QVariantMap{{"keyCode", "26"}, {"modifiers", "768"}}),
        record);
}

TEST(PTKeyComboPanel, CapturesTheTypedCombinationAndRefusesUnusableOnes) {
    PTKeyComboPanel panel;
    panel.setKeyBindingName(QStringLiteral("Record"));
    panel.setKeyCombo(PTKeyCombo(26, kCommandShift));
    panel.show();
    EXPECT_TRUE(panel.titleField()->text().contains("Record"));
    EXPECT_EQ(panel.comboField()->text(), "Ctrl+Shift+7");

    // Ctrl+Alt+R is captured, shortcut or not.
    QTest::keyClick(panel.keyBroadcaster(), Qt::Key_R, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(panel.keyCombo(),
              PTKeyCombo(0x0F, PTKeyCombo::kCommandModifier | PTKeyCombo::kOptionModifier));
    EXPECT_EQ(panel.comboField()->text(), "Ctrl+Alt+R");
    EXPECT_TRUE(panel.okButton()->isEnabled());

    // A modifier key alone changes nothing.
    QTest::keyClick(panel.keyBroadcaster(), Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(panel.keyCombo().keyCode(), 0x0F);

    // A key without modifiers, or with Shift alone, would take a key away
    // from typing everywhere: shown with the reason, OK stays off.
    QTest::keyClick(panel.keyBroadcaster(), Qt::Key_R);
    EXPECT_FALSE(panel.okButton()->isEnabled());
    EXPECT_FALSE(panel.messageField()->text().isEmpty());
    QTest::keyClick(panel.keyBroadcaster(), Qt::Key_R, Qt::ShiftModifier);
    EXPECT_FALSE(panel.okButton()->isEnabled());
    // The key at A's place has key code 0, which the stored form reads as
    // "no key": refused rather than silently lost.
    QTest::keyClick(panel.keyBroadcaster(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(panel.okButton()->isEnabled());
    EXPECT_TRUE(panel.messageField()->text().contains("A"));
    panel.ok();
    EXPECT_TRUE(panel.isVisible()) << "OK must not end the panel with an unusable combination";

    QTest::keyClick(panel.keyBroadcaster(), Qt::Key_F5, Qt::ControlModifier);
    EXPECT_TRUE(panel.okButton()->isEnabled());
    EXPECT_TRUE(panel.messageField()->text().isEmpty());
    panel.ok();
    EXPECT_EQ(panel.result(), 1);
    EXPECT_EQ(panel.keyCombo(), PTKeyCombo(0x60, PTKeyCombo::kCommandModifier));
}

TEST(PTHotKeyCenter, WithoutAnXServerNothingRegistersAndTheReasonIsGiven) {
    PTHotKeyCenter center(nullptr);
    EXPECT_FALSE(center.isAvailable());
    EXPECT_TRUE(center.unavailableReason().contains("X11"));
    PTHotKey hotKey(QStringLiteral("Record"), QStringLiteral("Record"),
                    PTKeyCombo(26, kCommandShift));
    QString error;
    EXPECT_FALSE(center.registerHotKey(hotKey, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(hotKey.isRegistered());
    // The clear combination registers nothing, and that is no failure.
    PTHotKey none(QStringLiteral("Stop"), QStringLiteral("Stop"));
    EXPECT_TRUE(center.registerHotKey(none));
    EXPECT_TRUE(center.allHotKeys().isEmpty());
}

} // namespace

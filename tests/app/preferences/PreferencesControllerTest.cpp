#include "app/preferences/PreferencesController.h"

#include "AudioServerTools.h"
#include "app/hotkeys/PTKeyBroadcaster.h"
#include "app/hotkeys/PTKeyComboPanel.h"
#include "app/preferences/HotKeyText.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "platform/desktop/UserDefaults.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

// The audio tests run against the private server of the test command: a
// stereo null sink "cassora_null" (its monitor records two channels) and a
// mono sine source "cassora_sine", the default input.

namespace {

using AudioServerTools::pumpUntil;
using AudioServerTools::run;

const QStringList kKeys = {"RecordingIsStereo", "RecordDeviceUID",     "RecordDeviceChannels",
                           "PlaybackDeviceUID", "TapeLibraryLocation", "PlaySoundEffects",
                           "EnableHotKeys",     "RecordHotKey",        "SUCheckAtStartup"};

QVariantList channels(std::initializer_list<int> list) {
    QVariantList out;
    for (int channel : list) {
        out << channel;
    }
    return out;
}

// The stored channel list as numbers (settings files may give them as text).
std::vector<int> storedChannels() {
    std::vector<int> out;
    for (const QVariant& entry : UserDefaults::standard().value("RecordDeviceChannels").toList()) {
        out.push_back(entry.toInt());
    }
    return out;
}

QStringList itemTitles(QComboBox* popUp) {
    QStringList titles;
    for (int i = 0; i < popUp->count(); ++i) {
        titles << popUp->itemText(i);
    }
    return titles;
}

// Picks an item as the user does, which runs the pop-up's action.
void choose(QComboBox* popUp, int index) {
    popUp->setCurrentIndex(index);
    emit popUp->activated(index);
}

// The first controller sets up the defaults and the default library folder:
// in a home of the tests' own, kept for the life of the process.
QString testHome() {
    static QTemporaryDir home;
    return home.path();
}

class PreferencesTest : public ::testing::Test {
protected:
    QByteArray savedHome = qgetenv("HOME");
    QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    QStringList errors;
    int deviceNotices = 0;
    int channelNotices = 0;
    QObject listener;
    std::vector<std::string> modules;
    QTemporaryDir library;

    void SetUp() override {
        qputenv("HOME", testHome().toUtf8());
        qputenv("XDG_DATA_HOME", (testHome() + "/data").toUtf8());
        for (const QString& key : kKeys) {
            UserDefaults::standard().removeValue(key);
        }
        UserDefaults::standard().setValue("TapeLibraryLocation", library.path().toUtf8());
        PreferencesController::setErrorPresenter([this](const QString& m) { errors << m; });
        QObject::connect(&PreferencesNotifier::instance(),
                         &PreferencesNotifier::recordDeviceChanged, &listener,
                         [this] { ++deviceNotices; });
        QObject::connect(&PreferencesNotifier::instance(),
                         &PreferencesNotifier::recordDeviceChannelsChanged, &listener,
                         [this] { ++channelNotices; });
    }

    void TearDown() override {
        // Newest first, whatever the test's outcome.
        while (!modules.empty()) {
            run("pactl unload-module " + modules.back());
            modules.pop_back();
        }
        for (const QString& key : kKeys) {
            UserDefaults::standard().removeValue(key);
        }
        PreferencesController::setErrorPresenter(nullptr);
        qputenv("HOME", savedHome);
        qputenv("XDG_DATA_HOME", savedDataHome);
    }

    // A source with `count` channels, once the engine sees it.
    void loadSource(const std::string& name, int count) {
        modules.push_back(run("pactl load-module module-null-source source_name=" + name +
                              " channels=" + std::to_string(count) + " rate=48000"));
        ASSERT_TRUE(pumpUntil([&] { return VELKAudioHardware::deviceIDForDeviceUID(name) != 0; }));
    }

    void unloadNewest() {
        run("pactl unload-module " + modules.back());
        modules.pop_back();
    }
};

using PreferencesAudio = PreferencesTest;

TEST_F(PreferencesAudio, ChannelsFollowTheStereoSwitch) {
    loadSource("cassora_pref_four", 4);
    auto& defaults = UserDefaults::standard();
    defaults.setValue("RecordDeviceUID", "cassora_pref_four");
    defaults.setValue("RecordingIsStereo", false);
    defaults.setValue("RecordDeviceChannels", channels({3}));
    PreferencesController controller;
    EXPECT_EQ(storedChannels(), std::vector<int>({3}));

    channelNotices = 0;
    defaults.setValue("RecordingIsStereo", true);
    EXPECT_EQ(storedChannels(), std::vector<int>({2, 3})) << "the pair that holds channel 3";
    EXPECT_EQ(controller.recordingAudioDeviceChannels(), std::vector<int32_t>({2, 3}));
    EXPECT_EQ(channelNotices, 1);
    defaults.setValue("RecordingIsStereo", false);
    EXPECT_EQ(storedChannels(), std::vector<int>({2}));
    EXPECT_EQ(channelNotices, 2);

    // A stereo list read in mono gives its first channel, stored or not.
    defaults.setValue("RecordDeviceChannels", channels({0, 1}));
    EXPECT_EQ(controller.recordingAudioDeviceChannels(), std::vector<int32_t>({0}));
    EXPECT_EQ(storedChannels(), std::vector<int>({0, 1}));
}

TEST_F(PreferencesAudio, AThreeChannelSourceOffersOnePairOrThreeChannels) {
    loadSource("cassora_pref_three", 3);
    auto& defaults = UserDefaults::standard();
    defaults.setValue("RecordDeviceUID", "cassora_pref_three");
    PreferencesController controller;
    QComboBox* devices = controller.recordDevicePopUp();
    QComboBox* popUp = controller.recordDeviceChannelsPopUp();

    EXPECT_EQ(devices->itemText(0), "Default Input Device (Auto)");
    EXPECT_FALSE(devices->itemData(0).isValid());
    EXPECT_TRUE(devices->itemText(1).isEmpty()) << "a separator";
    EXPECT_EQ(devices->currentData().toString(), "cassora_pref_three");
    EXPECT_GE(devices->findData("cassora_null.monitor"), 2);
    EXPECT_EQ(devices->findData("cassora_null"), -1) << "a sink cannot record";

    EXPECT_EQ(controller.recordDeviceChannelsLabel()->text(), "On Channels:");
    EXPECT_EQ(itemTitles(popUp), QStringList({"1-2"})) << "the odd last channel is not offered";
    EXPECT_EQ(popUp->itemData(0).toList(), channels({0, 1}));
    EXPECT_EQ(popUp->currentIndex(), 0);

    defaults.setValue("RecordingIsStereo", false);
    EXPECT_EQ(controller.recordDeviceChannelsLabel()->text(), "On Channel:");
    EXPECT_EQ(itemTitles(popUp), QStringList({"1", "2", "3"}));
    EXPECT_EQ(popUp->currentIndex(), 0);

    channelNotices = 0;
    choose(popUp, 2);
    EXPECT_EQ(storedChannels(), std::vector<int>({2}));
    EXPECT_EQ(controller.recordingAudioDeviceChannels(), std::vector<int32_t>({2}));
    EXPECT_EQ(channelNotices, 1);
    // Changes made elsewhere show in the pop-ups.
    defaults.setValue("RecordDeviceChannels", channels({1}));
    EXPECT_EQ(popUp->currentIndex(), 1);
    defaults.setValue("RecordDeviceUID", "cassora_null.monitor");
    EXPECT_EQ(devices->currentData().toString(), "cassora_null.monitor");
    EXPECT_EQ(itemTitles(popUp), QStringList({"1", "2"}));
}

TEST_F(PreferencesAudio, ChoosingTheAutomaticInputForgetsDeviceAndChannels) {
    loadSource("cassora_pref_three", 3);
    auto& defaults = UserDefaults::standard();
    PreferencesController controller;
    PreferencesController other; // the application's second instance
    QComboBox* devices = controller.recordDevicePopUp();

    deviceNotices = 0;
    choose(devices, devices->findData("cassora_pref_three"));
    EXPECT_EQ(defaults.stringForKey("RecordDeviceUID"), "cassora_pref_three");
    EXPECT_EQ(deviceNotices, 1);
    EXPECT_EQ(other.recordingAudioDevice()->deviceUID(), "cassora_pref_three");
    choose(controller.recordDeviceChannelsPopUp(), 0);
    EXPECT_TRUE(defaults.hasStoredValue("RecordDeviceChannels"));

    choose(devices, 0);
    EXPECT_FALSE(defaults.hasStoredValue("RecordDeviceUID"));
    EXPECT_FALSE(defaults.hasStoredValue("RecordDeviceChannels"));
    EXPECT_EQ(deviceNotices, 2);
    EXPECT_EQ(other.recordingAudioDevice()->deviceUID(), "cassora_sine");
    EXPECT_EQ(other.recordingAudioDeviceChannels(), std::vector<int32_t>({0, 0}))
        << "the mono default input records its one channel on both sides";
    EXPECT_FALSE(controller.recordDeviceChannelsPopUp()->isEnabled()) << "no pair to offer";
}

TEST_F(PreferencesAudio, AnUnpluggedInputFallsBackToTheDefault) {
    loadSource("cassora_pref_gone", 2);
    auto& defaults = UserDefaults::standard();
    PreferencesController controller;
    choose(controller.recordDevicePopUp(),
           controller.recordDevicePopUp()->findData("cassora_pref_gone"));
    defaults.setValue("RecordDeviceChannels", channels({0, 1}));
    defaults.setValue("PlaybackDeviceUID", "cassora_pref_gone_sink"); // never was there

    unloadNewest();
    ASSERT_TRUE(pumpUntil(
        [] { return VELKAudioHardware::deviceIDForDeviceUID("cassora_pref_gone") == 0; }));
    // Until the device list is checked, recordings still get a working input.
    ASSERT_NE(controller.recordingAudioDevice(), nullptr);
    EXPECT_EQ(controller.recordingAudioDevice()->deviceUID(), "cassora_sine");
    EXPECT_EQ(controller.recordingAudioDeviceChannels(), std::vector<int32_t>({0, 0}));

    deviceNotices = 0;
    controller.checkDefaultAudioDevices();
    EXPECT_FALSE(defaults.hasStoredValue("RecordDeviceUID"));
    EXPECT_FALSE(defaults.hasStoredValue("PlaybackDeviceUID"));
    EXPECT_EQ(deviceNotices, 1);
    EXPECT_EQ(controller.recordDevicePopUp()->currentIndex(), 0);
    EXPECT_EQ(controller.recordDevicePopUp()->findData("cassora_pref_gone"), -1);
    EXPECT_EQ(controller.playbackDevicePopUp()->currentIndex(), 0);
    EXPECT_EQ(controller.playbackAudioDevice()->deviceUID(), "cassora_null");
}

TEST_F(PreferencesAudio, NonsenseChannelListsFallBackToChannelsTheDeviceHas) {
    auto& defaults = UserDefaults::standard();
    defaults.setValue("RecordDeviceUID", "cassora_null.monitor"); // two channels
    PreferencesController controller;
    const std::vector<int32_t> firstPair{0, 1};
    for (const QVariant& stored :
         {QVariant(channels({7, 8})), QVariant(channels({-2, -1})), QVariant(channels({1})),
          QVariant(QStringList{"left", "right"}), QVariant("2,3"), QVariant(channels({}))}) {
        defaults.setValue("RecordDeviceChannels", stored);
        EXPECT_EQ(controller.recordingAudioDeviceChannels(), firstPair)
            << stored.toString().toStdString();
    }
    defaults.setValue("RecordingIsStereo", false);
    defaults.setValue("RecordDeviceChannels", channels({5}));
    EXPECT_EQ(controller.recordingAudioDeviceChannels(), std::vector<int32_t>({0}));
    defaults.setValue("RecordDeviceChannels", channels({1}));
    EXPECT_EQ(controller.recordingAudioDeviceChannels(), std::vector<int32_t>({1}));

    // Switching modes with a nonsense list stores a usable one.
    defaults.setValue("RecordDeviceChannels", channels({-3}));
    defaults.setValue("RecordingIsStereo", true);
    EXPECT_EQ(storedChannels(), std::vector<int>({0, 1}));
}

using PreferencesWindowControls = PreferencesTest;

TEST_F(PreferencesWindowControls, TabsResizeTheWindowBelowAFixedTopEdge) {
    PreferencesController controller;
    controller.showWindow();
    QWidget* window = controller.window();
    EXPECT_EQ(window->windowTitle(), "Preferences");
    auto* toolbar = window->findChild<QToolBar*>();
    ASSERT_NE(toolbar, nullptr);
    QStringList tabs;
    for (QAction* action : toolbar->actions()) {
        tabs << action->text();
        EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
    }
    EXPECT_EQ(tabs, QStringList({"General", "Hot Keys", "Audio"}));
    EXPECT_TRUE(controller.currentlyVisibleView()->isAncestorOf(
        controller.tapeLibraryLocationPathControl()));

    window->move(100, 150);
    const int top = window->geometry().top();
    toolbar->actions()[2]->trigger(); // as a click on "Audio"
    EXPECT_TRUE(controller.currentlyVisibleView()->isAncestorOf(controller.recordDevicePopUp()));
    EXPECT_TRUE(toolbar->actions()[2]->isChecked());
    EXPECT_FALSE(toolbar->actions()[0]->isChecked());
    const int audioHeight = window->height();
    controller.selectHotkeysTab();
    EXPECT_TRUE(
        controller.currentlyVisibleView()->isAncestorOf(controller.enableHotKeysCheckbox()));
    EXPECT_FALSE(controller.recordDevicePopUp()->isVisible());
    EXPECT_EQ(window->geometry().top(), top);
    EXPECT_GE(window->height(), controller.currentlyVisibleView()->sizeHint().height());
    controller.selectAudioTab();
    EXPECT_EQ(window->height(), audioHeight);
    EXPECT_EQ(window->geometry().top(), top);
}

TEST_F(PreferencesWindowControls, ControlsWriteAndFollowTheDefaults) {
    auto& defaults = UserDefaults::standard();
    defaults.setValue("PlaySoundEffects", true);
    defaults.setValue("RecordHotKey", HotKeyText::plist(26, 768));
    defaults.setValue("EnableHotKeys", true);
    PreferencesController controller;
    QCheckBox* effects = controller.playSoundEffectsCheckbox();
    EXPECT_TRUE(effects->isChecked());
    effects->click();
    EXPECT_FALSE(defaults.boolForKey("PlaySoundEffects"));
    EXPECT_FALSE(controller.playSoundEffects());
    defaults.setValue("PlaySoundEffects", true); // from elsewhere, e.g. a menu
    EXPECT_TRUE(effects->isChecked());

    controller.automaticallyCheckForUpdatesCheckbox()->click();
    EXPECT_TRUE(defaults.boolForKey("SUCheckAtStartup"));

    EXPECT_EQ(controller.recordHotKeyTextField()->text(), "Ctrl+Shift+7");
    EXPECT_TRUE(controller.recordHotKeyTextField()->isReadOnly());
    EXPECT_TRUE(controller.recordHotKeyTextField()->isEnabled());
    // The Change… buttons work while hot keys are on, as the fields do.
    EXPECT_TRUE(controller.recordHotKeyChangeButton()->isEnabled());
    controller.enableHotKeysCheckbox()->click();
    EXPECT_FALSE(defaults.boolForKey("EnableHotKeys"));
    EXPECT_FALSE(controller.enableHotKeys());
    EXPECT_FALSE(controller.recordHotKeyTextField()->isEnabled());
    EXPECT_FALSE(controller.recordHotKeyChangeButton()->isEnabled());
    defaults.setValue("RecordHotKey", HotKeyText::plist(-1, -1));
    EXPECT_EQ(controller.recordHotKeyTextField()->text(), "(None)");

    controller.monitorRecordDeviceCheckbox()->click();
    EXPECT_TRUE(defaults.boolForKey("EnableSoftwarePlaythrough"));
    defaults.removeValue("EnableSoftwarePlaythrough");
    EXPECT_FALSE(controller.monitorRecordDeviceCheckbox()->isChecked());
}

// The Hot Keys page's Change… buttons, with the key-combination panel as a
// sheet on the window (off screen: no X server, so no hot key registers).
using PreferencesWindowHotKeys = PreferencesTest;
constexpr int kHotKeyCommandShift = PTKeyCombo::kCommandModifier | PTKeyCombo::kShiftModifier;

TEST_F(PreferencesWindowHotKeys, ChangeButtonsStoreWhatThePanelCapturedForTheirHotKey) {
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setValue("EnableHotKeys", true);
    defaults.setValue("RecordHotKey", PTKeyCombo(26, kHotKeyCommandShift).plistRepresentation());
    defaults.setValue("StopHotKey", PTKeyCombo(25, kHotKeyCommandShift).plistRepresentation());
    PreferencesController controller;
    controller.selectHotkeysTab();
    EXPECT_TRUE(controller.stopHotKeyChangeButton()->isEnabled());
    // This session has no X server, and the page says so.
    EXPECT_FALSE(controller.hotKeysUnavailableLabel()->isHidden());

    PTKeyComboPanel& panel = PTKeyComboPanel::sharedPanel();
    controller.stopHotKeyChangeButton()->click();
    ASSERT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.keyCombo(), PTKeyCombo(25, kHotKeyCommandShift));
    QTest::keyClick(panel.keyBroadcaster(), Qt::Key_0, Qt::ControlModifier | Qt::ShiftModifier);
    panel.ok();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(PTKeyCombo::withPlistRepresentation(defaults.value("StopHotKey")),
              PTKeyCombo(0x1D, kHotKeyCommandShift));
    EXPECT_EQ(controller.stopHotKeyTextField()->text(), "Ctrl+Shift+0");
    EXPECT_EQ(PTKeyCombo::withPlistRepresentation(defaults.value("RecordHotKey")),
              PTKeyCombo(26, kHotKeyCommandShift))
        << "only the stop combination changes";

    // Cancel keeps the stored combination; Clear stores the clear one.
    controller.recordHotKeyChangeButton()->click();
    QTest::keyClick(panel.keyBroadcaster(), Qt::Key_1, Qt::ControlModifier);
    panel.cancel();
    EXPECT_EQ(controller.recordHotKeyTextField()->text(), "Ctrl+Shift+7");
    controller.recordHotKeyChangeButton()->click();
    panel.clear();
    EXPECT_TRUE(PTKeyCombo::withPlistRepresentation(defaults.value("RecordHotKey")).isClearCombo());
    EXPECT_EQ(controller.recordHotKeyTextField()->text(), "(None)");

    defaults.setValue("EnableHotKeys", false);
    EXPECT_FALSE(controller.stopHotKeyChangeButton()->isEnabled());
    for (const char* key : {"EnableHotKeys", "RecordHotKey", "StopHotKey"}) {
        defaults.removeValue(key);
    }
}


using PreferencesLibrary = PreferencesTest;

TEST_F(PreferencesLibrary, TheFolderIsResolvedChosenAndChecked) {
    QTemporaryDir first;
    QTemporaryDir second;
    auto& defaults = UserDefaults::standard();
    defaults.setValue("TapeLibraryLocation", QDir(first.path()).absolutePath().toUtf8());
    PreferencesController controller;
    PreferencesController other;
    EXPECT_EQ(controller.tapeLibraryURL(), QDir(first.path()).absolutePath());
    EXPECT_EQ(controller.tapeLibraryLocationPathControl()->text(), controller.tapeLibraryURL());
    EXPECT_TRUE(errors.isEmpty()) << errors.join("; ").toStdString();

    QString error;
    EXPECT_TRUE(controller.setTapeLibraryFolder(second.path(), &error)) << error.toStdString();
    EXPECT_EQ(other.tapeLibraryURL(), QDir(second.path()).absolutePath())
        << "both instances hear it";
    EXPECT_EQ(controller.tapeLibraryLocationPathControl()->text(),
              QDir(second.path()).absolutePath());

    // Folders that cannot hold tapes are refused and change nothing.
    for (const QString& bad :
         {QStringLiteral("/proc"), first.filePath("missing"), QStringLiteral("relative/folder")}) {
        error.clear();
        EXPECT_FALSE(controller.setTapeLibraryFolder(bad, &error)) << bad.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_TRUE(error.contains("relative/folder"));
    EXPECT_EQ(controller.tapeLibraryURL(), QDir(second.path()).absolutePath());

    // A folder that has gone is reported, and the library has no folder.
    const QString gone = first.path();
    ASSERT_TRUE(first.remove());
    defaults.setValue("TapeLibraryLocation", gone.toUtf8());
    EXPECT_TRUE(controller.tapeLibraryURL().isEmpty());
    EXPECT_TRUE(controller.tapeLibraryLocationPathControl()->text().isEmpty());
    ASSERT_FALSE(errors.isEmpty());
    EXPECT_TRUE(errors.last().contains(gone)) << errors.last().toStdString();

    // A path typed into the settings file as text still works.
    defaults.setValue("TapeLibraryLocation", second.path());
    EXPECT_EQ(controller.tapeLibraryURL(), QDir(second.path()).absolutePath());

    // Without a choice of the user's, the library is the default folder.
    defaults.removeValue("TapeLibraryLocation");
    EXPECT_EQ(controller.tapeLibraryURL(), testHome() + "/Music/Cassora");
}

} // namespace

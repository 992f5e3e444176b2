#include "app/deck/DeckWindow.h"
#include "app/deck/WindowController.h"
#include "app/hotkeys/PTHotKeyCenter.h"
#include "app/hotkeys/PTKeyBroadcaster.h"
#include "app/hotkeys/PTKeyCodeTranslator.h"
#include "app/hotkeys/PTKeyComboPanel.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/preferences/PreferencesController.h"
#include "app/shell/DeckHotKeys.h"
#include "app/shell/MPRISService.h"
#include "app/shell/StatusItem.h"
#include "app/transport/Cassora_sm.h"
#include "platform/audio/MainQueue.h"
#include "platform/desktop/KeyCodeTable.h"
#include "platform/desktop/UserDefaults.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <functional>

// Global hot keys on a real X server (the test runs under its own Xvfb):
// keys are typed by xdotool while another program's window has the focus.
namespace {

constexpr int kCommandShift = PTKeyCombo::kCommandModifier | PTKeyCombo::kShiftModifier;

void pumpFor(double seconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

bool pumpUntil(const std::function<bool()>& done, double seconds = 3.0) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

int xdotool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments);
}

void typeKeys(const QString& keys) {
    ASSERT_EQ(xdotool({QStringLiteral("key"), keys}), 0);
}

// Another program's window, holding the keyboard focus.
class OtherWindow {
public:
    OtherWindow() {
        mProcess.start(QStringLiteral("xmessage"),
                       {QStringLiteral("-name"), QStringLiteral("elsewhere"),
                        QStringLiteral("-geometry"), QStringLiteral("200x80+900+700"),
                        QStringLiteral("another program")});
        QProcess search;
        pumpUntil(
            [&] {
                search.start(QStringLiteral("xdotool"),
                             {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                              QStringLiteral("--name"), QStringLiteral("^elsewhere$")});
                search.waitForFinished();
                mWindow = QString::fromLatin1(search.readAllStandardOutput()).section('\n', 0, 0);
                return !mWindow.isEmpty();
            },
            5);
    }
    ~OtherWindow() {
        mProcess.kill();
        mProcess.waitForFinished();
    }
    void focus() {
        ASSERT_FALSE(mWindow.isEmpty()) << "xmessage did not show its window";
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), mWindow});
        pumpFor(0.1);
    }
    bool hasFocus() const {
        QProcess focus;
        focus.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")});
        focus.waitForFinished();
        return QString::fromLatin1(focus.readAllStandardOutput()).trimmed() == mWindow;
    }

private:
    QProcess mProcess;
    QString mWindow;
};

TEST(HotKeysOnX11, AHotKeyActsWhileAnotherProgramHasTheFocusUntilUnregistered) {
    PTHotKeyCenter& center = PTHotKeyCenter::sharedCenter();
    ASSERT_TRUE(center.isAvailable()) << center.unavailableReason().toStdString();
    OtherWindow other;
    other.focus();

    int presses = 0;
    PTHotKey hotKey(QStringLiteral("Record"), QStringLiteral("Record"),
                    PTKeyCombo(26, kCommandShift), [&] { ++presses; });
    QString error;
    ASSERT_TRUE(center.registerHotKey(hotKey, &error)) << error.toStdString();
    const uint32_t firstNumber = hotKey.hotKeyID();
    EXPECT_NE(firstNumber, 0u);
    EXPECT_EQ(center.hotKeyWithIdentifier(QStringLiteral("Record")), &hotKey);

    typeKeys(QStringLiteral("ctrl+shift+7"));
    EXPECT_TRUE(pumpUntil([&] { return presses == 1; }));
    EXPECT_TRUE(other.hasFocus());
    // Another combination, or the key without its modifiers, is not it.
    typeKeys(QStringLiteral("ctrl+7"));
    typeKeys(QStringLiteral("ctrl+shift+8"));
    pumpFor(0.3);
    EXPECT_EQ(presses, 1);
    // Caps Lock on does not stop it.
    typeKeys(QStringLiteral("Caps_Lock"));
    typeKeys(QStringLiteral("ctrl+shift+7"));
    EXPECT_TRUE(pumpUntil([&] { return presses == 2; }));
    typeKeys(QStringLiteral("Caps_Lock"));

    // Registering again gives a new number; unregistered, the key is free.
    ASSERT_TRUE(center.registerHotKey(hotKey));
    EXPECT_GT(hotKey.hotKeyID(), firstNumber);
    center.unregisterHotKey(hotKey);
    EXPECT_FALSE(hotKey.isRegistered());
    EXPECT_TRUE(center.allHotKeys().isEmpty());
    typeKeys(QStringLiteral("ctrl+shift+7"));
    pumpFor(0.3);
    EXPECT_EQ(presses, 2);
}

TEST(HotKeysOnX11, ACombinationAnotherProgramHoldsIsRefusedWithTheReason) {
    // Another X client grabs Ctrl+Alt+F12 first.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    const auto f12 = KeyCodeTable::x11KeyCodeForVirtualKeyCode(0x6F);
    ASSERT_TRUE(f12);
    xcb_generic_error_t* grabError = xcb_request_check(
        other, xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1,
                                    static_cast<xcb_keycode_t>(*f12), XCB_GRAB_MODE_ASYNC,
                                    XCB_GRAB_MODE_ASYNC));
    ASSERT_EQ(grabError, nullptr);

    PTHotKeyCenter& center = PTHotKeyCenter::sharedCenter();
    const PTKeyCombo taken(0x6F, PTKeyCombo::kCommandModifier | PTKeyCombo::kOptionModifier);
    PTHotKey hotKey(QStringLiteral("Stop"), QStringLiteral("Stop"), taken);
    QString error;
    EXPECT_FALSE(center.registerHotKey(hotKey, &error));
    EXPECT_TRUE(error.contains("Ctrl+Alt+F12")) << error.toStdString();
    EXPECT_TRUE(error.contains("another program")) << error.toStdString();
    EXPECT_FALSE(hotKey.isRegistered());
    // Nothing half-grabbed stays behind: once the other program lets go,
    // the same combination registers.
    xcb_disconnect(other);
    pumpFor(0.2);
    EXPECT_TRUE(center.registerHotKey(hotKey, &error)) << error.toStdString();
    center.unregisterHotKey(hotKey);
}

TEST(HotKeysOnX11, KeysAreNamedByTheServersLayoutAndMapBackToTheirPlaces) {
    // The transport keys of the deck's default key map and the default hot
    // keys, on the server's US layout.
    const std::pair<int, const char*> keys[] = {
        {0x06, "Z"},  {0x07, "X"},     {0x08, "C"},     {0x09, "V"}, {0x0B, "B"},
        {0x2D, "N"},  {0x31, "Space"}, {0x1A, "7"},     {0x1C, "8"}, {0x19, "9"},
        {0x60, "F5"}, {0x7B, "Left"},  {0x53, "Num+1"}, {0x2C, "/"}, {0x0A, "<"}};
    PTKeyCodeTranslator& translator = PTKeyCodeTranslator::currentTranslator();
    for (const auto& [code, name] : keys) {
        EXPECT_EQ(translator.keyName(code), name) << code;
        const auto x11 = KeyCodeTable::x11KeyCodeForVirtualKeyCode(code);
        ASSERT_TRUE(x11) << code;
        EXPECT_EQ(KeyCodeTable::virtualKeyCodeForX11KeyCode(*x11), code);
    }
    EXPECT_EQ(PTKeyCombo(0x1A, kCommandShift).description(), "Ctrl+Shift+7");
}

TEST(HotKeysOnX11, ThePanelCapturesACombinationTypedOnTheKeyboard) {
    PTKeyComboPanel panel;
    panel.setKeyBindingName(QStringLiteral("Pause"));
    panel.show();
    panel.activateWindow();
    panel.keyBroadcaster()->setFocus();
    ASSERT_TRUE(pumpUntil([&] { return panel.isActiveWindow(); }));
    // Typed the way a person does: real key events with their scan codes.
    typeKeys(QStringLiteral("ctrl+alt+r"));
    EXPECT_TRUE(pumpUntil([&] {
        return panel.keyCombo() ==
               PTKeyCombo(0x0F, PTKeyCombo::kCommandModifier | PTKeyCombo::kOptionModifier);
    }));
    typeKeys(QStringLiteral("super+KP_3"));
    EXPECT_TRUE(pumpUntil(
        [&] { return panel.keyCombo() == PTKeyCombo(0x55, PTKeyCombo::kControlModifier); }));
    EXPECT_EQ(panel.comboField()->text(), "Super+Num+3");
    // Escape is no combination: it cancels, and the panel keeps what it had.
    typeKeys(QStringLiteral("Escape"));
    EXPECT_TRUE(pumpUntil([&] { return !panel.isVisible(); }));
    EXPECT_EQ(panel.result(), 0);
    EXPECT_EQ(panel.keyCombo(), PTKeyCombo(0x55, PTKeyCombo::kControlModifier));
}

// The deck with its hot keys and status item, against the private audio
// server, on a library folder of its own.
class DeckHotKeysTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        home = new QTemporaryDir;
        qputenv("HOME", home->path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", (home->path() + "/.local/share").toLocal8Bit());
        qputenv("XDG_CACHE_HOME", (home->path() + "/.cache").toLocal8Bit());
        listener = new QProcess;
        listener->setStandardOutputFile(QProcess::nullDevice());
        listener->start(QStringLiteral("parec"),
                        {QStringLiteral("--device=cassora_tone.monitor"),
                         QStringLiteral("--latency-msec=100"), QStringLiteral("--format=s16le"),
                         QStringLiteral("--channels=1")});
        pumpFor(1.5);
    }
    static void TearDownTestSuite() {
        listener->kill();
        listener->waitForFinished();
        delete listener;
        delete home;
    }

    void SetUp() override {
        MainQueue::setDispatcher([](MainQueue::Job job) {
            QMetaObject::invokeMethod(qApp, std::move(job), Qt::QueuedConnection);
        });
        UserDefaults& defaults = UserDefaults::standard();
        defaults.setValue(QStringLiteral("TapeLibraryLocation"), folder.path().toUtf8());
        defaults.setValue(QStringLiteral("PlaySoundEffects"), false);
        defaults.setValue(QStringLiteral("RecordingQuality"), QStringLiteral("LQ"));
        defaults.setValue(QStringLiteral("RecordingIsStereo"), false);
        defaults.setValue(QStringLiteral("EnableHotKeys"), true);
        defaults.setValue(QStringLiteral("ShowNSStatusItem"), true);
        defaults.setValue(QStringLiteral("RecordHotKey"),
                          PTKeyCombo(26, kCommandShift).plistRepresentation());
        defaults.setValue(QStringLiteral("PauseHotKey"),
                          PTKeyCombo(28, kCommandShift).plistRepresentation());
        defaults.setValue(QStringLiteral("StopHotKey"),
                          PTKeyCombo(25, kCommandShift).plistRepresentation());
        defaults.removeValue(QStringLiteral("RecordDeviceUID"));
        preferences = std::make_unique<PreferencesController>();
        deck = std::make_unique<WindowController>(*preferences);
        deck->setAlertPresenter(
            [this](const QString& message, const QString&) { alerts << message; });
        deck->applicationDidFinishLaunching();
        deck->hotKeys()->setFailureReporter(
            [this](const QString& message) { failures << message; });
    }

    void TearDown() override {
        deck.reset();
        preferences.reset();
        MainQueue::setDispatcher({});
    }

    QString state() const { return QString::fromStdString(deck->transport().state().name()); }
    int tapeFiles() const {
        return int(QDir(folder.path()).entryList({QStringLiteral("*.m4a")}, QDir::Files).size());
    }

    static inline QProcess* listener = nullptr;
    static inline QTemporaryDir* home = nullptr;
    QTemporaryDir folder;
    std::unique_ptr<PreferencesController> preferences;
    std::unique_ptr<WindowController> deck;
    QStringList alerts;
    QStringList failures;
};

TEST_F(DeckHotKeysTest, RecordPauseAndStopFromAnotherProgramWithTheStatusItemFollowing) {
    OtherWindow other;
    other.focus();
    StatusItem* status = deck->statusItem();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->imageName(), "crstatus");
    // The status menu shows the hot keys beside its transport items.
    EXPECT_EQ(status->recordItem()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+7")));
    EXPECT_EQ(status->pauseItem()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+8")));
    EXPECT_EQ(status->stopItem()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+9")));
    EXPECT_TRUE(failures.isEmpty()) << failures.join('\n').toStdString();

    typeKeys(QStringLiteral("ctrl+shift+7"));
    ASSERT_TRUE(pumpUntil([&] { return state() == "TapeMap::Recording"; }));
    EXPECT_EQ(status->imageName(), "crstatus-recording");
    EXPECT_EQ(tapeFiles(), 1);
    pumpFor(1.0);

    typeKeys(QStringLiteral("ctrl+shift+8"));
    ASSERT_TRUE(pumpUntil([&] { return deck->isRecordingPaused(); }));
    EXPECT_TRUE(status->pauseItem()->isChecked());
    // Resuming from the status menu unchecks it.
    status->pauseItem()->trigger();
    EXPECT_FALSE(deck->isRecordingPaused());
    EXPECT_FALSE(status->pauseItem()->isChecked());
    pumpFor(0.5);

    typeKeys(QStringLiteral("ctrl+shift+9"));
    ASSERT_TRUE(pumpUntil([&] { return state() == "TapeMap::TapeStopped"; }, 5));
    EXPECT_EQ(status->imageName(), "crstatus");
    EXPECT_TRUE(other.hasFocus());
    ASSERT_TRUE(deck->selectedTape());
    EXPECT_GT(deck->selectedTape()->duration(), 1.0);
    EXPECT_EQ(tapeFiles(), 1);

    // Turned off and on, the status item comes back as one fresh item.
    UserDefaults::standard().setValue(QStringLiteral("ShowNSStatusItem"), false);
    EXPECT_FALSE(status->isInstalled());
    UserDefaults::standard().setValue(QStringLiteral("ShowNSStatusItem"), true);
    status->installStatusItem();
    EXPECT_TRUE(status->isInstalled());
    EXPECT_EQ(status->imageName(), "crstatus");
}

// A combination typed while the deck itself has the focus is grabbed all the
// same, and released: the same hot key works again and again, there and in
// any other program.
TEST_F(DeckHotKeysTest, AHotKeyWorksAgainAndAgainWhileTheDeckHasTheFocus) {
    QWidget* window = deck->window();
    window->show();
    window->activateWindow();
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"),
             QString::number(window->winId())});
    ASSERT_TRUE(pumpUntil([&] { return window->isActiveWindow(); }));

    typeKeys(QStringLiteral("ctrl+shift+7"));
    ASSERT_TRUE(pumpUntil([&] { return state() == "TapeMap::Recording"; }));
    // Pause, resume, pause: three presses of the same combination.
    for (int press = 1; press <= 3; ++press) {
        typeKeys(QStringLiteral("ctrl+shift+8"));
        const bool paused = press % 2 == 1;
        EXPECT_TRUE(pumpUntil([&] { return deck->isRecordingPaused() == paused; })) << press;
        pumpFor(0.2);
    }
    EXPECT_TRUE(window->isActiveWindow());

    OtherWindow other;
    other.focus();
    typeKeys(QStringLiteral("ctrl+shift+8"));
    EXPECT_TRUE(pumpUntil([&] { return !deck->isRecordingPaused(); }));
    pumpFor(0.3);
    typeKeys(QStringLiteral("ctrl+shift+9"));
    ASSERT_TRUE(pumpUntil([&] { return state() == "TapeMap::TapeStopped"; }, 5));
    EXPECT_EQ(tapeFiles(), 1);
}

TEST_F(DeckHotKeysTest, ChangedCombinationsTakeEffectAndOnlyWhatChangedIsRegisteredAgain) {
    UserDefaults& defaults = UserDefaults::standard();
    DeckHotKeys* hotKeys = deck->hotKeys();
    const uint32_t recordNumber = hotKeys->hotKey("Record")->hotKeyID();
    const uint32_t stopNumber = hotKeys->hotKey("Stop")->hotKeyID();
    ASSERT_NE(recordNumber, 0u);

    defaults.setValue(QStringLiteral("StopHotKey"),
                      PTKeyCombo(0x01, PTKeyCombo::kCommandModifier | PTKeyCombo::kOptionModifier)
                          .plistRepresentation());
    EXPECT_EQ(hotKeys->hotKey("Record")->hotKeyID(), recordNumber);
    EXPECT_GT(hotKeys->hotKey("Stop")->hotKeyID(), stopNumber);
    EXPECT_EQ(deck->statusItem()->stopItem()->shortcut(),
              QKeySequence(QStringLiteral("Ctrl+Alt+S")));

    OtherWindow other;
    other.focus();
    typeKeys(QStringLiteral("ctrl+shift+7"));
    ASSERT_TRUE(pumpUntil([&] { return state() == "TapeMap::Recording"; }));
    pumpFor(0.8);
    typeKeys(QStringLiteral("ctrl+shift+9")); // the old stop key does nothing now
    pumpFor(0.5);
    EXPECT_EQ(state(), "TapeMap::Recording");
    typeKeys(QStringLiteral("ctrl+alt+s"));
    ASSERT_TRUE(pumpUntil([&] { return state() == "TapeMap::TapeStopped"; }, 5));

    // Off: nothing is registered; on again: registered under new numbers.
    defaults.setValue(QStringLiteral("EnableHotKeys"), false);
    EXPECT_TRUE(PTHotKeyCenter::sharedCenter().allHotKeys().isEmpty());
    EXPECT_TRUE(deck->statusItem()->recordItem()->shortcut().isEmpty());
    typeKeys(QStringLiteral("ctrl+shift+7"));
    pumpFor(0.5);
    EXPECT_EQ(state(), "TapeMap::TapeStopped");
    defaults.setValue(QStringLiteral("EnableHotKeys"), true);
    EXPECT_EQ(PTHotKeyCenter::sharedCenter().allHotKeys().size(), 3);
    EXPECT_GT(hotKeys->hotKey("Record")->hotKeyID(), recordNumber);
    EXPECT_TRUE(failures.isEmpty()) << failures.join('\n').toStdString();
}

TEST_F(DeckHotKeysTest, ACombinationHeldByAnotherProgramIsReportedOnce) {
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    const auto key = KeyCodeTable::x11KeyCodeForVirtualKeyCode(0x0F); // R
    xcb_generic_error_t* grabError = xcb_request_check(
        other, xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT,
                                    static_cast<xcb_keycode_t>(*key), XCB_GRAB_MODE_ASYNC,
                                    XCB_GRAB_MODE_ASYNC));
    ASSERT_EQ(grabError, nullptr);

    UserDefaults& defaults = UserDefaults::standard();
    defaults.setValue(QStringLiteral("RecordHotKey"),
                      PTKeyCombo(0x0F, kCommandShift).plistRepresentation());
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures.first().contains("Record")) << failures.first().toStdString();
    EXPECT_TRUE(failures.first().contains("Ctrl+Shift+R")) << failures.first().toStdString();
    EXPECT_EQ(deck->hotKeys()->failedIdentifiers(), QStringList{"Record"});
    // Another setting changing does not repeat the same report.
    defaults.setValue(QStringLiteral("PauseHotKey"),
                      PTKeyCombo(0x23, kCommandShift).plistRepresentation());
    EXPECT_EQ(failures.size(), 1);

    // Once the other program lets go, the next change registers it.
    xcb_disconnect(other);
    pumpFor(0.2);
    defaults.setValue(QStringLiteral("PauseHotKey"),
                      PTKeyCombo(28, kCommandShift).plistRepresentation());
    EXPECT_TRUE(deck->hotKeys()->hotKey("Record")->isRegistered());
    EXPECT_TRUE(deck->hotKeys()->failedIdentifiers().isEmpty());
}

TEST_F(DeckHotKeysTest, MediaControlsOnTheSessionBusDriveTheDeckAndDescribeItsTape) {
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "runs inside dbus-run-session";
    }
    // A tape to play.
    deck->recordTape();
    pumpFor(1.2);
    deck->stopTape();
    ASSERT_TRUE(pumpUntil([&] { return state() == "TapeMap::TapeStopped"; }, 5));
    deck->selectedTape()->setTitle(QStringLiteral("Interview"));

    MPRISService mpris(*deck);
    QString error;
    ASSERT_TRUE(mpris.registerOnSessionBus(&error)) << error.toStdString();

    // Asked from another process, as a desktop's media controls do; the
    // deck keeps serving while it waits.
    auto busCall = [](const QStringList& arguments) {
        QProcess gdbus;
        gdbus.start(QStringLiteral("gdbus"),
                    QStringList{QStringLiteral("call"), QStringLiteral("--session"),
                                QStringLiteral("--dest"), QLatin1String(MPRISService::kServiceName),
                                QStringLiteral("--object-path"),
                                QLatin1String(MPRISService::kObjectPath),
                                QStringLiteral("--method")} +
                        arguments);
        pumpUntil([&] { return gdbus.state() == QProcess::NotRunning; }, 10);
        return QString::fromUtf8(gdbus.readAllStandardOutput() + gdbus.readAllStandardError());
    };
    auto property = [&](const char* interface, const char* name) {
        return busCall({QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                        QLatin1String(interface), QLatin1String(name)});
    };
    EXPECT_TRUE(property("org.mpris.MediaPlayer2", "Identity").contains("'Cassora'"));
    EXPECT_TRUE(property("org.mpris.MediaPlayer2.Player", "PlaybackStatus").contains("Stopped"));
    const QString metadata = property("org.mpris.MediaPlayer2.Player", "Metadata");
    EXPECT_TRUE(metadata.contains("'xesam:title': <'Interview'>")) << metadata.toStdString();
    EXPECT_TRUE(metadata.contains("mpris:length")) << metadata.toStdString();
    EXPECT_TRUE(metadata.contains("mpris:artUrl")) << metadata.toStdString();

    busCall({QStringLiteral("org.mpris.MediaPlayer2.Player.PlayPause")});
    ASSERT_TRUE(pumpUntil([&] { return state() == "TapeMap::Playing"; }));
    EXPECT_TRUE(property("org.mpris.MediaPlayer2.Player", "PlaybackStatus").contains("Playing"));
    busCall({QStringLiteral("org.mpris.MediaPlayer2.Player.PlayPause")});
    EXPECT_TRUE(pumpUntil([&] { return state() == "TapeMap::Paused"; }));
    busCall({QStringLiteral("org.mpris.MediaPlayer2.Player.Stop")});
    EXPECT_TRUE(pumpUntil([&] { return state() == "TapeMap::TapeStopped"; }, 5));

    // The label changes, and so does what the desktop is told.
    deck->selectedTape()->setTitle(QStringLiteral("Second take"));
    EXPECT_TRUE(property("org.mpris.MediaPlayer2.Player", "Metadata").contains("Second take"));
}

} // namespace

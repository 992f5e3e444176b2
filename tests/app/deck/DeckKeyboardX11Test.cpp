#include "app/deck/AppController.h"
#include "app/deck/DeckWindow.h"
#include "app/deck/HUDView.h"
#include "app/deck/PositionView.h"
#include "app/deck/QualityView.h"
#include "app/deck/StereoView.h"
#include "app/deck/TapeBoxView.h"
#include "app/deck/TapeSearchField.h"
#include "app/deck/TapeView.h"
#include "app/deck/VolumeView.h"
#include "app/deck/WindowController.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/preferences/PreferencesController.h"
#include "app/sharing/YouTubeWindowController.h"
#include "app/shell/AboutController.h"
#include "app/transport/Cassora_sm.h"
#include "app/transport/SegmentedTapeButtonView.h"
#include "platform/audio/MainQueue.h"
#include "platform/desktop/UserDefaults.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

// The deck driven from the keyboard as a person does it: the whole
// application on a private X server, keys typed and clicks made by xdotool.
namespace {

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

void xdotool(const QStringList& arguments) {
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), arguments), 0)
        << arguments.join(' ').toStdString();
    pumpFor(0.15);
}

void typeKey(const QString& key) {
    xdotool({QStringLiteral("key"), key});
}

void clickAt(const QWidget* widget, QPoint where) {
    const QPoint global = widget->mapToGlobal(where);
    xdotool(
        {QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y())});
    xdotool({QStringLiteral("click"), QStringLiteral("1")});
}

void setLayout(const QString& layout) {
    ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("-layout"), layout}),
              0);
    pumpFor(0.3);
}

class DeckKeyboard : public ::testing::Test {
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
        defaults.setValue(QStringLiteral("EnableHotKeys"), false);
        controller = std::make_unique<AppController>();
        controller->start();
        deck = controller->windowController();
        deck->setAlertPresenter(
            [this](const QString& message, const QString&) { alerts << message; });
        window = deck->window();
        ASSERT_TRUE(pumpUntil([&] { return window->isVisible(); }));
        focusDeck();
    }

    void TearDown() override {
        controller.reset();
        MainQueue::setDispatcher({});
    }

    void focusDeck() {
        window->activateWindow();
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                 QString::number(window->winId())});
        ASSERT_TRUE(pumpUntil([&] { return window->isActiveWindow(); }));
    }

    QString state() const { return QString::fromStdString(deck->transport().state().name()); }

    // A tape of about `seconds`, in the deck.
    std::shared_ptr<Tape> record(double seconds) {
        deck->recordTape();
        pumpFor(seconds);
        deck->stopTape();
        EXPECT_TRUE(pumpUntil([&] { return state() == "TapeMap::TapeStopped"; }, 5));
        pumpFor(0.5); // the cassette slides in
        return deck->selectedTape();
    }

    // X plays the tape in the deck and X again stops it.
    void xPlaysAndStops(const char* where) {
        typeKey(QStringLiteral("x"));
        EXPECT_TRUE(pumpUntil([&] { return state() == "TapeMap::Playing"; })) << where;
        typeKey(QStringLiteral("x"));
        EXPECT_TRUE(pumpUntil([&] { return state() == "TapeMap::TapeStopped"; })) << where;
    }

    static inline QProcess* listener = nullptr;
    static inline QTemporaryDir* home = nullptr;
    QTemporaryDir folder;
    std::unique_ptr<AppController> controller;
    WindowController* deck = nullptr;
    DeckWindow* window = nullptr;
    QStringList alerts;
};

TEST_F(DeckKeyboard, TransportKeysActWhereverTheFocusIsButInATextField) {
    ASSERT_TRUE(record(1.5));

    // On the tape box.
    TapeBoxView* box = window->tapeBoxView();
    clickAt(box, QPoint(box->width() / 2, 20));
    EXPECT_EQ(QApplication::focusWidget(), box);
    ASSERT_EQ(state(), "TapeMap::TapeStopped");
    xPlaysAndStops("after a click on the tape box");

    // On the cassette, away from its label.
    TapeView* cassette = window->tapeView();
    clickAt(cassette, QPoint(12, cassette->height() - 12));
    EXPECT_EQ(QApplication::focusWidget(), cassette);
    xPlaysAndStops("after a click on the cassette");

    // After Tab.
    typeKey(QStringLiteral("Tab"));
    EXPECT_NE(QApplication::focusWidget(), cassette);
    xPlaysAndStops("after Tab");

    // A held FFWD while playing cues until it comes up, wherever the focus is.
    typeKey(QStringLiteral("x"));
    ASSERT_TRUE(pumpUntil([&] { return state() == "TapeMap::Playing"; }));
    xdotool({QStringLiteral("keydown"), QStringLiteral("v")});
    EXPECT_TRUE(pumpUntil([&] { return state() == "TapeMap::Cueing"; }));
    pumpFor(0.5);
    xdotool({QStringLiteral("keyup"), QStringLiteral("v")});
    EXPECT_TRUE(pumpUntil([&] { return state() == "TapeMap::Playing"; }));
    typeKey(QStringLiteral("b"));
    ASSERT_TRUE(pumpUntil([&] { return state() == "TapeMap::TapeStopped"; }));

    // The search field takes what is typed into it.
    TapeSearchField* search = window->searchField();
    clickAt(search, QPoint(search->width() / 2, search->height() / 2));
    typeKey(QStringLiteral("x"));
    EXPECT_EQ(search->text(), "x");
    EXPECT_EQ(state(), "TapeMap::TapeStopped");
    EXPECT_TRUE(alerts.isEmpty()) << alerts.join("; ").toStdString();
}

TEST_F(DeckKeyboard, TabReachesEveryControlAndTheFocusShows) {
    window->buttonView()->setFocus();
    const HUDView* hud = window->hudView();
    const QList<QWidget*> controls = {
        window->buttonView(), hud->qualityView(), hud->stereoView(),     hud->volumeView(),
        hud->positionView(),  window->tapeView(), window->searchField(), window->tapeBoxView()};
    QSet<QWidget*> reached;
    for (int press = 0; press < 12; ++press) {
        reached.insert(QApplication::focusWidget());
        typeKey(QStringLiteral("Tab"));
    }
    for (QWidget* control : controls) {
        EXPECT_TRUE(reached.contains(control)) << control->metaObject()->className();
    }

    // The focused control draws a ring in the highlight colour.
    hud->volumeView()->setFocus();
    pumpFor(0.2);
    const QImage withFocus = hud->volumeView()->grab().toImage();
    window->buttonView()->setFocus();
    pumpFor(0.2);
    const QImage withoutFocus = hud->volumeView()->grab().toImage();
    EXPECT_NE(withFocus, withoutFocus);

    // Arrow keys work the focused display: the volume goes down a bar.
    hud->volumeView()->setFocus();
    const double volume = hud->volume();
    typeKey(QStringLiteral("Left"));
    EXPECT_DOUBLE_EQ(hud->volume(), volume - 5.0);
    typeKey(QStringLiteral("Right"));
    EXPECT_DOUBLE_EQ(hud->volume(), volume);
}

TEST_F(DeckKeyboard, EveryTapeActionHasAMenuItemWithAShortcut) {
    const auto tape = record(1.5);
    ASSERT_TRUE(tape);

    // F2 renames.
    typeKey(QStringLiteral("F2"));
    ASSERT_TRUE(pumpUntil([&] { return window->tapeView()->isEditingTitle(); }));
    xdotool({QStringLiteral("type"), QStringLiteral("Garden")});
    typeKey(QStringLiteral("Return"));
    EXPECT_TRUE(pumpUntil([&] { return tape->title() == "Garden"; }))
        << tape->title().toStdString();
    EXPECT_FALSE(window->tapeView()->isEditingTitle()) << "Return ends the edit, once";
    EXPECT_TRUE(
        pumpUntil([&] { return QFileInfo(tape->filename()).fileName().contains("Garden"); }));
    // While the title is edited, the transport keys are letters of it.
    EXPECT_EQ(state(), "TapeMap::TapeStopped");

    // Shift+F2 edits the notes; Escape finishes, keeping them.
    typeKey(QStringLiteral("shift+F2"));
    EXPECT_TRUE(pumpUntil([&] { return window->tapeView()->isEditingNotes(); }));
    xdotool({QStringLiteral("type"), QStringLiteral("Birds")});
    typeKey(QStringLiteral("Escape"));
    EXPECT_FALSE(window->tapeView()->isEditingNotes());
    EXPECT_TRUE(pumpUntil([&] { return tape->notes() == "Birds"; })) << tape->notes().toStdString();

    // Ctrl+L gives the letter its next colours.
    focusDeck();
    const auto scheme = tape->tapeLetter() ? tape->tapeLetter()->colorScheme() : nullptr;
    typeKey(QStringLiteral("ctrl+l"));
    EXPECT_TRUE(pumpUntil([&] { return tape->tapeLetter()->colorScheme() != scheme; }));

    // Volume down and up a bar.
    const double volume = window->hudView()->volume();
    typeKey(QStringLiteral("ctrl+shift+Down"));
    EXPECT_DOUBLE_EQ(window->hudView()->volume(), volume - 5.0);
    typeKey(QStringLiteral("ctrl+shift+Up"));
    EXPECT_DOUBLE_EQ(window->hudView()->volume(), volume);

    // End and Home move the tape.
    typeKey(QStringLiteral("End"));
    EXPECT_NEAR(deck->audioFilePlayer()->currentTime(), deck->audioFilePlayer()->maxTime(), 50);
    typeKey(QStringLiteral("Home"));
    EXPECT_NEAR(deck->audioFilePlayer()->currentTime(), 0.0, 50);
    EXPECT_TRUE(alerts.isEmpty()) << alerts.join("; ").toStdString();
}

TEST_F(DeckKeyboard, EscapeAndCtrlWCloseTheSecondaryWindows) {
    const auto closesWith = [&](const std::function<QWidget*()>& open, const QString& key) {
        QWidget* shown = open();
        EXPECT_TRUE(pumpUntil([&] { return shown->isVisible(); }));
        shown->activateWindow();
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                 QString::number(shown->winId())});
        EXPECT_TRUE(pumpUntil([&] { return shown->isActiveWindow(); }));
        typeKey(key);
        EXPECT_TRUE(pumpUntil([&] { return !shown->isVisible(); }))
            << shown->windowTitle().toStdString() << " stays open after " << key.toStdString();
    };
    const auto preferences = [&] {
        controller->showPreferences();
        return controller->preferencesController()->window();
    };
    const auto about = [&] {
        controller->showAbout();
        return static_cast<QWidget*>(controller->aboutController());
    };
    const auto upload = [&] {
        YouTubeWindowController* controller = YouTubeWindowController::sharedInstance();
        controller->showWindow();
        return static_cast<QWidget*>(controller->window());
    };
    for (const QString& key : {QStringLiteral("Escape"), QStringLiteral("ctrl+w")}) {
        closesWith(preferences, key);
        closesWith(about, key);
        closesWith(upload, key);
    }
    // The deck itself stays.
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(deck->isClosed());
}

TEST_F(DeckKeyboard, TransportKeysKeepTheirPlaceAndAreNamedAsTheLayoutLabelsThem) {
    const auto recordItem = [&] { return controller->transportMenuItems().at(0); };
    EXPECT_TRUE(recordItem()->text().endsWith("\tZ")) << recordItem()->text().toStdString();
    EXPECT_EQ(window->buttonView()->toolTipForSegment(0), "REC (Z)");

    setLayout(QStringLiteral("de"));
    // The menu names the keys when it opens.
    controller->nameTransportKeys();
    EXPECT_TRUE(recordItem()->text().endsWith("\tY")) << recordItem()->text().toStdString();
    EXPECT_EQ(window->buttonView()->toolTipForSegment(0), "REC (Y)");
    // The key labelled Y on a German keyboard sits where Z is: it records.
    focusDeck();
    typeKey(QStringLiteral("y"));
    EXPECT_TRUE(pumpUntil([&] { return state() == "TapeMap::Recording"; }));
    pumpFor(0.5);
    typeKey(QStringLiteral("b"));
    EXPECT_TRUE(pumpUntil([&] { return state() == "TapeMap::TapeStopped"; }, 5));
    setLayout(QStringLiteral("us"));
}

} // namespace

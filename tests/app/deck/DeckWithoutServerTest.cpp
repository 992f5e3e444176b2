#include "app/deck/DeckTitleBarView.h"
#include "app/deck/DeckWindow.h"
#include "app/deck/WindowController.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/preferences/PreferencesController.h"
#include "app/transport/Cassora_sm.h"
#include "platform/audio/MainQueue.h"
#include "platform/desktop/UserDefaults.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The deck where no audio server answers: it says so on its window, and
// neither REC nor PLAY pretends.
namespace {

bool pumpUntil(const std::function<bool()>& done, double seconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

TEST(DeckWithoutServer, SaysSoOnTheDeckAndNeitherRecordsNorPretendsToPlay) {
    // Before anything in this process asks for the server.
    qputenv("PULSE_SERVER", "unix:/nonexistent/cassora-no-server");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toLocal8Bit());
    MainQueue::setDispatcher([](MainQueue::Job job) {
        QMetaObject::invokeMethod(qApp, std::move(job), Qt::QueuedConnection);
    });
    QTemporaryDir folder;
    ASSERT_TRUE(QFile::copy(QStringLiteral(":/cassora/cr-welcome.m4a"),
                            QDir(folder.path()).filePath(QStringLiteral("Welcome.m4a"))));
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setValue(QStringLiteral("TapeLibraryLocation"), folder.path().toUtf8());
    defaults.setValue(QStringLiteral("PlaySoundEffects"), false);

    PreferencesController preferences;
    WindowController deck(preferences);
    QStringList alerts;
    QStringList reasons;
    deck.setAlertPresenter([&](const QString& message, const QString& informative) {
        alerts << message;
        reasons << informative;
    });
    deck.applicationDidFinishLaunching();
    const auto state = [&] { return QString::fromStdString(deck.transport().state().name()); };

    EXPECT_TRUE(deck.notice().contains("sound server")) << deck.notice().toStdString();
    EXPECT_TRUE(deck.window()->titleBarView()->notice().contains("sound server"));

    deck.recordTape();
    ASSERT_TRUE(pumpUntil([&] { return state() != "TapeMap::Recording"; }, 3));
    ASSERT_EQ(alerts, QStringList{"The recording could not start"});
    EXPECT_TRUE(reasons.first().contains("sound server")) << reasons.first().toStdString();
    EXPECT_EQ(QDir(folder.path()).entryList({QStringLiteral("*.m4a")}, QDir::Files).size(), 1);

    // The welcome tape is in the deck; PLAY says why it cannot play.
    ASSERT_FALSE(deck.tapeArrayController()->arrangedObjects().empty());
    deck.tapeArrayController()->setSelectionIndexes({0});
    ASSERT_TRUE(pumpUntil([&] { return state() == "TapeMap::TapeStopped"; }, 2));
    alerts.clear();
    reasons.clear();
    deck.playTape();
    EXPECT_TRUE(pumpUntil([&] { return state() == "TapeMap::TapeStopped"; }, 2))
        << state().toStdString();
    ASSERT_EQ(alerts, QStringList{"The tape cannot be played"});
    EXPECT_TRUE(reasons.first().contains("sound server"));
    MainQueue::setDispatcher({});
}

} // namespace

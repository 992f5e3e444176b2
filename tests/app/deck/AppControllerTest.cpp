#include "app/deck/AppController.h"
#include "app/deck/DeckWindow.h"
#include "app/deck/TapeView.h"
#include "app/deck/WindowController.h"
#include "platform/audio/MainQueue.h"
#include "platform/desktop/UserDefaults.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {

// The application brought up as at launch, on a private home folder.
class Application : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toLocal8Bit());
        QDir().mkpath(QDir(home.path()).filePath("Music/Cassora"));
        UserDefaults::standard().setValue(QStringLiteral("PlaySoundEffects"), false);
        UserDefaults::standard().setValue(QStringLiteral("TapeLibraryLocation"),
                                          QDir(home.path()).filePath("Music/Cassora").toUtf8());
        MainQueue::setDispatcher([](MainQueue::Job job) {
            QMetaObject::invokeMethod(qApp, std::move(job), Qt::QueuedConnection);
        });
        controller = std::make_unique<AppController>();
        controller->start();
    }
    void TearDown() override {
        controller.reset();
        MainQueue::setDispatcher({});
    }

    QTemporaryDir home;
    std::unique_ptr<AppController> controller;
};

TEST_F(Application, MenusFollowTheSettingsWhereverTheyChange) {
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setValue(QStringLiteral("RecordingQuality"), QStringLiteral("HQ"));
    EXPECT_TRUE(controller->qualityMenuItem(0)->isChecked());
    EXPECT_FALSE(controller->qualityMenuItem(2)->isChecked());
    // The menu's own action stores the setting; the check mark follows it.
    controller->qualityMenuItem(1)->trigger();
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("RecordingQuality")), "MQ");
    EXPECT_TRUE(controller->qualityMenuItem(1)->isChecked());
    EXPECT_FALSE(controller->qualityMenuItem(0)->isChecked());

    controller->monoMenuItem()->trigger();
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("RecordingIsStereo")));
    defaults.setValue(QStringLiteral("RecordingIsStereo"), true);
    EXPECT_TRUE(controller->stereoMenuItem()->isChecked());
    EXPECT_FALSE(controller->monoMenuItem()->isChecked());
}

TEST_F(Application, TheDeckOpensWithItsDrawerAndRendersAtTwiceTheScale) {
    DeckWindow* window = controller->windowController()->window();
    EXPECT_TRUE(controller->windowController()->tapesDisclosed());
    EXPECT_EQ(window->width(), DeckWindow::OpenWidth);
    const QSize size = window->centralWidget()->size();
    EXPECT_EQ(size.height(), DeckWindow::deckHeight());

    QImage image(size * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::transparent);
    window->centralWidget()->render(&image);
    // Something is drawn everywhere the deck is, and it is not one colour.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 17) {
        for (int x = 0; x < image.width(); x += 13) {
            EXPECT_NE(qAlpha(image.pixel(x, y)), 0) << x << "," << y;
            colours.insert(image.pixel(x, y));
        }
    }
    EXPECT_GT(colours.size(), 50);

    const QImage thumbnail = window->tapeView()->thumbnail(2.0);
    EXPECT_EQ(thumbnail.size(), (TapeView::tapeSize() * 2).toSize());
}

TEST_F(Application, TheTapeBeingRecordedCannotBeSharedUntilItIsFinished) {
    WindowController* deck = controller->windowController();
    QList<QAction*> sharing;
    for (QAction* item : controller->tapeMenu()->actions()) {
        if (item->text().startsWith("Email") || item->text().contains("Music Library") ||
            item->text().contains("YouTube")) {
            sharing << item;
        }
    }
    ASSERT_EQ(sharing.size(), 3);
    deck->recordTape();
    for (QAction* item : sharing) {
        EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
    }
    deck->pauseTape(); // paused, the file is still unfinished
    for (QAction* item : sharing) {
        EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
    }
    deck->stopTape();
    QElapsedTimer waited;
    waited.start();
    while (deck->audioFileRecorder() && waited.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    for (QAction* item : sharing) {
        EXPECT_TRUE(item->isEnabled()) << item->text().toStdString();
    }
}

TEST_F(Application, FeedbackMailCarriesTheVersionAndTheSystem) {
    const QUrl url(AppController::feedbackURL());
    EXPECT_EQ(url.scheme(), "mailto");
    EXPECT_EQ(url.path(), "feedback@cassora.org");
    const QUrlQuery query(url);
    EXPECT_EQ(query.queryItemValue("SUBJECT", QUrl::FullyDecoded),
              "Cassora Feedback: (Enter title here)");
    const QString body = query.queryItemValue("BODY", QUrl::FullyDecoded);
    EXPECT_TRUE(body.startsWith("Here's how I feel about Cassora:\r\n")) << body.toStdString();
    EXPECT_TRUE(body.contains(AppController::currentSystemVersionString()));
    EXPECT_TRUE(body.contains(AppController::versionString()));
}

} // namespace

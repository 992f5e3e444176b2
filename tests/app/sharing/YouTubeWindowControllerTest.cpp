#include "app/sharing/YouTubeWindowController.h"
#include "FakeVideoService.h"
#include "app/library/Tape.h"
#include "app/sharing/TapeMovie.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

bool pumpUntil(const std::function<bool()>& done, int milliseconds = 60000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

} // namespace

TEST(YouTubeWindow, TheDescriptionIsTheNotesThenTheCreditLine) {
    EXPECT_EQ(YouTubeWindowController::descriptionForNotes(""),
              "Created with Cassora (https://cassora.org)");
    EXPECT_EQ(YouTubeWindowController::descriptionForNotes("abc"),
              "abc\n\nCreated with Cassora (https://cassora.org)");
    EXPECT_EQ(YouTubeWindowController::keywordsFromText("cassora, tape  live,,"),
              QStringList({"cassora", "tape", "live"}));
}

TEST(YouTubeWindow, PagesGrowAboutTheTopEdgeAndTheCentre) {
    const QRect frame(300, 200, 400, 300);
    const QRect wider = YouTubeWindowController::frameForContent(frame, QSize(400, 300), QSize(500, 420));
    EXPECT_EQ(wider.left(), 250);
    EXPECT_EQ(wider.top(), 200);
    EXPECT_EQ(wider.width(), 500);
    EXPECT_EQ(wider.bottom(), frame.bottom() + 120);
}

TEST(YouTubeWindow, WithoutAClientTheWindowSaysSoAndMissingFieldsStopTheUpload) {
    YouTubeWindowController window{YouTubeEndpoints{}};
    QStringList alerts;
    window.setAlertPresenter([&](const QString& message, const QString&) { alerts << message; });
    window.showWindow();
    EXPECT_TRUE(window.accountLabel()->text().contains("client ID"));
    EXPECT_FALSE(window.loginButton()->isEnabled());
    EXPECT_FALSE(window.uploadButton()->isEnabled());
    EXPECT_EQ(window.keywordsTokenField()->text(), "cassora");

    window.titleField()->clear();
    window.performUpload();
    EXPECT_EQ(alerts, QStringList({"Fields Missing"}));
    EXPECT_EQ(window.currentPage(), YouTubeWindowController::Page::Settings);
    window.closeWindow();
}

// The whole way: the tape's movie is made and uploaded to the loopback
// service with the window's fields, then the window shows the end.
TEST(YouTubeWindow, ATapeIsRenderedUploadedAndReported) {
    QTemporaryDir folder;
    const QString path = QDir(folder.path()).filePath("Song.m4a");
    QProcess::execute("ffmpeg", {"-v", "error", "-f", "lavfi", "-i",
                                 "sine=frequency=500:sample_rate=44100:duration=2", "-c:a", "aac",
                                 "-metadata", "title=Song for the web", "-metadata",
                                 "comment=abc", path});
    auto tape = std::make_shared<Tape>(path);
    tape->setCommitsOnDestruction(false);

    FakeVideoService server;
    YouTubeWindowController window(server.endpoints());
    YouTubeAuthorization authorization;
    authorization.accessToken = "A1";
    authorization.refreshToken = "R1";
    authorization.expiry = QDateTime::currentDateTimeUtc().addSecs(3600);
    authorization.userName = "Tape Club";
    window.youTubeService()->setAuthorization(authorization);
    window.setTape(tape);
    window.showWindow();
    ASSERT_TRUE(pumpUntil([&] { return window.categoryPopUp()->count() == 2; }));
    EXPECT_EQ(window.loginButton()->text(), "Sign Out");
    EXPECT_TRUE(window.uploadButton()->isEnabled());
    EXPECT_EQ(window.titleField()->text(), "Song for the web");
    EXPECT_EQ(window.descriptionTextView()->toPlainText(),
              YouTubeWindowController::descriptionForNotes(tape->notes()));

    window.categoryPopUp()->setCurrentIndex(1);
    window.privateCheckbox()->setChecked(true);
    window.keywordsTokenField()->setText("cassora, demo");
    window.performUpload();
    EXPECT_EQ(window.currentPage(), YouTubeWindowController::Page::Progress);
    ASSERT_TRUE(pumpUntil([&] { return window.currentPage() == YouTubeWindowController::Page::Complete; }));

    EXPECT_GT(server.received.size(), 10000);
    EXPECT_EQ(server.received.mid(4, 4), "ftyp"); // a QuickTime movie
    const QJsonObject snippet = server.metadata.value("snippet").toObject();
    EXPECT_EQ(snippet.value("title").toString(), "Song for the web");
    EXPECT_EQ(snippet.value("categoryId").toString(), "22");
    EXPECT_EQ(snippet.value("tags").toArray(), QJsonArray({"cassora", "demo"}));
    EXPECT_EQ(server.metadata.value("status").toObject().value("privacyStatus").toString(), "private");
    bool quickTime = false;
    for (const auto& request : server.requests) {
        quickTime |= request.headers.value("x-upload-content-type") == "video/quicktime";
    }
    EXPECT_TRUE(quickTime);

    // Signing out forgets the authorization.
    window.signInOrOut();
    EXPECT_FALSE(window.isSignedIn());
    EXPECT_EQ(window.loginButton()->text(), "Sign In");
    window.closeWindow();
}

// An upload the server stops taking is offered again, and goes on where it
// stopped; quitting while a movie is made stops it and removes its file.
TEST(YouTubeWindow, AStoppedUploadIsRetriedAndQuittingStopsTheMovie) {
    QTemporaryDir folder;
    const auto makeTape = [&](const QString& name, int seconds) {
        const QString path = QDir(folder.path()).filePath(name);
        QProcess::execute(
            "ffmpeg",
            {"-v", "error", "-f", "lavfi", "-i",
             QStringLiteral("sine=frequency=500:sample_rate=44100:duration=%1").arg(seconds),
             "-c:a", "aac", "-metadata", "title=" + name, path});
        auto tape = std::make_shared<Tape>(path);
        tape->setCommitsOnDestruction(false);
        return tape;
    };
    FakeVideoService server;
    server.keepsNothing = true;
    YouTubeWindowController window(server.endpoints());
    QStringList alerts;
    window.setAlertPresenter([&](const QString& message, const QString&) { alerts << message; });
    YouTubeAuthorization authorization;
    authorization.accessToken = "A1";
    authorization.refreshToken = "R1";
    authorization.expiry = QDateTime::currentDateTimeUtc().addSecs(3600);
    window.youTubeService()->setAuthorization(authorization);
    window.youTubeService()->setRetryBaseDelay(1);
    window.setTape(makeTape("Short.m4a", 2));
    window.showWindow();
    window.performUpload();
    ASSERT_TRUE(pumpUntil([&] { return !alerts.isEmpty(); }));
    EXPECT_EQ(alerts, QStringList({"The upload stopped"}));
    EXPECT_EQ(window.currentPage(), YouTubeWindowController::Page::Progress);
    EXPECT_FALSE(window.retryButton()->isHidden());
    server.keepsNothing = false;
    window.retryButton()->click();
    ASSERT_TRUE(
        pumpUntil([&] { return window.currentPage() == YouTubeWindowController::Page::Complete; }));
    EXPECT_EQ(server.count("POST", "/upload"), 1);
    EXPECT_EQ(server.received.mid(4, 4), "ftyp");

    window.setTape(makeTape("Long.m4a", 120));
    window.performUpload();
    ASSERT_TRUE(pumpUntil(
        [&] { return window.movie() && QFileInfo(window.movie()->filename()).size() > 0; }));
    const QString movie = window.movie()->filename();
    window.shutDown();
    EXPECT_EQ(window.movie(), nullptr);
    EXPECT_FALSE(QFileInfo::exists(movie));
    window.closeWindow();
}

#include <qt6keychain/keychain.h>

namespace {

// What the Secret Service holds under the window's item: the error of reading it.
QKeychain::Error storedAuthorization(QByteArray* data) {
    QKeychain::ReadPasswordJob job(YouTubeWindowController::KeychainItemName);
    job.setAutoDelete(false);
    job.setKey("authorization");
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, [&] { done = true; });
    job.start();
    pumpUntil([&] { return done; }, 10000);
    *data = job.binaryData();
    return job.error();
}

} // namespace

// Needs a Secret Service: run under tests/app/sharing/with-secret-service.sh.
TEST(YouTubeKeychain, TheSignInIsKeptInTheSecretServiceAndSignOutRemovesIt) {
    if (qEnvironmentVariableIsEmpty("CASSORA_SECRET_SERVICE")) {
        GTEST_SKIP() << "no private Secret Service";
    }
    FakeVideoService server;
    {
        YouTubeWindowController window(server.endpoints());
        YouTubeAuthorization authorization;
        authorization.accessToken = "A1";
        authorization.refreshToken = "R1";
        authorization.userName = "Tape Club";
        window.youTubeService()->setAuthorization(authorization);
        QByteArray stored;
        ASSERT_TRUE(pumpUntil([&] { return storedAuthorization(&stored) == QKeychain::NoError; }, 10000));
        EXPECT_EQ(YouTubeAuthorization::deserialized(stored).refreshToken, "R1");
    }
    {
        // The next launch starts signed in...
        YouTubeWindowController window(server.endpoints());
        window.showWindow();
        ASSERT_TRUE(pumpUntil([&] { return window.isSignedIn(); }, 10000));
        EXPECT_EQ(window.signedInUserName(), "Tape Club");
        window.signInOrOut();
        QByteArray stored;
        ASSERT_TRUE(pumpUntil([&] { return storedAuthorization(&stored) == QKeychain::EntryNotFound; },
                              10000));
        window.closeWindow();
    }
    {
        // ...and after signing out, signed out.
        YouTubeWindowController window(server.endpoints());
        window.showWindow();
        pumpUntil([] { return false; }, 500);
        EXPECT_FALSE(window.isSignedIn());
        window.closeWindow();
    }
}

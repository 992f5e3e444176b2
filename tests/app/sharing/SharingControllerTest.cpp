#include "app/deck/TapeView.h"
#include "app/library/Tape.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/sharing/SharingController.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<Tape> makeTape(const QString& folder, const QString& title) {
    const QString path = QDir(folder).filePath(title + ".m4a");
    QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                 "sine=frequency=330:sample_rate=44100:duration=1", "-c:a", "aac",
                                 "-metadata", "title=" + title, path});
    auto tape = std::make_shared<Tape>(path);
    tape->setCommitsOnDestruction(false);
    return tape;
}

QStringList titles(const QMenu& menu) {
    QStringList result;
    for (const QAction* action : menu.actions()) {
        result << action->text();
    }
    return result;
}

QAction* actionNamed(const QMenu& menu, const QString& title) {
    for (QAction* action : menu.actions()) {
        if (action->text() == title) {
            return action;
        }
    }
    return nullptr;
}

class SharingControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        mLibrary = std::make_unique<TapeLibraryArrayController>(mLibraryFolder.path());
        mFirst = makeTape(mLibraryFolder.path(), "First");
        mSecond = makeTape(mLibraryFolder.path(), "Second");
        mSharing = std::make_unique<SharingController>(
            mLibrary.get(), [this](const std::shared_ptr<Tape>& tape) {
                return tape ? tape : mSelected;
            });
    }

    QTemporaryDir mLibraryFolder;
    std::unique_ptr<TapeLibraryArrayController> mLibrary;
    std::shared_ptr<Tape> mFirst, mSecond, mSelected;
    std::unique_ptr<SharingController> mSharing;
};

} // namespace

TEST_F(SharingControllerTest, MenusListTheDesktopServicesThenTheCustomOnesInOrder) {
    QMenu menu;
    mSharing->createSharingSubmenuForMenu(&menu, {mFirst});
    EXPECT_EQ(titles(menu), QStringList({"Email", "Copy", "Music Library"}));

    QList<std::shared_ptr<Tape>> sentToYouTube;
    mSharing->setYouTubeSender([&](const std::shared_ptr<Tape>& tape) { sentToYouTube << tape; });
    mSharing->createSharingSubmenuForMenu(&menu, {mFirst});
    EXPECT_EQ(titles(menu), QStringList({"Email", "Copy", "YouTube", "Music Library"}));
    for (const QAction* action : menu.actions()) {
        EXPECT_TRUE(action->isEnabled());
    }

    // The share button's menu is the same list, for the selected tape.
    mSelected = mSecond;
    QWidget sender;
    QMenu* picker = mSharing->shareButtonPressed(&sender, QRectF(sender.rect()));
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(titles(*picker), QStringList({"Email", "Copy", "YouTube", "Music Library"}));
    actionNamed(*picker, "YouTube")->trigger();
    EXPECT_EQ(sentToYouTube, (QList<std::shared_ptr<Tape>>{mSecond}));
    picker->close();

    mSelected = nullptr;
    EXPECT_EQ(mSharing->shareButtonPressed(&sender, QRectF(sender.rect())), nullptr);
}

TEST_F(SharingControllerTest, DesktopServicesGetEveryItemAndCustomServicesEachTapeOnce) {
    QTemporaryDir music;
    // The music folder, as the desktop's user-dirs file names it.
    QFile dirs(QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QTextStream(&dirs) << "XDG_MUSIC_DIR=\"" << music.path() << "\"\n";
    dirs.close();

    QList<std::shared_ptr<Tape>> sentToYouTube;
    mSharing->setYouTubeSender([&](const std::shared_ptr<Tape>& tape) { sentToYouTube << tape; });
    QMenu menu;
    mSharing->createSharingSubmenuForMenu(&menu, {mFirst, mSecond});

    // The clipboard has both tapes as files and both titles: all four items.
    actionNamed(menu, "Copy")->trigger();
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    ASSERT_EQ(copied->urls().size(), 2);
    EXPECT_EQ(copied->urls().at(0).toLocalFile(), mFirst->filename());
    EXPECT_EQ(copied->urls().at(1).toLocalFile(), mSecond->filename());
    EXPECT_EQ(copied->text(), "First\nSecond");

    actionNamed(menu, "YouTube")->trigger();
    EXPECT_EQ(sentToYouTube, (QList<std::shared_ptr<Tape>>{mFirst, mSecond}));

    actionNamed(menu, "Music Library")->trigger();
    EXPECT_TRUE(QFile::exists(QDir(music.path()).filePath("First.m4a")));
    EXPECT_TRUE(QFile::exists(QDir(music.path()).filePath("Second.m4a")));
    QFile playlist(QDir(music.path()).filePath("Cassora.m3u"));
    ASSERT_TRUE(playlist.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(playlist.readAll()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.filter(".m4a").size(), 2);
}

TEST_F(SharingControllerTest, TheShareMenuHangsFromTheShareButtonOrTheSendersBounds) {
    QWidget plain;
    plain.resize(120, 40);
    EXPECT_EQ(SharingController::anchorRectForSender(&plain), QRectF(0, 0, 120, 40));
    TapeView cassette;
    cassette.resize(cassette.sizeHint());
    EXPECT_EQ(SharingController::anchorRectForSender(&cassette), cassette.shareButtonRect());
    EXPECT_FALSE(cassette.shareButtonRect().isEmpty());
}

#include "app/library/FilteringArrayController.h"
#include "app/library/TapeLibraryArrayController.h"
#include "platform/desktop/DesktopServices.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// A labelled tape in memory, on a file that does not need to hold audio.
std::shared_ptr<Tape> tape(const QDir& folder, const QString& name, const QString& title,
                           const QString& notes, const QDateTime& date, unsigned color = 0) {
    auto made = std::make_shared<Tape>(folder.filePath(name));
    made->setCommitsOnDestruction(false);
    made->setTitle(title);
    made->setNotes(notes);
    made->setDate(date);
    made->setTapeLetter(
        std::make_shared<TapeLetter>("A", TapeColorScheme::colorSchemeWithIndex(color)));
    return made;
}

QString titles(const ArrayController& controller) {
    QStringList list;
    for (const auto& t : controller.arrangedObjects()) {
        list << t->title();
    }
    return list.join(",");
}

class Search : public ::testing::Test {
protected:
    QTemporaryDir folder;
    QDir dir{folder.path()};
    FilteringArrayController controller;
    const QDateTime now = QDateTime::currentDateTime();

    void SetUp() override {
        controller.setContent({
            tape(dir, "1.m4a", "Interview with Ann", "notes on the garden", now.addDays(-1), 1),
            tape(dir, "2.m4a", "Interview with Bob", "", QDateTime(QDate(2011, 3, 9), QTime(12, 0)),
                 0),
            tape(dir, "3.m4a", "Lecture", "some notes", QDateTime(QDate(2012, 3, 4), QTime(9, 0)),
                 1),
            tape(dir, "4.m4a", "Band practice", "", QDateTime(QDate(2011, 7, 1), QTime(20, 0)), 3),
        });
    }
};

TEST_F(Search, NewestFirstWithoutAFilter) {
    EXPECT_EQ(titles(controller), "Interview with Ann,Lecture,Band practice,Interview with Bob");
}

TEST_F(Search, TermsAreAllRequiredUnlessOrIsAsked) {
    controller.setFilterString("interview notes");
    EXPECT_EQ(titles(controller), "Interview with Ann");
    controller.setFilterString("interview | notes");
    EXPECT_EQ(titles(controller), "Interview with Ann,Lecture,Interview with Bob");
    controller.setFilterString("interview  notes");
    EXPECT_EQ(titles(controller), "") << "an empty term matches nothing";
}

TEST_F(Search, AnySpaceSeparatesTermsAndDatesKeepTheirCase) {
    controller.setFilterString(QString::fromUtf8("interview\u00a0notes"));
    EXPECT_EQ(titles(controller), "Interview with Ann") << "a no-break space separates terms";
    controller.setFilterString(QString::fromUtf8("interview\u2003|\u2003notes"));
    EXPECT_EQ(titles(controller), "Interview with Ann,Lecture,Interview with Bob");
    controller.setFilterString("date:2012-03-04T09:00:00");
    EXPECT_EQ(titles(controller), "Lecture") << "an ISO date with a time parses";
}

TEST_F(Search, ColourQualityAndDates) {
    controller.setFilterString("color:blue");
    EXPECT_EQ(titles(controller), "Interview with Ann,Lecture");
    controller.setFilterString("color:blue quality:hq");
    EXPECT_EQ(titles(controller), "Interview with Ann,Lecture");
    controller.setFilterString("color:blue quality:mq");
    EXPECT_EQ(titles(controller), "");
    controller.setFilterString("color:re");
    EXPECT_EQ(titles(controller), "");
    controller.setFilterString("year:2011");
    EXPECT_EQ(titles(controller), "Band practice,Interview with Bob");
    controller.setFilterString("month:march");
    EXPECT_EQ(titles(controller), "Lecture,Interview with Bob");
    controller.setFilterString("date:yesterday");
    EXPECT_EQ(titles(controller), "Interview with Ann");
    controller.setFilterString("date:2012-03-04");
    EXPECT_EQ(titles(controller), "Lecture");
    controller.setFilterString("date:nonsense");
    EXPECT_EQ(titles(controller), "");
}

TEST_F(Search, TapesAddedDuringASearchStayListedOnce) {
    controller.setFilterString("nothing-matches-this");
    EXPECT_EQ(titles(controller), "");
    controller.addObject(tape(dir, "5.m4a", "New recording", "", now));
    EXPECT_EQ(titles(controller), "New recording");
    ASSERT_EQ(controller.selectedObjects().size(), 1u) << "the new tape is selected";
    controller.setFilterString("new");
    EXPECT_EQ(titles(controller), "New recording") << "matching and new: listed once";
    controller.setFilterString("");
    EXPECT_EQ(controller.arrangedObjects().size(), 5u);
    controller.setFilterString("nothing-matches-this");
    EXPECT_EQ(titles(controller), "") << "clearing the search forgot the new tapes";
}

TEST_F(Search, ChangingATapeRearranges) {
    controller.arrangedObjects().back()->setDate(now.addDays(1));
    EXPECT_EQ(titles(controller), "Interview with Bob,Interview with Ann,Lecture,Band practice");
}

// The library folder

void pumpUntil(const std::function<bool()>& done, int milliseconds = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

QString makeTapeFile(const QString& path) {
    QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                 "sine=frequency=440:sample_rate=8000:duration=0.2", "-c:a", "aac",
                                 "-f", "ipod", path});
    return path;
}

class LibraryFolder : public ::testing::Test {
protected:
    QTemporaryDir library;
    QTemporaryDir elsewhere;
};

TEST_F(LibraryFolder, FollowsTheFolder) {
    makeTapeFile(QDir(library.path()).filePath("first.m4a"));
    TapeLibraryArrayController controller(library.path());
    EXPECT_EQ(controller.arrangedObjects().size(), 1u);
    controller.startMonitoringRecordingDirectory();

    const QString outside = makeTapeFile(QDir(elsewhere.path()).filePath("copied.m4a"));
    QFile::copy(outside, QDir(library.path()).filePath("copied.m4a"));
    QFile::copy(outside, QDir(library.path()).filePath("LOUD.M4A"));
    QFile::copy(outside, QDir(library.path()).filePath("other.mp4"));
    pumpUntil([&] { return controller.arrangedObjects().size() == 2; });
    ASSERT_EQ(controller.arrangedObjects().size(), 2u) << "only the exact extension counts";
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{0}) << "the first row is selected";

    QFile::remove(QDir(library.path()).filePath("first.m4a"));
    pumpUntil([&] { return controller.arrangedObjects().size() == 1; });
    EXPECT_EQ(controller.arrangedObjects().size(), 1u);

    // Paused while recording: the growing file is not picked up.
    controller.pauseMonitoringRecordingDirectory();
    QFile::copy(outside, QDir(library.path()).filePath("recording.m4a"));
    pumpUntil([] { return false; }, 500);
    EXPECT_EQ(controller.arrangedObjects().size(), 1u);
    controller.resumeMonitoringRecordingDirectory();
    controller.stopMonitoringRecordingDirectory();
    controller.stopMonitoringRecordingDirectory(); // harmless twice
    controller.checkRecordingDirectory();
    EXPECT_EQ(controller.arrangedObjects().size(), 2u);
}

TEST_F(LibraryFolder, TapesThatAppearDuringASearchStayVisible) {
    makeTapeFile(QDir(library.path()).filePath("first.m4a"));
    TapeLibraryArrayController controller(library.path());
    controller.setFilterString("nothing-matches-this");
    EXPECT_TRUE(controller.arrangedObjects().empty());
    makeTapeFile(QDir(library.path()).filePath("second.m4a"));
    controller.checkRecordingDirectory();
    ASSERT_EQ(controller.arrangedObjects().size(), 1u);
    EXPECT_TRUE(controller.arrangedObjects().front()->filename().endsWith("second.m4a"));
    EXPECT_FALSE(QFile::exists(QDir(library.path()).filePath("gone.m4a")));
}

TEST_F(LibraryFolder, AnUnreadableFolderIsEmpty) {
    TapeLibraryArrayController controller(QDir(library.path()).filePath("missing"));
    EXPECT_TRUE(controller.soundFileList().isEmpty());
    EXPECT_TRUE(controller.arrangedObjects().empty());
}

TEST_F(LibraryFolder, DropsAreJudgedByContent) {
    const QString audio = makeTapeFile(QDir(elsewhere.path()).filePath("named-oddly.bin"));
    const QString text = QDir(elsewhere.path()).filePath("pretend.m4a");
    QFile file(text);
    file.open(QIODevice::WriteOnly);
    file.write("just some words\n");
    file.close();
    QMimeData audioDrop;
    audioDrop.setUrls({QUrl::fromLocalFile(audio)});
    QMimeData textDrop;
    textDrop.setUrls({QUrl::fromLocalFile(text)});
    TapeLibraryArrayController controller(library.path());
    EXPECT_TRUE(controller.validateDrop(&audioDrop));
    EXPECT_FALSE(controller.validateDrop(&textDrop));
    QList<QUrl> imported;
    controller.setImporter([&](const QList<QUrl>& urls) { imported = urls; });
    EXPECT_TRUE(controller.acceptDrop(&audioDrop));
    EXPECT_EQ(imported.size(), 1);
}

TEST_F(LibraryFolder, TrashMailAndMusicLibrary) {
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    const QString path = makeTapeFile(QDir(library.path()).filePath("old.m4a"));
    TapeLibraryArrayController controller(library.path());
    ASSERT_EQ(controller.arrangedObjects().size(), 1u);
    controller.moveTapeToTrash(controller.arrangedObjects().front());
    EXPECT_TRUE(controller.arrangedObjects().empty());
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QFile::exists(QDir(data.path()).filePath("Trash/files/old.m4a")));
    EXPECT_TRUE(QFile::exists(QDir(data.path()).filePath("Trash/info/old.m4a.trashinfo")));

    QTemporaryDir music;
    const QString song = makeTapeFile(QDir(library.path()).filePath("song.m4a"));
    const QString track = DesktopServices::addToMusicLibrary(song, "Cassora", music.path());
    EXPECT_EQ(track, QDir(music.path()).filePath("song.m4a"));
    EXPECT_EQ(DesktopServices::addToMusicLibrary(song, "Cassora", music.path()), track);
    QFile playlist(QDir(music.path()).filePath("Cassora.m3u"));
    ASSERT_TRUE(playlist.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(playlist.readAll()), "#EXTM3U\n" + track + "\n") << "listed once";

    Tape tape(song);
    tape.setCommitsOnDestruction(false);
    tape.setTitle("Talk");
    EXPECT_EQ(TapeLibraryArrayController::emailSubject(tape), "Cassora Recording: Talk");
    EXPECT_EQ(DesktopServices::mailCommand("S", "B", song),
              QStringList({"xdg-email", "--subject", "S", "--body", "B", "--attach", song}));
    EXPECT_TRUE(TapeLibraryArrayController::emailBody().contains("Recorded with Cassora"));
}

} // namespace

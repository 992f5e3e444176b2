// What interrupted work leaves in a library folder, and what two programs
// editing one label at once leave: every kill during the finishing of a
// recording ends in a labelled tape, temporary copies go, names that are not
// UTF-8 work, and concurrent label edits never lose a field.
#include "app/library/Tape.h"
#include "app/library/TapeImport.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/library/TapeRecovery.h"
#include "platform/desktop/FileNames.h"
#include "platform/media/RecordingJournal.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString makeTapeFile(const QString& path, double seconds = 0.5) {
    QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                 QStringLiteral("sine=frequency=440:duration=%1").arg(seconds),
                                 "-c:a", "aac", "-f", "ipod", path});
    return path;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
}

QStringList namesIn(const QString& folder) {
    QStringList names = FileNames::entries(folder);
    names.sort();
    return names;
}

class LibraryRecovery : public ::testing::Test {
protected:
    QTemporaryDir library;
    QString path(const QString& name) const { return QDir(library.path()).filePath(name); }
};

// Two programs edit one label: one sets the letter, the other the notes,
// each having read the label before the other wrote. Both edits survive,
// and the cover drawn last shows both.
TEST_F(LibraryRecovery, ConcurrentEditsKeepEveryField) {
    const QString file = makeTapeFile(path("talk.m4a")); // no letter stored yet
    Tape letterEdit(file);
    Tape notesEdit(file);
    letterEdit.setCommitsOnDestruction(false);
    notesEdit.setCommitsOnDestruction(false);
    QString coverLetter;
    QString coverNotes;
    Tape::setCoverArtRenderer([&](const Tape& tape) {
        coverLetter = tape.tapeLetter()->letter() + tape.tapeLetter()->colorScheme()->colorName();
        coverNotes = tape.notes();
        return QImage(4, 4, QImage::Format_ARGB32);
    });
    letterEdit.setTapeLetter(std::make_shared<TapeLetter>(
        QStringLiteral("Q"), TapeColorScheme::colorSchemeWithIndex(1)));
    ASSERT_TRUE(letterEdit.commitAttributes()) << letterEdit.lastError().toStdString();
    notesEdit.setNotes(QStringLiteral("the second half"));
    ASSERT_TRUE(notesEdit.commitAttributes()) << notesEdit.lastError().toStdString();
    Tape::setCoverArtRenderer({});

    Tape stored(file);
    stored.setCommitsOnDestruction(false);
    EXPECT_EQ(stored.tapeLetter()->letter(), "Q");
    EXPECT_EQ(stored.tapeLetter()->colorScheme()->colorName(), "blue");
    EXPECT_EQ(stored.notes(), "the second half");
    EXPECT_EQ(coverLetter, "Qblue");
    EXPECT_EQ(coverNotes, "the second half");
    EXPECT_FALSE(stored.dirty()) << "the letter is stored now";
}

// A journal that copies the start of a finished, labelled tape and claims
// more audio than it has changes nothing in the tape.
TEST_F(LibraryRecovery, AJournalBesideALabelledTapeChangesNothing) {
    const QString file = makeTapeFile(path("My Song.m4a"), 4);
    {
        Tape tape(file);
        tape.setTitle(QStringLiteral("My Song"));
        tape.setKeepsFileName(true);
        ASSERT_TRUE(tape.commitAttributes());
    }
    const QByteArray before = contents(file);
    RecordingJournalHeader header;
    header.codec = "aac";
    header.muxer = "ipod";
    header.sampleRate = 44100;
    header.channels = 1;
    header.bitRate = 128000;
    header.framesPerPacket = 1024;
    header.priming = 1024;
    header.dataOffset = 44;
    header.fileHeader.assign(before.begin(), before.begin() + 44);
    header.startedAt = 1700000000;
    RecordingJournal journal;
    ASSERT_EQ(journal.create(FileNames::toNative(file), header), 0);
    ASSERT_EQ(journal.append(std::vector<uint32_t>(5000, 3)), 0);
    journal.keep();

    for (const auto& result : TapeRecovery::recoverFolder(library.path(), "Tester")) {
        EXPECT_EQ(result.outcome, TapeRecovery::Result::Outcome::Failed)
            << result.filename.toStdString();
    }
    EXPECT_EQ(contents(file), before);
    Tape tape(file);
    tape.setCommitsOnDestruction(false);
    EXPECT_EQ(tape.title(), "My Song");
}

// A name whose bytes are not UTF-8 is labelled, renamed and listed like any.
TEST_F(LibraryRecovery, NamesThatAreNotUtf8Work) {
    const QByteArray folder = FileNames::encode(library.path());
    const QByteArray raw = folder + "/bad\xff\xfe name.m4a";
    makeTapeFile(path("plain.m4a"));
    ASSERT_EQ(::rename(FileNames::encode(path("plain.m4a")).constData(), raw.constData()), 0);
    const QString name = FileNames::decode(raw);
    EXPECT_EQ(FileNames::encode(name), raw);

    TapeLibraryArrayController listing(library.path());
    ASSERT_EQ(listing.arrangedObjects().size(), 1u);
    const auto tape = listing.arrangedObjects().front();
    EXPECT_EQ(FileNames::encode(tape->filename()), raw);
    EXPECT_GT(tape->duration(), 0.4);
    tape->setTitle(QStringLiteral("Renamed"));
    ASSERT_TRUE(tape->commitAttributes()) << tape->lastError().toStdString();
    EXPECT_EQ(QFileInfo(tape->filename()).fileName(), "Renamed.m4a");
    Tape reread(tape->filename());
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Renamed");
    tape->setCommitsOnDestruction(false);
}

// Temporary copies nobody holds, and recordings that never got past their
// header, go; those in use, and anything else, stay.
TEST_F(LibraryRecovery, LeftoversOfInterruptedWorkGo) {
    const QString tape = makeTapeFile(path("keep.m4a"));
    const QString uuid = QStringLiteral("0C2A6D5E-1B7F-4E0A-9C3D-5F6A7B8C9D0E");
    write(path(".keep.m4a." + uuid.toLower() + ".part"), QByteArray(4096, 'x'));
    write(path(".keep.m4a.cassora-AbC123"), QByteArray(4096, 'y'));
    write(path(uuid + ".m4a"), {}); // a recording that never started
    write(path("mine.m4a"), {});    // an empty file of the user's
    write(path(".notes.txt.part"), "not one of ours");
    // An import still running holds its copy.
    const QString live = path(".other.m4a." + uuid + ".part");
    write(live, "in progress");
    const int held = ::open(FileNames::encode(live).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    const auto results = TapeRecovery::recoverFolder(library.path(), QStringLiteral("Tester"));
    ::close(held);
    EXPECT_EQ(results.size(), 3);
    EXPECT_EQ(namesIn(library.path()),
              QStringList({".notes.txt.part", ".other.m4a." + uuid + ".part", "keep.m4a",
                           "mine.m4a"}));
    EXPECT_EQ(contents(tape).size(), QFileInfo(tape).size());
}

// An import killed part way leaves nothing the next check does not remove,
// and a name the library would not list gains its extension.
TEST_F(LibraryRecovery, InterruptedImportsLeaveNothing) {
    QTemporaryDir elsewhere;
    const QString big = QDir(elsewhere.path()).filePath("long interview.mp4");
    makeTapeFile(big, 600);
    for (int delay = 1; delay < 200; delay *= 3) {
        const pid_t child = fork();
        if (child == 0) {
            TapeImport::copyTape(big, library.path());
            _exit(0);
        }
        usleep(delay * 1000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        TapeRecovery::recoverFolder(library.path(), QStringLiteral("Tester"));
        for (const QString& name : namesIn(library.path())) {
            EXPECT_EQ(name, "long interview.m4a") << "after a kill at " << delay << " ms";
        }
    }
    EXPECT_EQ(TapeImport::libraryNameFor("song.M4A"), "song.m4a");
    EXPECT_EQ(TapeImport::libraryNameFor("memo"), "memo.m4a");
    EXPECT_EQ(TapeImport::libraryNameFor("take.aac"), "take.aac.m4a");
}

// A kill at any moment of finishing a recording, from writing its index to
// removing its journal, leaves one tape that the next check labels (or
// already labelled), plays for the length recorded, and no journal.
TEST_F(LibraryRecovery, AKillAtAnyStepOfFinishingLeavesALabelledTape) {
    const QStringList steps = {"trailer", "timing", "cut",    "journal", "append",
                               "retire",  "tidy",   "release", "none"};
    for (const QString& step : steps) {
        QTemporaryDir folder;
        QProcess probe;
        probe.start(QStringLiteral(CASSORA_FINISH_PROBE), {folder.path(), step});
        ASSERT_TRUE(probe.waitForFinished(60000));
        const int status = probe.exitCode();
        EXPECT_TRUE(status == 7 || (step == "none" && status == 0))
            << step.toStdString() << ": " << status << " "
            << probe.readAllStandardError().toStdString();

        const auto results = TapeRecovery::recoverFolder(folder.path(), QStringLiteral("Tester"));
        for (const auto& result : results) {
            EXPECT_NE(result.outcome, TapeRecovery::Result::Outcome::Failed)
                << step.toStdString() << ": " << result.error.toStdString();
        }
        const QStringList names = namesIn(folder.path());
        ASSERT_EQ(names.size(), 1) << step.toStdString() << ": " << names.join(' ').toStdString();
        EXPECT_FALSE(names.front().startsWith('.')) << step.toStdString();
        Tape tape(QDir(folder.path()).filePath(names.front()));
        tape.setCommitsOnDestruction(false);
        EXPECT_EQ(tape.title(), "Untitled") << step.toStdString();
        EXPECT_TRUE(tape.hasStoredLetter()) << step.toStdString();
        EXPECT_NEAR(tape.duration(), 2.0, 0.35) << step.toStdString();
        EXPECT_LT(tape.date().secsTo(QDateTime::currentDateTime()), 120) << step.toStdString();
    }
}

// A recording killed while it starts, before any audio is on the disk,
// leaves nothing under the name it was to have once the folder is next
// checked, not even an empty file, also under a name of the user's own.
TEST_F(LibraryRecovery, AKillWhileARecordingStartsLeavesNothing) {
    for (const QString& step : QStringList{"start", "named", "header"}) {
        QTemporaryDir folder;
        QProcess probe;
        probe.start(QStringLiteral(CASSORA_FINISH_PROBE),
                    {folder.path(), step, QStringLiteral("1"), QStringLiteral("my take.m4a")});
        ASSERT_TRUE(probe.waitForFinished(60000));
        EXPECT_EQ(probe.exitCode(), 7) << step.toStdString() << ": "
                                       << probe.readAllStandardError().toStdString();
        TapeRecovery::recoverFolder(folder.path(), QStringLiteral("Tester"));
        EXPECT_EQ(namesIn(folder.path()).join(' ').toStdString(), "")
            << "after a kill before " << step.toStdString();
    }
}

} // namespace

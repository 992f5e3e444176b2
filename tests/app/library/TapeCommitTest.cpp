// Label commits against real files: every layout keeps its audio, kills and
// concurrent writers never leave a mixed label, read-only and failed commits
// leave the bytes alone, and file names are mended.
#include "app/library/MP4Atom.h"
#include "app/library/MP4LabelWriter.h"
#include "app/library/MP4MovieBox.h"
#include "app/library/MP4Tags.h"
#include "app/library/Tape.h"
#include "audio/format/InternalInconsistencyException.h"
#include "platform/audio/FourCharCode.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <limits>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}

// The MD5 of every audio packet, as the index finds them.
QString packetChecksum(const QString& path) {
    const QString output =
        run("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a", "-c", "copy", "-f", "md5", "-"});
    const auto match = QRegularExpression("MD5=[0-9a-f]{32}").match(output);
    return match.hasMatch() ? match.captured(0) : output;
}

QString makeFile(const QString& path, const QStringList& options, double seconds = 4) {
    const QString sine = QStringLiteral("sine=frequency=440:duration=%1").arg(seconds);
    QStringList arguments = {"-v", "error", "-y", "-f", "lavfi", "-i", sine};
    arguments << options << path;
    run("ffmpeg", arguments);
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

// Splits the audio into two 'mdat' boxes with a 'free' box between them,
// at a chunk boundary, and corrects the index: a layout some writers make.
void splitAudio(const QString& path) {
    const QByteArray bytes = contents(path);
    const int gap = 8 + 16; // the second header and the 'free' box
    uint64_t split = 0;
    QByteArray movie;
    for (qsizetype at = 0; at + 8 <= bytes.size(); at += mp4ReadUInt32(bytes, at)) {
        if (mp4ReadUInt32(bytes, at + 4) == FourCC("moov")) {
            auto moov = MP4MovieBox::parse(bytes.mid(at, mp4ReadUInt32(bytes, at)));
            const auto offsets = moov.chunkOffsets();
            split = offsets.at(offsets.size() / 2);
            moov.shiftChunkOffsets(split, gap);
            movie = moov.serialized();
        }
    }
    QByteArray result;
    for (qsizetype at = 0; at + 8 <= bytes.size();) {
        const uint32_t size = mp4ReadUInt32(bytes, at);
        const uint32_t type = mp4ReadUInt32(bytes, at + 4);
        if (type == FourCC("mdat")) {
            const auto first = static_cast<uint32_t>(split - static_cast<uint64_t>(at));
            result.append(mp4UInt32(first) + "mdat" + bytes.mid(at + 8, first - 8));
            result.append(mp4UInt32(16) + "free" + QByteArray(8, 0));
            result.append(mp4UInt32(size - first + 8) + "mdat" +
                          bytes.mid(static_cast<qsizetype>(split), size - first));
        } else {
            result.append(type == FourCC("moov") ? movie : bytes.mid(at, size));
        }
        at += size;
    }
    write(path, result);
}

// Moves the audio of a faststart file to `audioStart`, behind a hole (the
// file is sparse: it costs no disk), and corrects the index. With `cutOff`
// the audio box claims more than the file holds, as a recording cut short does.
void moveAudioBehindAHole(const QString& path, uint64_t audioStart, bool cutOff) {
    const QByteArray bytes = contents(path);
    QByteArray head;
    QByteArray audio;
    qsizetype movieAt = -1;
    for (qsizetype at = 0; at + 8 <= bytes.size(); at += mp4ReadUInt32(bytes, at)) {
        const uint32_t size = mp4ReadUInt32(bytes, at);
        if (mp4ReadUInt32(bytes, at + 4) == FourCC("mdat")) {
            audio = bytes.mid(at + 8, size - 8);
            break;
        }
        movieAt = mp4ReadUInt32(bytes, at + 4) == FourCC("moov") ? head.size() : movieAt;
        head.append(bytes.mid(at, size));
    }
    ASSERT_GE(movieAt, 0);
    ASSERT_FALSE(audio.isEmpty());
    const uint64_t audioAt = static_cast<uint64_t>(head.size()) + 8;
    auto moov = MP4MovieBox::parse(head.mid(movieAt, mp4ReadUInt32(head, movieAt)));
    moov.shiftChunkOffsets(0, static_cast<int64_t>(audioStart - audioAt));
    head.replace(movieAt, moov.serialized().size(), moov.serialized());
    const uint64_t claimed =
        8 + (audioStart - audioAt) + static_cast<uint64_t>(audio.size()) + (cutOff ? 10240 : 0);
    ASSERT_LE(claimed, uint64_t{std::numeric_limits<uint32_t>::max()});
    head.append(mp4UInt32(static_cast<uint32_t>(claimed)) + "mdat");
    write(path, head);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, audio.constData(), audio.size(), static_cast<off_t>(audioStart)),
              audio.size());
    ::close(fd);
}

// Whether ffmpeg decodes every packet without a complaint.
bool decodesCleanly(const QString& path) {
    return run("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"}).trimmed().isEmpty();
}

uint64_t audioOffset(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const auto mdat = MP4Atom::fileAtomWithType(FourCC("mdat"), file.handle());
    return mdat ? mdat->offset() : 0;
}

struct Layout {
    const char* name;
    QStringList options;
    enum { Plain, Truncated, SplitAudio } shape;
};

void PrintTo(const Layout& layout, std::ostream* out) {
    *out << layout.name;
}

class CommitLayouts : public ::testing::TestWithParam<Layout> {
protected:
    QTemporaryDir folder;
};

// Whatever the layout, the packets stay byte for byte, the label reads back,
// and a second edit moves no audio.
TEST_P(CommitLayouts, KeepTheAudioAndMoveItAtMostOnce) {
    const Layout& layout = GetParam();
    const QString path = makeFile(folder.filePath("tape.m4a"), layout.options);
    if (layout.shape == Layout::Truncated) {
        write(path, contents(path).chopped(10 * 1024));
    } else if (layout.shape == Layout::SplitAudio) {
        splitAudio(path);
    }
    const QString checksum = packetChecksum(path);
    ASSERT_TRUE(checksum.startsWith("MD5=")) << checksum.toStdString();
    {
        Tape tape(path);
        tape.setKeepsFileName(true);
        tape.setTitle("First");
        tape.setNotes(QString(4000, QLatin1Char('n')));
        ASSERT_TRUE(tape.commitAttributes()) << tape.lastError().toStdString();
    }
    EXPECT_EQ(packetChecksum(path), checksum);
    uint64_t audio = audioOffset(path);
    for (const int notes : {100 * 1024, 10, 3000}) {
        Tape tape(path);
        tape.setKeepsFileName(true);
        tape.setTitle(QStringLiteral("Notes of %1").arg(notes));
        tape.setNotes(QString(notes, QLatin1Char('x')));
        ASSERT_TRUE(tape.commitAttributes()) << tape.lastError().toStdString();
        EXPECT_EQ(packetChecksum(path), checksum) << notes;
        if (notes != 100 * 1024) {
            EXPECT_EQ(audioOffset(path), audio) << "room was kept: the audio stays put";
        }
        audio = audioOffset(path); // far longer notes may move it once more
    }
    Tape reread(path);
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Notes of 3000");
    EXPECT_EQ(reread.notes().size(), 3000);
    EXPECT_TRUE(MP4Tags::forReading(path)->coverArt()) << "the cover is written with the label";
}

INSTANTIATE_TEST_SUITE_P(
    Files, CommitLayouts,
    ::testing::Values(
        Layout{"FaststartAAC",
               {"-c:a", "aac", "-b:a", "128k", "-movflags", "+faststart"},
               Layout::Plain},
        Layout{"OwnLayoutALAC", {"-c:a", "alac"}, Layout::Plain},
        Layout{"TwoTracksFaststart",
               {"-f", "lavfi", "-i", "sine=frequency=660:duration=4", "-map", "0", "-map", "1",
                "-c:a", "aac", "-movflags", "+faststart"},
               Layout::Plain},
        Layout{"TruncatedFaststart", {"-c:a", "aac", "-movflags", "+faststart"}, Layout::Truncated},
        Layout{"SplitAudioAtTheEnd", {"-c:a", "aac"}, Layout::SplitAudio},
        Layout{
            "SplitAudioFaststart", {"-c:a", "aac", "-movflags", "+faststart"}, Layout::SplitAudio}),
    [](const auto& info) { return std::string(info.param.name); });

// A file whose index points outside its audio is refused unchanged.
TEST(CommitRefusals, AudioTheIndexCannotReachIsLeftAlone) {
    QTemporaryDir folder;
    const QString path =
        makeFile(folder.filePath("odd.m4a"), {"-c:a", "aac", "-movflags", "+faststart"}, 1);
    QByteArray bytes = contents(path);
    // Rename the audio box: its chunks are now outside any audio data.
    bytes.replace(bytes.indexOf("mdat"), 4, "junk");
    write(path, bytes);
    MP4LabelWriter writer(path);
    ASSERT_TRUE(writer.lock());
    MP4LabelEdit edit;
    edit.setItem(MP4Tags::itemTitle(), MP4Tags::TypeText, "x");
    EXPECT_FALSE(writer.commit(edit));
    EXPECT_TRUE(writer.error().contains("not where its index says"))
        << writer.error().toStdString();
    EXPECT_EQ(contents(path), bytes);
}

// A faststart tape whose audio lies a hair under 4 GiB into the file, behind
// a hole; `checksum` is set to its packets' checksum from before the move.
class LabelsPast4GiB : public ::testing::Test {
protected:
    QTemporaryDir folder;
    QString checksum;

    QString longTape(bool cutOff) {
        const QString path =
            makeFile(folder.filePath("long.m4a"), {"-c:a", "aac", "-movflags", "+faststart"});
        checksum = packetChecksum(path);
        moveAudioBehindAHole(path, (uint64_t{1} << 32) - 256 * 1024, cutOff);
        return path;
    }
};

// A cut-off file must move its audio to take a label; moved past 4 GiB, its
// chunk offsets become 64-bit ones, and every packet is where they say.
TEST_F(LabelsPast4GiB, ACutOffFileMovedPast4GiBGets64BitOffsets) {
    const QString path = longTape(true);
    ASSERT_EQ(packetChecksum(path), checksum);
    {
        Tape tape(path);
        tape.setKeepsFileName(true);
        tape.setTitle("Past the line");
        tape.setNotes(QString(300 * 1024, QLatin1Char('n')));
        ASSERT_TRUE(tape.commitAttributes()) << tape.lastError().toStdString();
    }
    EXPECT_GT(QFileInfo(path).size(), qint64{1} << 32);
    EXPECT_EQ(packetChecksum(path), checksum);
    EXPECT_TRUE(decodesCleanly(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto moov = MP4Atom::fileAtomWithType(FourCC("moov"), file.handle());
    ASSERT_TRUE(moov);
    const QByteArray movie = moov->childData();
    EXPECT_FALSE(movie.contains("stco"));
    EXPECT_TRUE(movie.contains("co64"));
    const auto offsets =
        MP4MovieBox::parse(mp4UInt32(8 + movie.size()) + "moov" + movie).chunkOffsets();
    ASSERT_FALSE(offsets.empty());
    EXPECT_GT(offsets.front(), uint64_t{1} << 32);
    Tape reread(path);
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Past the line");
    struct stat status {};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &status), 0);
    EXPECT_LT(status.st_blocks * 512, 64 << 20) << "the copy keeps the hole";
}

// The editor that moves audio in place cannot widen the offsets: it refuses,
// and the file stays as it was.
TEST_F(LabelsPast4GiB, TheInPlaceEditorRefusesRatherThanWrapOffsets) {
    const QString path = longTape(false);
    const qint64 size = QFileInfo(path).size();
    QFile before(path);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray head = before.read(64 * 1024);
    {
        auto tags = MP4Tags::withMP4File(path);
        ASSERT_TRUE(tags);
        EXPECT_THROW(tags->setLyrics(QString(300 * 1024, QLatin1Char('x'))),
                     InternalInconsistencyException);
    }
    EXPECT_EQ(QFileInfo(path).size(), size);
    QFile after(path);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.read(64 * 1024), head);
    EXPECT_EQ(packetChecksum(path), checksum);
}

// Commits stopped or raced at random points

MP4LabelEdit labelOfRound(int round, int notesLength) {
    const QByteArray text = QStringLiteral("round %1").arg(round).toUtf8();
    MP4LabelEdit edit;
    edit.setItem(MP4Tags::itemTitle(), MP4Tags::TypeText, text);
    edit.setItem(MP4Tags::itemLyrics(), MP4Tags::TypeText, text + QByteArray(notesLength, ';'));
    return edit;
}

// The round whose label the file holds, or -1 when title and notes disagree.
int roundOfLabel(const QString& path) {
    const auto tags = MP4Tags::forReading(path);
    const QString title = tags->title().value_or("none");
    const QString notes = tags->lyrics().value_or("none");
    if (!notes.startsWith(title) || notes.mid(title.size()).contains(QRegularExpression("[^;]"))) {
        return -1;
    }
    return title.startsWith("round ") ? title.mid(6).toInt() : -2;
}

bool commitInChild(const QString& path, const MP4LabelEdit& edit) {
    MP4LabelWriter writer(path);
    return writer.lock(std::chrono::seconds(10)) && writer.commit(edit);
}

enum class Kind { OwnLayout, Faststart, CutOff };

class InterruptedCommits : public ::testing::TestWithParam<Kind> {
protected:
    QTemporaryDir folder;

    // A 30-second tape: our own layout, faststart, or faststart and cut off
    // (whose audio must move when its room runs out).
    QString makeTape() {
        const Kind kind = GetParam();
        const QString path = makeFile(folder.filePath("tape.m4a"),
                                      kind == Kind::OwnLayout
                                          ? QStringList{"-c:a", "alac"}
                                          : QStringList{"-c:a", "aac", "-movflags", "+faststart"},
                                      30);
        if (kind == Kind::CutOff) {
            write(path, contents(path).chopped(10 * 1024));
        }
        return path;
    }
};

TEST_P(InterruptedCommits, AKillAtAnyMomentLeavesOneWholeLabelAndTheAudio) {
    const QString path = makeTape();
    ASSERT_TRUE(commitInChild(path, labelOfRound(0, 10)));
    const QString checksum = packetChecksum(path);
    std::mt19937 random(static_cast<unsigned>(GetParam()) + 7);
    int label = 0;
    int killed = 0;
    QElapsedTimer timer;
    timer.start();
    for (int round = 1; timer.elapsed() < 3000; ++round) {
        const MP4LabelEdit edit = labelOfRound(round, static_cast<int>(random() % 150000));
        const int pause = static_cast<int>(random() % 400);
        const pid_t child = fork();
        if (child == 0) {
            MP4LabelWriter::setStepObserver([pause](const char*) { usleep(pause); });
            _exit(commitInChild(path, edit) ? 0 : 1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        killed += WIFSIGNALED(status) ? 1 : 0;
        const int found = roundOfLabel(path);
        ASSERT_TRUE(found == label || found == round)
            << "round " << round << ": the file holds label " << found;
        label = found;
        if (round % 8 == 0) {
            ASSERT_EQ(packetChecksum(path), checksum) << "round " << round;
        }
    }
    EXPECT_EQ(packetChecksum(path), checksum);
    EXPECT_GT(killed, 0) << "some commits were stopped part way";
    if (GetParam() == Kind::CutOff) {
        ASSERT_TRUE(commitInChild(path, labelOfRound(0, 4000000))); // moves the audio
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1)
            << "copies of stopped commits are cleared";
    }
}

TEST_P(InterruptedCommits, TwoWritersAtOnceTakeTurns) {
    const QString path = makeTape();
    const QString checksum = packetChecksum(path);
    std::mt19937 random(3);
    QElapsedTimer timer;
    timer.start();
    for (int round = 1; timer.elapsed() < 3000; round += 2) {
        pid_t writers[2];
        for (int w = 0; w < 2; ++w) {
            const MP4LabelEdit edit = labelOfRound(round + w, static_cast<int>(random() % 150000));
            writers[w] = fork();
            if (writers[w] == 0) {
                MP4LabelWriter::setStepObserver([](const char*) { usleep(50); });
                _exit(commitInChild(path, edit) ? 0 : 1);
            }
        }
        for (const pid_t writer : writers) {
            int status = 0;
            waitpid(writer, &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        const int found = roundOfLabel(path);
        ASSERT_TRUE(found == round || found == round + 1) << "the file holds label " << found;
        if (round % 8 == 1) {
            ASSERT_EQ(packetChecksum(path), checksum) << "round " << round;
        }
    }
    EXPECT_EQ(packetChecksum(path), checksum);
}

INSTANTIATE_TEST_SUITE_P(Layouts, InterruptedCommits,
                         ::testing::Values(Kind::OwnLayout, Kind::Faststart, Kind::CutOff),
                         [](const auto& info) {
                             return info.param == Kind::OwnLayout   ? "OwnLayout"
                                    : info.param == Kind::Faststart ? "Faststart"
                                                                    : "CutOff";
                         });

// Permissions

// Runs `body` in a child process, as the unprivileged user when this test
// runs as root (root reads and writes everything); its result is the exit status.
bool asAnotherUser(const std::function<bool()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(2);
        }
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(TapePermissions, AReadOnlyTapeReadsWholeAndRefusesCommitsUnchanged) {
    QTemporaryDir folder;
    chmod(QFile::encodeName(folder.path()).constData(), 0755);
    const QString path = makeFile(folder.filePath("tape.m4a"), {"-c:a", "aac"}, 1);
    {
        Tape tape(path);
        tape.setKeepsFileName(true);
        tape.setTitle("Kept");
        tape.setNotes("Read only");
        ASSERT_TRUE(tape.commitAttributes());
    }
    chmod(QFile::encodeName(path).constData(), 0444);
    const QByteArray bytes = contents(path);
    EXPECT_TRUE(asAnotherUser([&] {
        Tape tape(path);
        tape.setCommitsOnDestruction(false);
        if (tape.title() != "Kept" || tape.notes() != "Read only" || tape.dirty()) {
            return false;
        }
        tape.setNotes("Changed");
        return !tape.commitAttributes() && tape.lastError().contains("read-only");
    }));
    EXPECT_EQ(contents(path), bytes);
}

TEST(TapePermissions, ARenameTheFolderRefusesLeavesTheBytesAsTheyWere) {
    QTemporaryDir folder;
    chmod(QFile::encodeName(folder.path()).constData(), 0755);
    const QString path = makeFile(folder.filePath("tape.m4a"), {"-c:a", "aac"}, 1);
    (void)!chown(QFile::encodeName(path).constData(), 65534, 65534);
    if (getuid() != 0) {
        chmod(QFile::encodeName(folder.path()).constData(), 0555);
    }
    const QByteArray bytes = contents(path);
    EXPECT_TRUE(asAnotherUser([&] {
        Tape tape(path);
        tape.setCommitsOnDestruction(false);
        tape.setTitle("New title");
        return !tape.commitAttributes() && tape.lastError().contains("is not writable") &&
               tape.titleDirty();
    }));
    EXPECT_EQ(contents(path), bytes);
    chmod(QFile::encodeName(folder.path()).constData(), 0755);
}

TEST(TapePermissions, OnlyANewRecordingMakesAFile) {
    QTemporaryDir folder;
    const QString missing = folder.filePath("gone.m4a");
    {
        Tape tape(missing);
        tape.setCommitsOnDestruction(false);
        EXPECT_EQ(tape.tapeLetter()->letter(), "A");
    }
    EXPECT_FALSE(QFileInfo::exists(missing)) << "no ghost file";
    const QString fresh = folder.filePath("new.m4a");
    const auto tape = Tape::forNewRecording(fresh);
    tape->setCommitsOnDestruction(false);
    EXPECT_TRUE(QFileInfo::exists(fresh));
    EXPECT_EQ(QFileInfo(fresh).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
    // A name that is taken is never recorded over.
    EXPECT_EQ(Tape::forNewRecording(fresh), nullptr);
}

// File names

TEST(TapeNames, UnsafeTitlesGiveSafeNames) {
    QTemporaryDir folder;
    Tape dated(folder.filePath("x.m4a"));
    dated.setCommitsOnDestruction(false);
    dated.setDate(QDateTime(QDate(2012, 3, 4), QTime(10, 0)));
    EXPECT_EQ(dated.fileNameForTitle("Talk: A/B"), "[2012-03-04] Talk_ A_B");
    EXPECT_EQ(dated.fileNameForTitle("  line\none\ttwo\x1b[31m  "),
              "[2012-03-04] line one two [31m");
    EXPECT_EQ(dated.fileNameForTitle(QString::fromUtf8("no\xc2\xa0"
                                                       "break")),
              "[2012-03-04] no break");
    EXPECT_EQ(dated.fileNameForTitle(""), "[2012-03-04]");

    Tape undated(folder.filePath("y.m4a"));
    undated.setCommitsOnDestruction(false);
    EXPECT_EQ(undated.fileNameForTitle("Title"), "Title") << "no leading space";
    EXPECT_EQ(undated.fileNameForTitle(""), "Untitled");
    EXPECT_EQ(undated.fileNameForTitle("."), "_");
    EXPECT_EQ(undated.fileNameForTitle(".."), "__");
    EXPECT_EQ(undated.fileNameForTitle(" \n "), "Untitled");

    // Cut at a character boundary, with room for the extension and a number.
    const QString longTitle = QString(300, QChar(0x00E9)); // two bytes each in UTF-8
    const QString cut = undated.fileNameForTitle(longTitle);
    EXPECT_LE(cut.toUtf8().size() + 4 + 8, 255);
    EXPECT_GT(cut.toUtf8().size(), 230);
    EXPECT_EQ(cut, QString(cut.size(), QChar(0x00E9)));
}

TEST(TapeNames, ALongTitleIsCommittedAndTheFileRenamed) {
    QTemporaryDir folder;
    const QString path = makeFile(folder.filePath("x.m4a"), {"-c:a", "aac"}, 1);
    Tape tape(path);
    tape.setTitle(QString(300, QLatin1Char('t')));
    ASSERT_TRUE(tape.commitAttributes()) << tape.lastError().toStdString();
    EXPECT_LE(QFileInfo(tape.filename()).fileName().toUtf8().size(), 255);
    EXPECT_EQ(MP4Tags::forReading(tape.filename())->title()->size(), 300) << "the label is whole";

    // The same title again keeps the name; a new one renames.
    const QString named = tape.filename();
    tape.setTitle(QString(300, QLatin1Char('t')));
    ASSERT_TRUE(tape.commitAttributes());
    EXPECT_EQ(tape.filename(), named);
}

} // namespace

// Tape label benchmarks against TagLib, equal work on both sides:
//   build/bench/tags_bench [--quick]
// 1. Listing tapes labelled by Cassora (title, notes, date, letter and cover):
//    what `cassora library` reads, against TagLib reading the same fields
//    and the audio properties.
// 2. Committing a label (title, notes and the same cover PNG) on a long tape
//    of our own layout (metadata after the audio), and on faststart files
//    (metadata in front) with 4 KB and 100 KB of notes; then a second edit,
//    which must move no audio.

#include "app/library/MP4Atom.h"
#include "app/library/MP4LabelWriter.h"
#include "app/library/MP4Tags.h"
#include "app/library/Tape.h"
#include "app/library/TapeLibraryArrayController.h"
#include "platform/audio/FourCharCode.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/tstringlist.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

const char* verdict(bool ok) {
    return ok ? "ok" : "MISSED";
}

// Speech-like test signal: a tone with noise, so the encoders do real work.
bool makeTape(const QString& path, double duration, const QString& codec, bool faststart) {
    const QString signal = QStringLiteral("sine=frequency=220:sample_rate=44100:duration=%1,"
                                          "volume=0.5[a];anoisesrc=d=%1:r=44100:a=0.05[n];"
                                          "[a][n]amix=inputs=2")
                               .arg(duration);
    QStringList arguments = {"-v", "error", "-y", "-filter_complex", signal, "-ac", "2"};
    arguments << codec.split(' ');
    if (faststart) {
        arguments << "-movflags"
                  << "+faststart";
    }
    arguments << path;
    return QProcess::execute("ffmpeg", arguments) == 0;
}

// The encoder's audio is put on disk before timing, so that neither side's
// commit pays for flushing it.
void settle(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadWrite)) {
        fsync(file.handle());
    }
}

qint64 mdatOffset(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const auto mdat = MP4Atom::fileAtomWithType(FourCC("mdat"), file.handle());
    return mdat ? static_cast<qint64>(mdat->offset()) : -1;
}

QString notesOf(int bytes) {
    QString notes;
    while (notes.size() < bytes) {
        notes += QStringLiteral("Notes written after the recording, line %1.\n").arg(notes.size());
    }
    return notes.left(bytes);
}

void benchListing(const QDir& folder, int count) {
    const QString first = folder.filePath("tape0.m4a");
    makeTape(first, 30, "-c:a aac -b:a 128k", false);
    {
        Tape tape(first);
        tape.setKeepsFileName(true);
        tape.setTitle("An interview in the garden");
        tape.setNotes(notesOf(1000));
        tape.setDate(QDateTime::currentDateTime());
        tape.commitAttributes(); // stores letter and cover, as every Cassora tape has
    }
    for (int i = 1; i < count; ++i) {
        QFile::copy(first, folder.filePath(QStringLiteral("tape%1.m4a").arg(i)));
    }
    auto started = Clock::now();
    size_t listed = 0;
    {
        TapeLibraryArrayController library(folder.path());
        listed = library.arrangedObjects().size();
    }
    const double ours = seconds(started);
    started = Clock::now();
    size_t read = 0;
    for (const QString& name : folder.entryList({"*.m4a"}, QDir::Files)) {
        TagLib::MP4::File file(QFile::encodeName(folder.filePath(name)).constData(), true,
                               TagLib::AudioProperties::Average);
        const auto* tag = file.tag();
        const auto title = tag->title();
        const auto notes = tag->item("\251lyr").toStringList();
        const auto date = tag->item("\251day").toStringList();
        const auto* audio = file.audioProperties();
        read += audio && audio->lengthInMilliseconds() > 0 && !title.isEmpty() ? 1 : 0;
        (void)notes;
        (void)date;
    }
    const double theirs = seconds(started);
    std::printf("Listing %zu Cassora tapes (%zu read by TagLib): ours %.3f s, TagLib %.3f s, "
                "ratio %.2f (goal <= 1.5) %s\n",
                listed, read, ours, theirs, ours / theirs, verdict(ours / theirs <= 1.5));
}

MP4LabelEdit labelEdit(const QString& title, const QString& notes, const QByteArray& cover) {
    MP4LabelEdit edit;
    edit.setItem(MP4Tags::itemTitle(), MP4Tags::TypeText, title.toUtf8());
    edit.setItem(MP4Tags::itemLyrics(), MP4Tags::TypeText, notes.toUtf8());
    edit.setItem(FourCC("covr"), MP4Tags::TypePNG, cover);
    return edit;
}

double commitOurs(const QString& path, const MP4LabelEdit& edit) {
    const auto started = Clock::now();
    MP4LabelWriter writer(path);
    if (!writer.lock() || !writer.commit(edit)) {
        std::printf("  our commit failed: %s\n", writer.error().toUtf8().constData());
    }
    return seconds(started);
}

double commitTagLib(const QString& path, const QString& title, const QString& notes,
                    const QByteArray& cover) {
    const auto started = Clock::now();
    TagLib::MP4::File file(QFile::encodeName(path).constData());
    file.tag()->setTitle(TagLib::String(title.toStdString(), TagLib::String::UTF8));
    file.tag()->setItem(
        "\251lyr", TagLib::StringList(TagLib::String(notes.toStdString(), TagLib::String::UTF8)));
    TagLib::MP4::CoverArtList covers;
    covers.append(TagLib::MP4::CoverArt(
        TagLib::MP4::CoverArt::PNG,
        TagLib::ByteVector(cover.constData(), static_cast<unsigned>(cover.size()))));
    file.tag()->setItem("covr", covers);
    file.save();
    return seconds(started);
}

QByteArray coverFor(const QString& path) {
    Tape tape(path);
    tape.setCommitsOnDestruction(false);
    tape.setTitle("A new and longer title for the tape");
    return MP4Tags::pngData(Tape::renderCoverArt(tape));
}

// Our own layout: the audio first, the metadata after it.
void benchOwnTape(const QDir& folder, double duration) {
    const QString ours = folder.filePath("own-ours.m4a");
    const QString theirs = folder.filePath("own-taglib.m4a");
    makeTape(ours, duration, "-c:a alac", false);
    QFile::copy(ours, theirs);
    settle(ours);
    settle(theirs);
    const QByteArray cover = coverFor(ours);
    const QString title = "A new and longer title for the tape";
    const QString notes = notesOf(4096);
    const qint64 audio = mdatOffset(ours);
    const double first = commitOurs(ours, labelEdit(title, notes, cover));
    const double second = commitOurs(ours, labelEdit(title + " again", notesOf(5000), cover));
    const double tagLib = commitTagLib(theirs, title, notes, cover);
    const bool stayed = mdatOffset(ours) == audio;
    std::printf("Commit on our own %.0f-minute HQ tape: ours %.4f s (goal < 0.005) %s, a second "
                "edit %.4f s %s; TagLib %.4f s; the audio %s\n",
                duration / 60, first, verdict(first < 0.005), second, verdict(second < 0.005),
                tagLib, stayed ? "did not move (ok)" : "MOVED (MISSED)");
}

void benchFaststart(const QDir& folder, double duration, int notesBytes) {
    const QString ours = folder.filePath(QStringLiteral("fast-ours-%1.m4a").arg(notesBytes));
    const QString theirs = folder.filePath(QStringLiteral("fast-taglib-%1.m4a").arg(notesBytes));
    makeTape(ours, duration, "-c:a aac -b:a 128k", true);
    QFile::copy(ours, theirs);
    settle(ours);
    settle(theirs);
    const QByteArray cover = coverFor(ours);
    const QString title = "A new and longer title for the tape";
    const QString notes = notesOf(notesBytes);
    const double first = commitOurs(ours, labelEdit(title, notes, cover));
    const double tagLib = commitTagLib(theirs, title, notes, cover);
    const qint64 audio = mdatOffset(ours);
    const double second =
        commitOurs(ours, labelEdit(title + " again", notesOf(notesBytes + 500), cover));
    const double tagLibSecond =
        commitTagLib(theirs, title + " again", notesOf(notesBytes + 500), cover);
    const bool stayed = mdatOffset(ours) == audio;
    std::printf("Commit on a %.0f-minute faststart tape with %d KB of notes: ours %.4f s, TagLib "
                "%.4f s, ratio %.2f (goal <= 1) %s; second edit ours %.4f s, TagLib %.4f s, "
                "the audio %s\n",
                duration / 60, notesBytes / 1024, first, tagLib, first / tagLib,
                verdict(first <= tagLib), second, tagLibSecond,
                stayed ? "did not move (ok)" : "MOVED (MISSED)");
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const double hour = quick ? 300 : 3600;
    QTemporaryDir folder;
    QDir(folder.path()).mkdir("library");
    benchListing(QDir(folder.filePath("library")), quick ? 100 : 1000);
    benchOwnTape(QDir(folder.path()), hour);
    benchFaststart(QDir(folder.path()), hour, 4 * 1024);
    benchFaststart(QDir(folder.path()), hour, 100 * 1024);
    return 0;
}

// Tape metadata benchmarks against TagLib, measured side by side:
//   build/bench/tags_bench [--quick]
// Reads the attributes of many tapes, and commits a new title and notes on a
// long lossless tape with its metadata after the audio and before it.

#include "app/library/MP4Tags.h"
#include "app/library/Tape.h"

#include <QCoreApplication>
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

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

bool makeTape(const QString& path, double duration, const QString& codec, bool faststart) {
    QStringList arguments = {
        "-v",
        "error",
        "-y",
        "-f",
        "lavfi",
        "-i",
        QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(duration),
        "-ac",
        "2"};
    arguments << codec.split(' ');
    if (faststart) {
        arguments << "-movflags"
                  << "+faststart";
    }
    arguments << "-metadata"
              << "title=Tape" << path;
    return QProcess::execute("ffmpeg", arguments) == 0;
}

// Where the audio data starts: moving it is what a commit must avoid.
qint64 mdatOffset(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        file.seek(at);
        const QByteArray header = file.read(8);
        const quint32 size = quint32(uchar(header[0])) << 24 | quint32(uchar(header[1])) << 16 |
                             quint32(uchar(header[2])) << 8 | uchar(header[3]);
        if (header.mid(4, 4) == "mdat") {
            return at;
        }
        if (size < 8) {
            return -1;
        }
        at += size;
    }
    return -1;
}

void benchReads(const QDir& folder, int count) {
    const QString first = folder.filePath("read0.m4a");
    makeTape(first, 1.0, "-c:a aac -b:a 128k", false);
    for (int i = 1; i < count; ++i) {
        QFile::copy(first, folder.filePath(QStringLiteral("read%1.m4a").arg(i)));
    }
    auto started = Clock::now();
    for (int i = 0; i < count; ++i) {
        Tape tape(folder.filePath(QStringLiteral("read%1.m4a").arg(i)));
        tape.setCommitsOnDestruction(false);
    }
    const double ours = seconds(started);
    started = Clock::now();
    for (int i = 0; i < count; ++i) {
        TagLib::MP4::File file(
            QFile::encodeName(folder.filePath(QStringLiteral("read%1.m4a").arg(i))).constData());
        const auto title = file.tag()->title();
        const auto length =
            file.audioProperties() ? file.audioProperties()->lengthInMilliseconds() : 0;
        (void)title;
        (void)length;
    }
    const double theirs = seconds(started);
    std::printf("Reading %d tapes: ours %.3f s, TagLib %.3f s, ratio %.2f (goal <= 1)\n", count,
                ours, theirs, ours / theirs);
}

void benchCommit(const QDir& folder, double duration, bool faststart) {
    const QString ours = folder.filePath(faststart ? "ours-before.m4a" : "ours-after.m4a");
    const QString theirs = folder.filePath(faststart ? "taglib-before.m4a" : "taglib-after.m4a");
    makeTape(ours, duration, "-c:a alac", faststart);
    QFile::copy(ours, theirs);
    const qint64 audioBefore = mdatOffset(ours);

    auto started = Clock::now();
    {
        auto tags = MP4Tags::withMP4File(ours);
        tags->setTitle("A new and longer title for the tape");
        tags->setLyrics("Notes written after the recording, a few lines of them.");
    }
    const double oursTime = seconds(started);
    const bool audioStayed = mdatOffset(ours) == audioBefore;

    started = Clock::now();
    {
        TagLib::MP4::File file(QFile::encodeName(theirs).constData());
        file.tag()->setTitle("A new and longer title for the tape");
        file.tag()->setItem("\251lyr",
                            TagLib::StringList(TagLib::String(
                                "Notes written after the recording, a few lines of them.")));
        file.save();
    }
    const double theirTime = seconds(started);
    std::printf(
        "Commit on a %.0f-minute HQ tape, metadata %s the audio: ours %.4f s, TagLib %.4f s, "
        "ratio %.2f (goal <= 1)%s\n",
        duration / 60, faststart ? "before" : "after", oursTime, theirTime, oursTime / theirTime,
        faststart ? "" : (audioStayed ? "; the audio did not move" : "; THE AUDIO MOVED"));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    QTemporaryDir folder;
    benchReads(QDir(folder.path()), quick ? 100 : 1000);
    benchCommit(QDir(folder.path()), quick ? 300 : 3600, false);
    benchCommit(QDir(folder.path()), quick ? 300 : 3600, true);
    return 0;
}

// How long the tape box takes to appear over a library of 1,000 tapes:
//   build/bench/tapebox_bench [--folder DIR] [--check]
//
// The deck window must be shown within a second of launch; the tape box may
// take half of that. Measured: from creating the library controller over the
// folder (which reads every tape's label and headers) to the tape box's first
// paint on the offscreen platform. The reference, timed in the same run, is
// listing the folder's file names, the least any tape box must do.
//
// The library is made once (in DIR, or in the temporary folder) and reused:
// 1,000 copies of four real tapes of different lengths and formats, each with
// a label of its own (title, notes, date, letter and colour). The main figure
// is the best of three runs over a warm file cache; a last run first drops
// the tapes' files from the cache, as the first launch after a reboot finds
// them.

#include "BenchReport.h"

#include "app/deck/TapeBoxView.h"
#include "app/library/Tape.h"
#include "app/library/TapeLibraryArrayController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTapes = 1000;
constexpr double kGoalSeconds = 0.5;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Source {
    const char* name;
    double seconds;
    QStringList codec;
};

// Speech-like: a tone under noise, so the encoders do real work.
bool makeSource(const QString& path, const Source& source) {
    const QString signal = QStringLiteral("sine=frequency=220:sample_rate=44100:duration=%1,"
                                          "volume=0.5[a];anoisesrc=d=%1:r=44100:a=0.05[n];"
                                          "[a][n]amix=inputs=2")
                               .arg(source.seconds);
    QStringList arguments = {"-v", "error", "-y", "-filter_complex", signal};
    arguments << source.codec << "-f"
              << "ipod" << path;
    return QProcess::execute("ffmpeg", arguments) == 0;
}

// The library: made once, then reused while it still holds 1,000 tapes.
bool prepareLibrary(const QString& folder) {
    QDir dir(folder);
    if (dir.entryList({"*.m4a"}, QDir::Files).size() == kTapes) {
        return true;
    }
    dir.removeRecursively();
    QDir().mkpath(folder);
    QDir sources(folder + ".sources");
    QDir().mkpath(sources.path());
    // The qualities the deck records: ALAC (HQ), AAC 128 kbit/s (MQ) and
    // AAC 48 kbit/s at 22.05 kHz (LQ), from a short note to a long talk.
    const Source kinds[] = {
        {"note-hq.m4a", 12, {"-ac", "2", "-c:a", "alac", "-sample_fmt", "s16p"}},
        {"memo-mq.m4a", 45, {"-ac", "2", "-c:a", "aac", "-b:a", "128k"}},
        {"interview-lq.m4a", 240, {"-ac", "1", "-ar", "22050", "-c:a", "aac", "-b:a", "48k"}},
        {"lecture-lq.m4a", 600, {"-ac", "1", "-ar", "22050", "-c:a", "aac", "-b:a", "48k"}},
    };
    for (const Source& kind : kinds) {
        if (!QFile::exists(sources.filePath(kind.name)) &&
            !makeSource(sources.filePath(kind.name), kind)) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", kind.name);
            return false;
        }
    }
    std::printf("Making %d labelled tapes in %s (once)...\n", kTapes, qPrintable(folder));
    std::fflush(stdout);
    const QDateTime start(QDate(2023, 1, 1), QTime(9, 0));
    const char* const topics[] = {"Interview", "Band practice",   "Lecture",      "Voice memo",
                                  "Meeting",   "Field recording", "Podcast take", "Rehearsal"};
    for (int n = 0; n < kTapes; ++n) {
        const Source& kind = kinds[n % 4];
        const QString path = dir.filePath(QStringLiteral("tape-%1.m4a").arg(n, 4, 10, QChar('0')));
        if (!QFile::copy(sources.filePath(kind.name), path)) {
            return false;
        }
        Tape tape(path);
        tape.setKeepsFileName(true);
        tape.setTitle(QStringLiteral("%1 %2").arg(QString::fromLatin1(topics[n % 8])).arg(n));
        tape.setNotes(QStringLiteral("Notes for tape %1, recorded at the usual place.").arg(n));
        tape.setDate(start.addSecs(static_cast<qint64>(n) * 97'213));
        tape.setTapeLetter(std::make_shared<TapeLetter>(
            QString(QChar('A' + n % 26)), TapeColorScheme::colorSchemeWithIndex(n % 8)));
        if (!tape.commitAttributes()) {
            std::fprintf(stderr, "labelling %s failed: %s\n", qPrintable(path),
                         qPrintable(tape.lastError()));
            return false;
        }
    }
    return true;
}

// Asks the kernel to drop the library's files from the page cache, as after
// a reboot; only these files, so nothing else on the machine is disturbed.
void evictFromCache(const QString& folder) {
    const QDir dir(folder);
    for (const QString& name : dir.entryList({"*.m4a"}, QDir::Files)) {
        const int fd = ::open(QFile::encodeName(dir.filePath(name)).constData(), O_RDONLY);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
}

// Watches a widget for the end of its first paint.
class FirstPaint : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted = true; // the paint itself finishes before processEvents returns
        }
        return false;
    }
};

struct Run {
    double listing = 0;    // listing the names
    double controller = 0; // the controller over the folder
    double total = 0;      // to the first paint
    size_t rows = 0;
};

Run measureOnce(const QString& folder) {
    Run run;
    auto start = Clock::now();
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot);
    run.listing = since(start);
    if (names.size() < kTapes) {
        return run;
    }

    start = Clock::now();
    auto* controller = new TapeLibraryArrayController(folder);
    run.controller = since(start);
    controller->setSortKey(QStringLiteral("date"), false);
    TapeBoxView view(controller);
    FirstPaint watcher;
    view.viewport()->installEventFilter(&watcher);
    view.resize(TapeBoxView::BoxWidth, 520);
    view.selectRowAndScrollToVisible(0);
    view.show();
    QElapsedTimer limit;
    limit.start();
    while (!watcher.painted && limit.elapsed() < 10'000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    run.total = watcher.painted ? since(start) : -1;
    run.rows = static_cast<size_t>(view.tapeModel()->rowCount());
    view.hide();
    delete controller; // the box empties itself
    return run;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QString folder = QDir::temp().filePath(QStringLiteral("cassora-tapebox-bench"));
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc) {
            folder = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--check") == 0) {
            check = true;
        }
    }
    BenchReport report;
    if (!prepareLibrary(folder)) {
        report.failed("tape box over 1,000 tapes", "the library could not be made");
        return 1;
    }
    measureOnce(folder); // warms the file cache and the fonts

    Run best;
    best.total = 1e9;
    best.listing = 1e9;
    for (int round = 0; round < 3; ++round) {
        const Run run = measureOnce(folder);
        if (run.total < 0 || run.rows != kTapes) {
            report.failed(
                "tape box over 1,000 tapes",
                formatted("%zu rows shown, painted: %s", run.rows, run.total < 0 ? "no" : "yes"));
            return 1;
        }
        best.listing = std::min(best.listing, run.listing);
        if (run.total < best.total) {
            best.total = run.total;
            best.controller = run.controller;
        }
    }

    // The first launch after a reboot reads the labels from the disk.
    evictFromCache(folder);
    const Run cold = measureOnce(folder);

    report.heading(formatted("Tape box over %d tapes in %s (best of 3, warm cache)", kTapes,
                             qPrintable(folder)));
    std::printf("  reference: listing the folder's file names: %.2f ms\n", best.listing * 1e3);
    report.figure(formatted("controller over the folder to the tape box's first paint: %.0f ms "
                            "(of which reading the tapes: %.0f ms), %.0fx the listing",
                            best.total * 1e3, best.controller * 1e3, best.total / best.listing),
                  formatted("below %.0f ms", kGoalSeconds * 1e3), best.total < kGoalSeconds);
    report.figure(formatted("the same with the tapes' files dropped from the file cache first: "
                            "%.0f ms (of which reading the tapes: %.0f ms)",
                            cold.total * 1e3, cold.controller * 1e3),
                  formatted("below %.0f ms", kGoalSeconds * 1e3),
                  cold.total >= 0 && cold.total < kGoalSeconds);
    return check && !report.allMet() ? 1 : 0;
}

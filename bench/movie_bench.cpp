// The tape movie's speed goal: a tape renders into its movie at four times
// real time or faster on this machine, with both tracks encoded for real.
//
// The tape is two minutes of music-like stereo programme (chords, bass and
// noise, see ProgrammeSignal) as an MQ tape (AAC, 128 kbit/s), labelled.
// Figures, each against its goal:
//   1. movie seconds per second of rendering (wall clock), goal >= 4;
//   2. the same against the ffmpeg command line making the same movie from
//      one still frame of the cassette (same size, rate, encoder settings
//      and sound), which draws nothing per frame: the cost of drawing the
//      spinning spools and of our own pipeline, goal <= 1.5 x its time;
//   3. CPU seconds per movie second (both cores count), goal <= 0.5.
//
//   build/bench/movie_bench [--quick] [--check]
#include "BenchReport.h"
#include "ProgrammeSignal.h"

#include "app/library/Tape.h"
#include "app/sharing/TapeMovie.h"
#include "app/deck/CassettePainter.h"
#include "app/deck/MainTapeLabelView.h"
#include "app/deck/NotesTapeLabelView.h"
#include "platform/media/MovieReader.h"

#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <sys/resource.h>

namespace {

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool runTool(const QString& program, const QStringList& arguments, QString* output = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        if (output) {
            *output = QString::fromUtf8(process.readAll());
        }
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool quick = false, check = false;
    for (int i = 1; i < argc; ++i) {
        quick |= std::strcmp(argv[i], "--quick") == 0;
        check |= std::strcmp(argv[i], "--check") == 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    BenchReport report;
    const double seconds = quick ? 30 : 120;
    QTemporaryDir folder;

    // The tape.
    const QString raw = folder.filePath("programme.f32");
    ProgrammeSignal::writeRawFloat(ProgrammeSignal::generate(seconds, 44100), raw.toStdString());
    const QString tapePath = folder.filePath("Session.m4a");
    QString problem;
    if (!runTool("ffmpeg", {"-v", "error", "-f", "f32le", "-ar", "44100", "-ac", "2", "-i", raw,
                            "-c:a", "aac", "-b:a", "128k", "-metadata", "title=Tuesday rehearsal",
                            "-metadata", "comment=Second take, with the new bass line.", tapePath},
                 &problem)) {
        report.failed("making the tape", problem.toStdString());
        return 1;
    }
    auto tape = std::make_shared<Tape>(tapePath);
    tape->setCommitsOnDestruction(false);
    report.heading(formatted("Tape movie of a %.0f s MQ stereo tape (1280 x 720, 24 fps, H.264 + AAC)",
                             tape->duration()));

    // Ours.
    TapeMovie movie(tape, folder.filePath("ours.mov"));
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    std::optional<TapeMovieError> failure;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const double start = now();
    movie.performMovieExport([&](const std::optional<TapeMovieError>& error) {
        std::lock_guard guard(lock);
        failure = error;
        done = true;
        ended.notify_all();
    });
    {
        std::unique_lock guard(lock);
        ended.wait(guard, [&] { return done; });
    }
    const double ours = now() - start;
    const double oursCpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    if (failure) {
        report.failed("rendering the movie", failure->description.toStdString());
        return 1;
    }
    MovieInfo info;
    std::string error;
    if (!MovieReader::read(movie.filename().toStdString(), &info, &error) || info.videoFrames == 0) {
        report.failed("reading the movie back", error);
        return 1;
    }

    // The reference: the ffmpeg command line from one still frame.
    MainTapeLabelView label;
    label.setTitle(tape->title());
    label.setDate(tape->date());
    label.setDuration(tape->duration());
    label.setQuality(tape->quality());
    NotesTapeLabelView notes;
    notes.setNotes(tape->notes());
    const QString still = folder.filePath("still.png");
    TapeMovie::newPixelBuffer(TapeMovie::movieSize(), CassettePainter::render(label, notes))
        .save(still);
    const double referenceCpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double referenceStart = now();
    if (!runTool("ffmpeg",
                 {"-v", "error", "-loop", "1", "-framerate", "24", "-i", still, "-i", tapePath,
                  "-map", "0:v", "-map", "1:a", "-t", QString::number(tape->duration(), 'f', 3),
                  "-c:v", "libx264", "-preset", "veryfast", "-crf", "20", "-g", "1000",
                  "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "128k", "-ar", "44100", "-ac",
                  "2", "-f", "mov", folder.filePath("reference.mov")},
                 &problem)) {
        report.failed("the ffmpeg reference", problem.toStdString());
        return 1;
    }
    const double reference = now() - referenceStart;
    const double referenceCpu = cpuSeconds(RUSAGE_CHILDREN) - referenceCpuBefore;

    const double speed = tape->duration() / ours;
    report.figure(formatted("rendering speed: %.1f x real time (%.0f s of movie in %.2f s, %lld "
                            "frames)",
                            speed, tape->duration(), ours, static_cast<long long>(info.videoFrames)),
                  ">= 4 x real time", speed >= 4.0);
    const double ratio = ours / reference;
    report.figure(formatted("against the ffmpeg command line from a still frame: %.2f x its time "
                            "(%.2f s against %.2f s)",
                            ratio, ours, reference),
                  "<= 1.5 x", ratio <= 1.5);
    const double cpuPerSecond = oursCpu / tape->duration();
    report.figure(formatted("CPU: %.3f s per movie second (%.1f s in all; ffmpeg %.1f s)",
                            cpuPerSecond, oursCpu, referenceCpu),
                  "<= 0.5 s", cpuPerSecond <= 0.5);
    return check && !report.allMet() ? 1 : 0;
}

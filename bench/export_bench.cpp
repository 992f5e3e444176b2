// Export speed: a one-hour tape exported as MP3 (192 kbit/s) and as Opus
// (96 kbit/s), side by side with the ffmpeg command line doing the same
// conversion, everything pinned to one core.
//
// The tape is an hour of music-like stereo programme (chords, bass and
// noise, see ProgrammeSignal; five minutes made once and repeated) as an MQ
// tape (AAC, 128 kbit/s, 44.1 kHz), labelled. Our side is the whole export
// as the deck and `cassora export` run it: the label taken from the tape
// (the cover drawn), the conversion, the tags (cover included) written into
// the new file, the file named. The ffmpeg side decodes and encodes the same
// sound with the same encoder and bit rate, one thread, and writes the same
// text tags (and, for MP3, the same cover; ffmpeg cannot put a picture in
// Ogg, so there our side does that much more).
//
// Figures, for each format, against their goals:
//   1. speed: tape seconds per CPU second of the export on one core, >= 50;
//   2. CPU against the ffmpeg command line's for the same conversion, <= 1.1;
// and the two outputs' decoded lengths, which must match the tape's.
//
//   build/bench/export_bench [--quick] [--check]
#include "BenchReport.h"
#include "ChildProcess.h"
#include "ProgrammeSignal.h"

#include "app/deck/TapeView.h"
#include "app/library/Tape.h"
#include "app/sharing/TapeExport.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstring>
#include <sched.h>

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool runTool(const QString& program, const QStringList& arguments, QString* output) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ran = process.waitForFinished(-1) && process.exitCode() == 0;
    *output = QString::fromUtf8(process.readAll());
    return ran;
}

// Seconds of sound in `path` as ffmpeg decodes it (gapless information
// honoured), counted as they stream past.
double decodedSeconds(const QString& path) {
    QString rate, bytes;
    runTool("ffprobe",
            {"-v", "error", "-select_streams", "a:0", "-show_entries", "stream=sample_rate", "-of",
             "csv=p=0", path},
            &rate);
    runTool("bash",
            {"-c", "ffmpeg -v error -i \"$1\" -map 0:a -ac 1 -f s16le - | wc -c", "_", path},
            &bytes);
    return bytes.trimmed().toDouble() / 2.0 / rate.trimmed().toDouble();
}

struct Conversion {
    TapeExport::Format format;
    QStringList ffmpegCodec; // the command line's encoder and rate
    bool ffmpegCover;        // whether ffmpeg can carry the cover too
};

} // namespace

int main(int argc, char** argv) {
    bool quick = false, check = false;
    for (int i = 1; i < argc; ++i) {
        quick |= std::strcmp(argv[i], "--quick") == 0;
        check |= std::strcmp(argv[i], "--check") == 0;
    }
    // One core for everything, the reference included (it inherits this).
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    TapeView::installCoverArtRenderer();
    BenchReport report;
    QTemporaryDir folder;

    // The tape: five minutes of programme, repeated to an hour (a minute
    // with --quick).
    const double piece = quick ? 60 : 300;
    const int repeats = quick ? 1 : 12;
    const QString raw = folder.filePath("programme.f32");
    ProgrammeSignal::writeRawFloat(ProgrammeSignal::generate(piece, 44100), raw.toStdString());
    const QString tapePath = folder.filePath("Session.m4a");
    QString problem;
    if (!runTool("ffmpeg", {"-v",           "error",
                            "-stream_loop", QString::number(repeats - 1),
                            "-f",           "f32le",
                            "-ar",          "44100",
                            "-ac",          "2",
                            "-i",           raw,
                            "-c:a",         "aac",
                            "-b:a",         "128k",
                            "-metadata",    "title=Tuesday rehearsal",
                            "-metadata",    "artist=The Band",
                            "-metadata",    "lyrics=Second take, with the new bass line.",
                            "-metadata",    "date=2012-03-04 10:20:30 +0000",
                            tapePath},
                 &problem)) {
        report.failed("making the tape", problem.toStdString());
        return 1;
    }
    QFile::remove(raw);
    auto tape = std::make_shared<Tape>(tapePath);
    tape->setCommitsOnDestruction(false);
    report.heading(formatted("Export of a %.0f s MQ stereo tape, on one core, against the ffmpeg "
                             "command line",
                             tape->duration()));

    const QString cover = folder.filePath("cover.png");
    Tape::renderCoverArt(*tape).save(cover);
    const QList<Conversion> conversions = {
        {TapeExport::Format::MP3, {"-c:a", "libmp3lame", "-b:a", "192k"}, true},
        {TapeExport::Format::Opus, {"-c:a", "libopus", "-b:a", "96k"}, false},
    };
    for (const Conversion& conversion : conversions) {
        const TapeExport::FormatInfo& info = TapeExport::info(conversion.format);

        // Ours, as the deck runs it.
        const QString ours = folder.filePath("ours." + info.extension);
        const double cpuBefore = ownCpuSeconds();
        const double start = now();
        TapeExport exporting(tapePath, ExportTags::ofTape(*tape), ours, conversion.format);
        const TapeExport::Result result = exporting.run();
        const double oursWall = now() - start;
        const double oursCpu = ownCpuSeconds() - cpuBefore;
        if (result.outcome != TapeExport::Outcome::Exported) {
            report.failed("our " + info.name.toStdString() + " export", result.error.toStdString());
            continue;
        }

        // The ffmpeg command line, the same conversion.
        const QString theirs = folder.filePath("ffmpeg." + info.extension);
        std::vector<std::string> command = {
            "ffmpeg", "-v", "error", "-threads", "1", "-i", tapePath.toStdString()};
        if (conversion.ffmpegCover) {
            command.push_back("-i");
            command.push_back(cover.toStdString());
        }
        for (const char* part : {"-map", "0:a", "-map_metadata", "-1"}) {
            command.push_back(part);
        }
        if (conversion.ffmpegCover) {
            for (const char* part :
                 {"-map", "1:v", "-c:v", "copy", "-disposition:v", "attached_pic"}) {
                command.push_back(part);
            }
        }
        for (const QString& part : conversion.ffmpegCodec) {
            command.push_back(part.toStdString());
        }
        for (const QString& tag : {"title=" + tape->title(), QStringLiteral("artist=The Band"),
                                   "comment=" + tape->notes(), QStringLiteral("date=2012-03-04")}) {
            command.push_back("-metadata");
            command.push_back(tag.toStdString());
        }
        command.push_back(theirs.toStdString());
        const double referenceStart = now();
        ChildProcess ffmpeg(command);
        const bool started = ffmpeg.started();
        int status = -1;
        const double theirsCpu = ffmpeg.wait(&status);
        const double theirsWall = now() - referenceStart;
        if (!started || status != 0) {
            report.failed("the ffmpeg " + info.name.toStdString() + " reference", "it did not run");
            continue;
        }

        const double oursLength = decodedSeconds(ours);
        const double theirsLength = decodedSeconds(theirs);
        report.figure(
            formatted("%s: decoded lengths %.3f s (ours) and %.3f s (ffmpeg) of a %.3f s "
                      "tape",
                      info.name.toUtf8().constData(), oursLength, theirsLength, tape->duration()),
            "ours within 0.03 s of the tape", std::abs(oursLength - tape->duration()) < 0.03);
        const double speed = tape->duration() / oursCpu;
        report.figure(
            formatted("%s: %.0f x real time on one core (%.1f CPU s, %.1f s wall for %.0f "
                      "s of tape)",
                      info.name.toUtf8().constData(), speed, oursCpu, oursWall, tape->duration()),
            ">= 50 x real time", speed >= 50);
        const double ratio = oursCpu / theirsCpu;
        report.figure(formatted("%s: %.2f x the CPU of the ffmpeg command line (%.1f s against "
                                "%.1f s; wall %.1f s against %.1f s)",
                                info.name.toUtf8().constData(), ratio, oursCpu, theirsCpu, oursWall,
                                theirsWall),
                      "<= 1.1 x", ratio <= 1.1);
        QFile::remove(ours);
        QFile::remove(theirs);
    }
    return check && !report.allMet() ? 1 : 0;
}

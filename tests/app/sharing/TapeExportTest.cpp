#include "app/sharing/TapeExport.h"
#include "app/library/Tape.h"
#include "app/library/TapeColorScheme.h"
#include "app/sharing/ExportPanel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>

namespace {

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    return process.readAllStandardOutput();
}

// A tape as the ffmpeg command line makes one, with a label; pink noise, so
// that the lossy encoders work at their rates.
QString makeTape(const QString& folder, const QString& name, const QStringList& codec,
                 double seconds) {
    const QString path = QDir(folder).filePath(name);
    QProcess::execute("ffmpeg",
                      QStringList{"-v", "error", "-y", "-f", "lavfi", "-i",
                                  QStringLiteral("anoisesrc=color=pink:amplitude=0.3:seed=7:"
                                                 "sample_rate=44100:duration=%1")
                                      .arg(seconds),
                                  "-ac", "2"} +
                          codec +
                          QStringList{"-metadata", "title=Tuesday Rehearsal", "-metadata",
                                      "artist=Ann Smith", "-metadata", "lyrics=abc notes",
                                      "-metadata", "date=2012-03-04 10:20:30 +0000", path});
    return path;
}

QJsonObject probe(const QString& path) {
    return QJsonDocument::fromJson(run("ffprobe", {"-v", "error", "-show_format", "-show_streams",
                                                   "-of", "json", path}))
        .object();
}

// Every tag of the file, the format's and its sound's, by lower-case name.
QMap<QString, QString> tagsOf(const QJsonObject& probed) {
    QMap<QString, QString> tags;
    QJsonArray holders = {probed.value("format")};
    for (const QJsonValue& stream : probed.value("streams").toArray()) {
        if (stream.toObject().value("codec_type").toString() == "audio") {
            holders.append(stream);
        }
    }
    for (const QJsonValue& holder : holders) {
        const QJsonObject found = holder.toObject().value("tags").toObject();
        for (auto tag = found.begin(); tag != found.end(); ++tag) {
            tags.insert(tag.key().toLower(), tag.value().toString());
        }
    }
    return tags;
}

// Bits a second of the sound alone (the cover left out).
double soundBitRate(const QString& path, double seconds) {
    const QList<QByteArray> sizes =
        run("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries", "packet=size",
                        "-of", "csv=p=0", path})
            .split('\n');
    double bytes = 0;
    for (const QByteArray& size : sizes) {
        bytes += size.trimmed().toDouble();
    }
    return bytes * 8 / seconds;
}

// The sound's length as ffmpeg decodes it (gapless information honoured).
double decodedSeconds(const QString& path, int rate) {
    const QByteArray samples =
        run("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a", "-ac", "1", "-f", "s16le", "-"});
    return samples.size() / 2.0 / rate;
}

bool pumpUntil(const std::function<bool()>& done, int milliseconds = 60000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

} // namespace

// Each format decoded by ffprobe and ffmpeg: the right codec, the tape's
// length to within one of the codec's frames, and the label in the
// format's own tags.
TEST(TapeExport, EachFormatHoldsTheTapesSoundAndLabel) {
    QTemporaryDir folder;
    const QString source = makeTape(folder.path(), "Tuesday.m4a", {"-c:a", "aac"}, 3.0);
    auto tape = std::make_shared<Tape>(source);
    tape->setCommitsOnDestruction(false);
    ExportTags tags = ExportTags::ofTape(*tape);
    EXPECT_EQ(tags.artist, "Ann Smith"); // from the file, as the tape does not keep it
    EXPECT_FALSE(tags.coverPNG.isEmpty());
    tags.letter = std::make_shared<TapeLetter>("B", TapeColorScheme::colorSchemeWithIndex(1));

    struct Expected {
        TapeExport::Format format;
        QString codec;
        int rate;
        int bitRate; // 0: lossless
        int frame;   // samples a codec frame
        bool holdsLetter;
        bool holdsPicture;
    };
    const QList<Expected> expectations = {
        {TapeExport::Format::MPEG4, "aac", 44100, 0, 1024, true, true},
        {TapeExport::Format::WAV, "pcm_s16le", 44100, 0, 1, false, false},
        {TapeExport::Format::FLAC, "flac", 44100, 0, 4608, true, true},
        {TapeExport::Format::Opus, "opus", 48000, 96000, 960, true, true},
        {TapeExport::Format::MP3, "mp3", 44100, 192000, 1152, true, true},
    };
    for (const Expected& expected : expectations) {
        const TapeExport::FormatInfo& info = TapeExport::info(expected.format);
        SCOPED_TRACE(info.name.toStdString());
        const QString destination = QDir(folder.path()).filePath("out." + info.extension);
        std::vector<double> progress;
        TapeExport exporting(source, tags, destination, expected.format);
        const TapeExport::Result result =
            exporting.run([&](double done) { progress.push_back(done); });
        ASSERT_EQ(result.outcome, TapeExport::Outcome::Exported) << result.error.toStdString();
        EXPECT_EQ(progress.back(), 1.0);

        const QJsonObject probed = probe(destination);
        const QJsonObject sound = probed.value("streams").toArray()[0].toObject();
        EXPECT_EQ(sound.value("codec_name").toString(), expected.codec);
        EXPECT_EQ(sound.value("sample_rate").toString().toInt(), expected.rate);
        EXPECT_EQ(sound.value("channels").toInt(), 2);
        if (expected.bitRate) {
            // As the ffmpeg command line encodes the same sound at that rate.
            const QString reference = QDir(folder.path()).filePath("reference." + info.extension);
            QProcess::execute("ffmpeg", {"-v", "error", "-i", source, "-map", "0:a", "-c:a",
                                         expected.codec == "mp3" ? "libmp3lame" : "libopus", "-b:a",
                                         QString::number(expected.bitRate), reference});
            const double bitRate = soundBitRate(destination, tape->duration());
            EXPECT_NEAR(bitRate, soundBitRate(reference, tape->duration()), bitRate * 0.05);
            EXPECT_NEAR(bitRate, expected.bitRate, expected.bitRate * 0.4);
        }
        EXPECT_NEAR(decodedSeconds(destination, expected.rate), tape->duration(),
                    double(expected.frame) / expected.rate);

        const QMap<QString, QString> read = tagsOf(probed);
        EXPECT_EQ(read.value("title"), "Tuesday Rehearsal");
        EXPECT_EQ(read.value("artist"), "Ann Smith");
        EXPECT_TRUE(read.value("date").startsWith("2012-03-04"))
            << read.value("date").toStdString();
        EXPECT_EQ(read.value(expected.format == TapeExport::Format::MPEG4 ? "lyrics" : "comment"),
                  "abc notes");
        if (expected.holdsLetter && expected.format != TapeExport::Format::MPEG4) {
            if (expected.format == TapeExport::Format::MP3) {
                EXPECT_TRUE(read.value("id3v2_priv.org.cassora.tapeletter").startsWith("bplist00"));
            } else {
                EXPECT_EQ(read.value("cassora_tape_letter"), "B");
                EXPECT_EQ(read.value("cassora_tape_color"), "blue");
            }
        }
        bool picture = false;
        for (const QJsonValue& stream : probed.value("streams").toArray()) {
            picture |=
                stream.toObject().value("disposition").toObject().value("attached_pic").toInt() ==
                1;
        }
        // The tape made by ffmpeg has no cover of its own; a copy stays as it is.
        EXPECT_EQ(picture, expected.holdsPicture && expected.format != TapeExport::Format::MPEG4);
    }

    // A lossless tape of 24 bits keeps them in FLAC and WAV.
    const QString deep =
        makeTape(folder.path(), "Deep.m4a", {"-c:a", "alac", "-sample_fmt", "s32p"}, 1.0);
    for (const TapeExport::Format format : {TapeExport::Format::FLAC, TapeExport::Format::WAV}) {
        const QString destination =
            QDir(folder.path()).filePath("deep." + TapeExport::info(format).extension);
        TapeExport exporting(deep, tags, destination, format);
        ASSERT_EQ(exporting.run().outcome, TapeExport::Outcome::Exported);
        const QJsonObject sound = probe(destination).value("streams").toArray()[0].toObject();
        if (format == TapeExport::Format::WAV) {
            EXPECT_EQ(sound.value("codec_name").toString(), "pcm_s24le");
        } else {
            EXPECT_EQ(sound.value("bits_per_raw_sample").toString(), "24");
        }
    }
}

TEST(TapeExport, TheChosenTypeSetsTheExtension) {
    using F = TapeExport::Format;
    EXPECT_EQ(TapeExport::correctedFilename("/tmp/interview", F::MP3), "/tmp/interview.mp3");
    EXPECT_EQ(TapeExport::correctedFilename("/tmp/interview.m4a", F::MP3), "/tmp/interview.mp3");
    EXPECT_EQ(TapeExport::correctedFilename("/tmp/Interview.MP3", F::MP3), "/tmp/Interview.MP3");
    EXPECT_EQ(TapeExport::correctedFilename("/tmp/interview.mp3", F::Opus), "/tmp/interview.opus");
    EXPECT_EQ(TapeExport::correctedFilename("/tmp/my.talk", F::FLAC), "/tmp/my.talk.flac");
    EXPECT_EQ(TapeExport::correctedFilename("/tmp/a.b/take", F::WAV), "/tmp/a.b/take.wav");
    EXPECT_EQ(TapeExport::correctedFilename("/tmp/take.", F::WAV), "/tmp/take.wav");
    EXPECT_EQ(TapeExport::correctedFilename("take.ogg", F::Opus), "take.opus");
    EXPECT_EQ(TapeExport::formatNamed("OPUS"), F::Opus);
    EXPECT_FALSE(TapeExport::formatNamed("aiff"));
}

// An existing file is never replaced unless told, a stopped export leaves
// nothing, and the deck's dialog corrects the name and asks before
// replacing.
TEST(TapeExport, ExistingFilesAreKeptUnlessTheUserAgrees) {
    QTemporaryDir folder;
    const QString source = makeTape(folder.path(), "Tape.m4a", {"-c:a", "aac"}, 20.0);
    auto tape = std::make_shared<Tape>(source);
    tape->setCommitsOnDestruction(false);
    const ExportTags tags = ExportTags::ofTape(*tape);
    const QString taken = QDir(folder.path()).filePath("taken.mp3");
    {
        QFile file(taken);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("mine");
    }
    for (const TapeExport::Format format : {TapeExport::Format::MP3, TapeExport::Format::MPEG4}) {
        TapeExport refused(source, tags, taken, format);
        EXPECT_EQ(refused.run().outcome, TapeExport::Outcome::AlreadyThere);
    }
    {
        TapeExport stopped(source, tags, QDir(folder.path()).filePath("stopped.flac"),
                           TapeExport::Format::FLAC);
        EXPECT_EQ(stopped
                      .run([&](double done) {
                          if (done > 0.3) {
                              stopped.cancel();
                          }
                      })
                      .outcome,
                  TapeExport::Outcome::Stopped);
    }
    EXPECT_EQ(
        QDir(folder.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase),
        QStringList({"taken.mp3", "Tape.m4a"}));

    // The deck: MP3 chosen in the dialog, the name typed with the tape's
    // extension; the export is corrected to the taken name, and asks.
    QWidget window;
    ExportPanel panel(&window);
    QStringList asked, alerts;
    bool agree = false;
    panel.setConfirmer([&](const QString& path) {
        asked << QFileInfo(path).fileName();
        return agree;
    });
    panel.setAlertPresenter([&](const QString& message, const QString&) { alerts << message; });
    int finished = 0;
    QObject::connect(&panel, &ExportPanel::finished, [&] { ++finished; });
    for (const bool answer : {false, true}) {
        agree = answer;
        panel.exportTape(tape);
        QFileDialog* dialog = panel.dialog();
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(QDir(folder.path()).filePath("taken.m4a"));
        dialog->selectNameFilter(ExportPanel::nameFilters().value(4));
        if (!answer) {
            // Choosing the type in the dialog shows its extension at once.
            emit dialog->filterSelected(ExportPanel::nameFilters().value(4));
            EXPECT_EQ(QFileInfo(dialog->selectedFiles().value(0)).fileName(), "taken.mp3");
            dialog->selectFile(QDir(folder.path()).filePath("taken.m4a"));
        }
        static_cast<QDialog*>(dialog)->accept(); // as the Save button does
        pumpUntil([&] { return !asked.isEmpty() && (!answer || finished == 1); });
        ASSERT_EQ(asked.size(), answer ? 2 : 1);
        EXPECT_EQ(asked.last(), "taken.mp3");
    }
    EXPECT_TRUE(alerts.isEmpty()) << alerts.join(", ").toStdString();
    EXPECT_EQ(probe(taken).value("streams").toArray()[0].toObject().value("codec_name").toString(),
              "mp3");
    EXPECT_FALSE(QFileInfo::exists(QDir(folder.path()).filePath("taken.m4a")));
}

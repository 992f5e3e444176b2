#include "app/sharing/TapeMovie.h"
#include "app/library/Tape.h"
#include "app/library/TapeColorScheme.h"
#include "platform/media/MovieReader.h"
#include "platform/media/MovieWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <mutex>

namespace {

QString run(const QString& program, const QStringList& arguments, int* status = nullptr) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    if (status) {
        *status = process.exitCode();
    }
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}

// A tape of `seconds` made by the ffmpeg command line: a tone that rises,
// mono AAC at 22.05 kHz as a low-quality tape is.
QString makeTape(const QString& folder, const QString& name, double seconds) {
    const QString path = QDir(folder).filePath(name);
    int status = 0;
    const QString output =
        run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                       QStringLiteral("sine=frequency=440:sample_rate=22050:duration=%1").arg(seconds),
                       "-ac", "1", "-c:a", "aac", "-b:a", "48k", "-metadata", "title=Movie tape",
                       path},
            &status);
    EXPECT_EQ(status, 0) << output.toStdString();
    return path;
}

// Runs an export to its end, turning nothing: the blocks come on the movie's thread.
struct Export {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    std::optional<TapeMovieError> error;
    std::vector<double> progress;
    int stopAtCall = -1; // the progress call that answers false

    TapeMovie* movie = nullptr;
    void start(TapeMovie& movie) {
        this->movie = &movie;
        movie.setProgressUpdateBlock([this](double value) {
            std::lock_guard guard(lock);
            progress.push_back(value);
            return static_cast<int>(progress.size()) - 1 != stopAtCall;
        });
        movie.performMovieExport([this](const std::optional<TapeMovieError>& result) {
            std::lock_guard guard(lock);
            error = result;
            done = true;
            ended.notify_all();
        });
    }
    bool wait() {
        std::unique_lock guard(lock);
        if (!ended.wait_for(guard, std::chrono::minutes(2), [this] { return done; })) {
            return false;
        }
        guard.unlock();
        movie->waitUntilFinished(); // the last progress call comes after the completion
        return true;
    }
};

QJsonObject probe(const QString& path) {
    return QJsonDocument::fromJson(
               run("ffprobe", {"-v", "error", "-show_format", "-show_streams", "-of", "json", path})
                   .toUtf8())
        .object();
}

double differenceInside(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width,
                        const QRect& area, bool inside) {
    double total = 0;
    for (int y = 0; y < static_cast<int>(a.size()) / width; ++y) {
        for (int x = 0; x < width; ++x) {
            if (area.contains(x, y) == inside) {
                total += std::abs(a[y * width + x] - b[y * width + x]);
            }
        }
    }
    return total;
}

class TapeMovieTest : public ::testing::Test {
protected:
    QTemporaryDir mFolder;
};

} // namespace

TEST_F(TapeMovieTest, MovieHoldsTheSpinningCassetteAndTheTapesSound) {
    auto tape = std::make_shared<Tape>(makeTape(mFolder.path(), "ten.m4a", 10.0));
    tape->setCommitsOnDestruction(false);
    ASSERT_NEAR(tape->duration(), 10.0, 0.01);
    TapeMovie movie(tape);
    Export exporting;
    exporting.start(movie);
    ASSERT_TRUE(exporting.wait());
    ASSERT_FALSE(exporting.error) << exporting.error->description.toStdString();
    const int64_t frameTotal = static_cast<int64_t>(tape->duration() * 24);

    // 0.0 at the start, frame ÷ frames before every frame, 1.0 at the end.
    ASSERT_EQ(exporting.progress.size(), static_cast<size_t>(frameTotal + 2));
    EXPECT_EQ(exporting.progress.front(), 0.0);
    EXPECT_EQ(exporting.progress.back(), 1.0);
    for (int64_t frame = 0; frame < frameTotal; ++frame) {
        EXPECT_DOUBLE_EQ(exporting.progress[frame + 1], double(frame) / double(frameTotal));
    }

    MovieInfo info;
    std::string error;
    std::vector<std::vector<uint8_t>> frames;
    int width = 0;
    ASSERT_TRUE(MovieReader::read(movie.filename().toStdString(), &info, &error,
                                  [&](int64_t index, const std::vector<uint8_t>& luma, int w, int) {
                                      width = w;
                                      if (index == 0 || index == 1 || index == 7 || index == 239) {
                                          frames.push_back(luma);
                                      }
                                  }))
        << error;
    EXPECT_NE(info.container.find("mov"), std::string::npos);
    EXPECT_EQ(info.videoCodec, "h264");
    EXPECT_EQ(info.width, 1280);
    EXPECT_EQ(info.height, 720);
    EXPECT_DOUBLE_EQ(info.framesPerSecond, 24.0);
    EXPECT_EQ(info.videoFrames, frameTotal);
    ASSERT_EQ(info.framePresentationTimes.size(), static_cast<size_t>(frameTotal));
    for (int64_t frame = 0; frame < frameTotal; ++frame) {
        EXPECT_EQ(info.framePresentationTimes[frame], frame);
    }
    EXPECT_EQ(info.audioCodec, "aac");
    EXPECT_EQ(info.audioProfile, "LC");
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_NEAR(info.audioDuration, tape->duration(), 1.0 / 24);
    EXPECT_NEAR(info.videoDuration, tape->duration(), 1.0 / 24);
    // ffmpeg's sine is at 1/8 of full scale; a mono tape keeps its level.
    EXPECT_GT(info.audioPeak, 0.1);

    // A cassette, not a flat picture; between frames only the spools move.
    ASSERT_EQ(frames.size(), 4u);
    double mean = 0, variance = 0;
    for (uint8_t value : frames[0]) {
        mean += value;
    }
    mean /= frames[0].size();
    for (uint8_t value : frames[0]) {
        variance += (value - mean) * (value - mean);
    }
    EXPECT_GT(std::sqrt(variance / frames[0].size()), 20.0);
    const QRect whole(0, 0, 1280, 720);
    EXPECT_GT(differenceInside(frames[0], frames[2], width, whole, true), 20000.0);
    // Away from the spools the picture stays (coding noise aside).
    const QRect cassette(317, 156, 646, 408);
    const double outside = differenceInside(frames[0], frames[2], width, cassette, false);
    EXPECT_LT(outside / (1280 * 720 - 646 * 408), 0.5);
    EXPECT_GT(differenceInside(frames[2], frames[3], width, whole, true), 20000.0);

    // ffprobe reads the same.
    const QJsonObject probed = probe(movie.filename());
    const QJsonArray streams = probed.value("streams").toArray();
    ASSERT_EQ(streams.size(), 2);
    QStringList codecs;
    for (const auto& stream : streams) {
        const QJsonObject object = stream.toObject();
        codecs << object.value("codec_name").toString();
        if (object.value("codec_type").toString() == "video") {
            EXPECT_EQ(object.value("width").toInt(), 1280);
            EXPECT_EQ(object.value("r_frame_rate").toString(), "24/1");
        } else {
            EXPECT_EQ(object.value("sample_rate").toString(), "44100");
            EXPECT_EQ(object.value("channels").toInt(), 2);
        }
    }
    codecs.sort();
    EXPECT_EQ(codecs, QStringList({"aac", "h264"}));
    EXPECT_NEAR(probed.value("format").toObject().value("duration").toString().toDouble(), 10.0,
                1.0 / 24 + 0.03);

    movie.disposeMovieFile();
    EXPECT_FALSE(QFileInfo::exists(movie.filename()));
}

TEST_F(TapeMovieTest, AStartedExportIsNotStartedAgainAndAFalseProgressEndsOnlyThePicture) {
    auto tape = std::make_shared<Tape>(makeTape(mFolder.path(), "four.m4a", 4.0));
    tape->setCommitsOnDestruction(false);
    TapeMovie movie(tape);
    Export exporting;
    exporting.stopAtCall = 6; // the call before frame 5
    exporting.start(movie);

    std::optional<TapeMovieError> second;
    movie.performMovieExport([&](const std::optional<TapeMovieError>& error) { second = error; });
    ASSERT_TRUE(second);
    EXPECT_EQ(second->description, "Tape movie export already in progress.");
    EXPECT_EQ(second->code, -1);
    EXPECT_EQ(second->domain, TapeMovie::errorDomain());

    ASSERT_TRUE(exporting.wait());
    ASSERT_FALSE(exporting.error) << exporting.error->description.toStdString();
    MovieInfo info;
    std::string error;
    ASSERT_TRUE(MovieReader::read(movie.filename().toStdString(), &info, &error)) << error;
    EXPECT_EQ(info.videoFrames, 6);
    EXPECT_NEAR(info.audioDuration, tape->duration(), 1.0 / 24);
    movie.disposeMovieFile();
}

TEST_F(TapeMovieTest, CancelledAndFailedExportsLeaveNoFile) {
    auto tape = std::make_shared<Tape>(makeTape(mFolder.path(), "long.m4a", 30.0));
    tape->setCommitsOnDestruction(false);
    {
        TapeMovie movie(tape);
        Export exporting;
        exporting.start(movie);
        while (true) {
            std::lock_guard guard(exporting.lock);
            if (exporting.progress.size() > 10) {
                break;
            }
        }
        EXPECT_TRUE(QFileInfo::exists(movie.filename()));
        movie.cancel();
        ASSERT_TRUE(exporting.wait());
        ASSERT_TRUE(exporting.error);
        EXPECT_TRUE(exporting.error->isCancellation());
        EXPECT_FALSE(QFileInfo::exists(movie.filename()));
        EXPECT_NE(exporting.progress.back(), 1.0);
    }
    {
        // Destroyed mid-export: stopped, its file removed.
        QString filename;
        {
            TapeMovie movie(tape);
            filename = movie.filename();
            movie.performMovieExport([](const std::optional<TapeMovieError>&) {
                ADD_FAILURE() << "no completion after destruction";
            });
        }
        EXPECT_FALSE(QFileInfo::exists(filename));
    }
    {
        // Not a tape: the export never starts, and says why at once.
        const QString junk = QDir(mFolder.path()).filePath("junk.m4a");
        QFile file(junk);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(5000, 'x'));
        file.close();
        auto broken = std::make_shared<Tape>(junk);
        broken->setCommitsOnDestruction(false);
        TapeMovie movie(broken);
        std::optional<TapeMovieError> failure;
        bool called = false;
        movie.performMovieExport([&](const std::optional<TapeMovieError>& error) {
            called = true;
            failure = error;
        });
        ASSERT_TRUE(called);
        ASSERT_TRUE(failure);
        EXPECT_FALSE(failure->description.isEmpty());
        EXPECT_FALSE(movie.isRunning());
        EXPECT_FALSE(QFileInfo::exists(movie.filename()));
    }
    {
        // A movie that cannot be written (no such folder) fails the same way.
        TapeMovie movie(tape, QDir(mFolder.path()).filePath("missing/folder/x.mov"));
        std::optional<TapeMovieError> failure;
        movie.performMovieExport([&](const std::optional<TapeMovieError>& error) { failure = error; });
        ASSERT_TRUE(failure);
        EXPECT_FALSE(movie.isRunning());
    }
}

TEST_F(TapeMovieTest, ATapeShorterThanAFrameGivesSoundWithoutPictures) {
    auto tape = std::make_shared<Tape>(makeTape(mFolder.path(), "blip.m4a", 0.03));
    tape->setCommitsOnDestruction(false);
    ASSERT_LT(tape->duration(), 1.0 / 24);
    TapeMovie movie(tape);
    Export exporting;
    exporting.start(movie);
    ASSERT_TRUE(exporting.wait());
    ASSERT_FALSE(exporting.error) << exporting.error->description.toStdString();
    MovieInfo info;
    std::string error;
    ASSERT_TRUE(MovieReader::read(movie.filename().toStdString(), &info, &error)) << error;
    EXPECT_EQ(info.videoFrames, 0);
    EXPECT_GT(info.audioFrames, 0);
    EXPECT_EQ(exporting.progress, (std::vector<double>{0.0, 1.0}));
    movie.disposeMovieFile();
}

TEST(TapeMovieFrames, ImagesAreCentredCroppedOrBordered) {
    QImage wide(2400, 800, QImage::Format_ARGB32_Premultiplied);
    for (int x = 0; x < wide.width(); ++x) {
        for (int y = 0; y < wide.height(); ++y) {
            wide.setPixel(x, y, qRgb(x % 256, y % 256, 7));
        }
    }
    wide.setDevicePixelRatio(2.0); // pixels count, not points
    QImage frame = TapeMovie::newPixelBuffer(QSize(1280, 720), wide);
    EXPECT_EQ(frame.size(), QSize(1280, 720));
    EXPECT_EQ(frame.pixel(0, 0), qRgb(560 % 256, 40, 7));
    EXPECT_EQ(frame.pixel(1279, 719), qRgb((560 + 1279) % 256, (40 + 719) % 256, 7));

    QImage small(1000, 600, QImage::Format_RGB32);
    small.fill(qRgb(200, 100, 50));
    frame = TapeMovie::newPixelBuffer(QSize(1280, 720), small);
    EXPECT_EQ(frame.pixel(139, 59), qRgb(0, 0, 0));
    EXPECT_EQ(frame.pixel(140, 60), qRgb(200, 100, 50));
    EXPECT_EQ(frame.pixel(1139, 659), qRgb(200, 100, 50));
    EXPECT_EQ(frame.pixel(1140, 660), qRgb(0, 0, 0));
}

TEST(TapeMovieFiles, EachMovieGetsANewTemporaryUuidName) {
    TapeMovie first(nullptr), second(nullptr);
    const QRegularExpression name("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.mov$");
    for (const TapeMovie* movie : {&first, &second}) {
        const QFileInfo info(movie->filename());
        EXPECT_EQ(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
        EXPECT_TRUE(name.match(info.fileName()).hasMatch()) << info.fileName().toStdString();
    }
    EXPECT_NE(first.filename(), second.filename());
}

// Flat colours written by the movie writer and decoded by the ffmpeg command
// line, which converts to RGB by the stream's colour tags: what the cassette
// painted is what a player that follows the tags shows.
TEST(TapeMovieColours, PaintedColoursSurviveTheRoundTripThroughTheTags) {
    QList<QColor> colours = {Qt::red,
                             Qt::green,
                             Qt::blue,
                             QColor(128, 128, 128),
                             Qt::white,
                             Qt::black,
                             QColor(0xfc, 0xfa, 0xf2)};
    for (unsigned index = 0; index < TapeColorScheme::SchemeCount; ++index) {
        const auto scheme = TapeColorScheme::colorSchemeWithIndex(index);
        colours << scheme->backgroundColor() << scheme->letterColor() << scheme->titleColor();
    }
    // A grid of flat cells, large enough that chroma subsampling and the
    // encoder leave their middles alone.
    constexpr int kColumns = 8;
    const int rows = (static_cast<int>(colours.size()) + kColumns - 1) / kColumns;
    const QSize size = TapeMovie::movieSize();
    const int cellWidth = size.width() / kColumns;
    const int cellHeight = size.height() / rows;
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::black);
    for (int i = 0; i < colours.size(); ++i) {
        for (int y = 0; y < cellHeight; ++y) {
            for (int x = 0; x < cellWidth; ++x) {
                picture.setPixelColor((i % kColumns) * cellWidth + x,
                                      (i / kColumns) * cellHeight + y, colours[i]);
            }
        }
    }

    QTemporaryDir folder;
    const std::string path = QDir(folder.path()).filePath("colours.mov").toStdString();
    std::string error;
    auto writer = MovieWriter::create(path, MovieSettings{}, &error);
    ASSERT_TRUE(writer) << error;
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_TRUE(writer->appendVideoFrame(picture.constBits(),
                                             static_cast<int>(picture.bytesPerLine()), frame));
    }
    const std::vector<int16_t> silence(44100 / 8 * 2, 0);
    ASSERT_TRUE(writer->appendAudio(silence.data(), static_cast<int>(silence.size() / 2)));
    ASSERT_TRUE(writer->finish()) << writer->lastError();

    // Tagged BT.709, limited range...
    const QJsonObject video =
        probe(QString::fromStdString(path)).value("streams").toArray()[0].toObject();
    EXPECT_EQ(video.value("color_space").toString(), "bt709");
    EXPECT_EQ(video.value("color_primaries").toString(), "bt709");
    EXPECT_EQ(video.value("color_transfer").toString(), "bt709");
    EXPECT_EQ(video.value("color_range").toString(), "tv");

    // ...and converted so.
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", QString::fromStdString(path), "-frames:v", "1",
                            "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ASSERT_TRUE(ffmpeg.waitForFinished(60000));
    const QByteArray rgb = ffmpeg.readAllStandardOutput();
    ASSERT_EQ(rgb.size(), size.width() * size.height() * 3)
        << ffmpeg.readAllStandardError().toStdString();
    for (int i = 0; i < colours.size(); ++i) {
        const int x = (i % kColumns) * cellWidth + cellWidth / 2;
        const int y = (i / kColumns) * cellHeight + cellHeight / 2;
        const auto* pixel =
            reinterpret_cast<const uint8_t*>(rgb.constData()) + (y * size.width() + x) * 3;
        const QColor& painted = colours[i];
        EXPECT_NEAR(pixel[0], painted.red(), 3)
            << "colour " << i << " " << painted.name().toStdString();
        EXPECT_NEAR(pixel[1], painted.green(), 3)
            << "colour " << i << " " << painted.name().toStdString();
        EXPECT_NEAR(pixel[2], painted.blue(), 3)
            << "colour " << i << " " << painted.name().toStdString();
    }
}

#include "app/sharing/TapeMovie.h"

#include "app/deck/CassettePainter.h"
#include "app/deck/MainTapeLabelView.h"
#include "app/deck/NotesTapeLabelView.h"
#include "app/library/Tape.h"
#include "platform/desktop/FileNames.h"
#include "platform/media/AudioTrackReader.h"
#include "platform/media/MovieWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QUuid>

#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr double kScale = 2.0;
constexpr double kPi = 3.14159265358979323846;
// The spools turn as the deck's do: 2 degrees a tick at speed 1, the right
// one 31/18 as fast, the angle wrapping where both come round together.
constexpr double kTickAngle = 2.0 * kPi / 180.0;
constexpr double kRightSpoolRatio = 31.0 / 18.0;
constexpr double kAngleWrap = 36.0 * kPi;

void logError(const QString& message) {
    std::fprintf(stderr, "(ERROR) TapeMovie : %s\n", message.toLocal8Bit().constData());
}

// The off-screen cassette of the movie: the tape's label painted once, the
// spools painted again each tick into the band of the picture they cross.
// Painting on QImage only, so it runs on the movie's thread and without a
// widget application.
class MovieCassette {
public:
    MovieCassette(const MainTapeLabelView& label, const NotesTapeLabelView& notes)
        : mLabel(label), mNotes(notes) {
        const QSize pixels = CassettePainter::render(mLabel, mNotes, 0, 0, kScale).size();
        // Where newPixelBuffer puts the thumbnail.
        const QSize movie = TapeMovie::movieSize();
        mOrigin = QPoint(static_cast<int>(std::floor((movie.width() - pixels.width()) / 2.0)),
                         static_cast<int>(std::floor((movie.height() - pixels.height()) / 2.0)));
        mBody = layer(pixels, [](QPainter& painter) { CassettePainter::paintBody(painter); });
        mCover = layer(pixels, [this](QPainter& painter) {
            CassettePainter::paintCover(painter, mLabel, mNotes);
        });
        const QRectF spools = CassettePainter::spoolsRect();
        mBand = QRectF(spools.topLeft() * kScale, spools.size() * kScale)
                    .toAlignedRect()
                    .adjusted(-2, -2, 2, 2)
                    .translated(mOrigin)
                    .intersected(QRect(QPoint(0, 0), TapeMovie::movieSize()));
    }

    // One tick of the spin timer.
    void advance() { mAngle = std::fmod(mAngle + kTickAngle, kAngleWrap); }

    // The whole picture, as the cassette's thumbnail centred on black.
    void drawWhole(QImage& frame) const {
        QImage thumbnail =
            CassettePainter::render(mLabel, mNotes, mAngle, mAngle * kRightSpoolRatio, kScale);
        frame = TapeMovie::newPixelBuffer(TapeMovie::movieSize(), thumbnail);
    }

    // Only the spools' band again; the same pixels a whole drawing gives there.
    void drawSpools(QImage& frame) const {
        QPainter painter(&frame);
        painter.setClipRect(mBand);
        painter.fillRect(mBand, Qt::black);
        painter.drawImage(mOrigin, mBody);
        painter.save();
        painter.translate(mOrigin);
        painter.scale(kScale, kScale);
        CassettePainter::paintSpools(painter, mAngle, mAngle * kRightSpoolRatio);
        painter.restore();
        painter.drawImage(mOrigin, mCover);
    }

    QRect band() const { return mBand; }

private:
    template <typename Paint>
    static QImage layer(const QSize& pixels, Paint paint) {
        QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.scale(kScale, kScale);
        paint(painter);
        return image;
    }

    MainTapeLabelView mLabel;
    NotesTapeLabelView mNotes;
    QImage mBody;
    QImage mCover;
    QPoint mOrigin;
    QRect mBand;
    double mAngle = 0;
};

} // namespace

bool TapeMovieError::isCancellation() const {
    return domain == TapeMovie::errorDomain() && code == TapeMovie::CancelledErrorCode;
}

QString TapeMovie::errorDomain() {
    return QStringLiteral("org.cassora.Cassora.TapeMovie");
}

TapeMovie::TapeMovie(std::shared_ptr<Tape> tape, const QString& filename)
    : mTape(std::move(tape)),
      mFilename(filename.isEmpty() ? temporaryMovieURLWithExtension(QStringLiteral("mov"))
                                   : filename) {}

TapeMovie::~TapeMovie() {
    mSilentCancel = true;
    mCancelled = true;
    if (mThread.joinable()) {
        if (mThread.get_id() == std::this_thread::get_id()) {
            mThread.detach();
        } else {
            mThread.join();
        }
    }
}

QString TapeMovie::temporaryMovieURLWithExtension(const QString& extension) {
    return QDir(QDir::tempPath())
        .filePath(QStringLiteral("%1.%2").arg(
            QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), extension));
}

TapeMovieError TapeMovie::movieError(const QString& description, int code) const {
    return {errorDomain(), code, description};
}

void TapeMovie::disposeMovieFile() {
    ::unlink(FileNames::encode(mFilename).constData());
}

void TapeMovie::waitUntilFinished() {
    if (mThread.joinable() && mThread.get_id() != std::this_thread::get_id()) {
        mThread.join();
    }
}

void TapeMovie::cancel() {
    mCancelled = true;
}

QImage TapeMovie::newPixelBuffer(const QSize& size, const QImage& image) {
    QImage buffer(size, QImage::Format_RGB32);
    buffer.fill(Qt::black);
    QImage source = image;
    source.setDevicePixelRatio(1.0);
    QPainter painter(&buffer);
    const int x = static_cast<int>(std::floor((size.width() - source.width()) / 2.0));
    const int y = static_cast<int>(std::floor((size.height() - source.height()) / 2.0));
    painter.drawImage(QPoint(x, y), source);
    return buffer;
}

void TapeMovie::performMovieExport(CompletionBlock completion) {
    if (mStarted) {
        if (completion) {
            completion(movieError(QCoreApplication::translate(
                "TapeMovie", "Tape movie export already in progress.")));
        }
        return;
    }
    mStarted = true;
    const auto failEarly = [&](const QString& description) {
        if (completion) {
            completion(TapeMovieError{errorDomain(), -1, description});
        }
    };
    if (!mTape) {
        failEarly(QCoreApplication::translate("TapeMovie", "There is no tape to make a movie of."));
        return;
    }

    std::string error;
    mAudioReader = AudioTrackReader::open(FileNames::encode(mTape->filename()).toStdString(),
                                          kSampleRate, kChannels, &error);
    if (!mAudioReader) {
        logError(QStringLiteral("Could not create tape asset reader."));
        failEarly(QString::fromStdString(error));
        return;
    }
    MovieSettings settings;
    settings.width = movieSize().width();
    settings.height = movieSize().height();
    settings.framesPerSecond = FramesPerSecond;
    settings.maximumKeyFrameInterval = MaximumKeyFrameInterval;
    settings.sampleRate = kSampleRate;
    settings.channels = kChannels;
    mWriter = MovieWriter::create(FileNames::encode(mFilename).toStdString(), settings, &error);
    if (!mWriter) {
        failEarly(QString::fromStdString(error));
        return;
    }
    if (mProgressUpdateBlock) {
        mProgressUpdateBlock(0.0);
    }

    Snapshot snapshot;
    snapshot.title = mTape->title();
    snapshot.date = mTape->date();
    snapshot.duration = mTape->duration();
    snapshot.quality = mTape->quality();
    snapshot.notes = mTape->notes();
    snapshot.tapeLetter = mTape->tapeLetter();
    const double frames = snapshot.duration * FramesPerSecond;
    const int64_t frameTotal =
        std::isfinite(frames) && frames > 0 ? static_cast<int64_t>(frames) : 0;

    mCompletionBlock = std::move(completion);
    mRunning = true;
    mThread = std::thread([this, snapshot, frameTotal] { run(snapshot, frameTotal); });
}

void TapeMovie::complete(const std::optional<TapeMovieError>& error) {
    CompletionBlock completion = std::move(mCompletionBlock);
    mRunning = false;
    if (completion && !mSilentCancel) {
        completion(error);
    }
    if (!error && mProgressUpdateBlock && !mSilentCancel) {
        mProgressUpdateBlock(1.0);
    }
}

void TapeMovie::run(Snapshot snapshot, int64_t frameTotal) {
    MainTapeLabelView label;
    label.setTitle(snapshot.title);
    label.setDate(snapshot.date);
    label.setDuration(snapshot.duration);
    label.setQuality(snapshot.quality);
    label.setTapeLetter(snapshot.tapeLetter);
    NotesTapeLabelView notes;
    notes.setNotes(snapshot.notes);
    MovieCassette cassette(label, notes);

    QImage frame;
    int64_t counter = 0;
    bool goOn = true;
    bool videoFinished = false;
    bool audioFinished = false;
    std::vector<int16_t> sound(4096 * kChannels);
    QString readFailure;

    while (!(videoFinished && audioFinished) && !mWriter->failed()) {
        if (mCancelled) {
            mWriter->abandon();
            complete(movieError(
                QCoreApplication::translate("TapeMovie", "Tape movie export was cancelled."),
                CancelledErrorCode));
            return;
        }
        // Keep the two tracks level, as the muxer interleaves them by time.
        const bool pictureTurn =
            !videoFinished && (audioFinished || static_cast<double>(counter) / FramesPerSecond <=
                                                    mWriter->audioTime());
        if (pictureTurn) {
            if (counter < frameTotal && goOn) {
                const double progress =
                    static_cast<double>(counter) / static_cast<double>(frameTotal);
                goOn = mProgressUpdateBlock ? mProgressUpdateBlock(progress) : true;
                cassette.advance();
                const bool whole = frame.isNull();
                if (whole) {
                    cassette.drawWhole(frame);
                } else {
                    cassette.drawSpools(frame);
                }
                const QRect band = cassette.band();
                mWriter->appendVideoFrame(frame.constBits(), static_cast<int>(frame.bytesPerLine()),
                                          counter, whole ? -1 : band.top(),
                                          whole ? -1 : band.bottom() + 1);
                ++counter;
            } else {
                mWriter->finishVideo();
                videoFinished = true;
            }
        } else {
            const int got =
                mAudioReader->read(sound.data(), static_cast<int>(sound.size() / kChannels));
            if (got > 0) {
                mWriter->appendAudio(sound.data(), got);
            } else if (got == 0) {
                mWriter->finishAudio();
                audioFinished = true;
            } else {
                // A sound track cut short would be a movie that lies about
                // the tape: the whole export fails instead.
                readFailure = QString::fromStdString(mAudioReader->lastError());
                mWriter->abandon();
                break;
            }
        }
    }

    if (readFailure.isEmpty() && mWriter->finish()) {
        complete(std::nullopt);
        return;
    }
    logError(readFailure.isEmpty() ? QString::fromStdString(mWriter->lastError()) : readFailure);
    complete(movieError(QCoreApplication::translate("TapeMovie", "Error writing movie asset.")));
}

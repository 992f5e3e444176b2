// Makes the welcome tape that a new library folder starts with: the spoken
// welcome (a WAVE file) encoded as a medium-quality mono tape through the
// engine's audio file, and labelled as any tape is, cover art included.
//
//   make-welcome-tape SPEECH.wav TAPE.m4a

#include "app/deck/WaveAudio.h"
#include "app/library/Tape.h"
#include "app/library/TapeLetter.h"
#include "app/library/TapeQuality.h"
#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/format/NSXException.h"

#include <QDateTime>
#include <QFile>
#include <QGuiApplication>

#include <samplerate.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "make-welcome-tape: %s\n", message.toUtf8().constData());
    return 1;
}

// The speech folded to one channel.
std::vector<float> monoSamples(const WaveAudio& audio) {
    std::vector<float> mono(audio.frameCount(), 0.0f);
    for (const auto& channel : audio.channels) {
        for (size_t i = 0; i < mono.size(); ++i) {
            mono[i] += channel[i] / static_cast<float>(audio.channels.size());
        }
    }
    return mono;
}

// The build's date when the build fixes one (reproducible builds), else now.
QDateTime labelDate() {
    bool ok = false;
    const qint64 epoch = qEnvironmentVariable("SOURCE_DATE_EPOCH").toLongLong(&ok);
    return ok ? QDateTime::fromSecsSinceEpoch(epoch, Qt::UTC) : QDateTime::currentDateTimeUtc();
}

// The speech at `rate`.
std::vector<float> resampled(std::vector<float> samples, double fromRate, double rate) {
    if (fromRate == rate) {
        return samples;
    }
    std::vector<float> out(static_cast<size_t>(samples.size() * rate / fromRate) + 1);
    SRC_DATA conversion{};
    conversion.data_in = samples.data();
    conversion.input_frames = static_cast<long>(samples.size());
    conversion.data_out = out.data();
    conversion.output_frames = static_cast<long>(out.size());
    conversion.src_ratio = rate / fromRate;
    if (const int status = src_simple(&conversion, SRC_SINC_BEST_QUALITY, 1); status != 0) {
        throw std::runtime_error(src_strerror(status));
    }
    out.resize(static_cast<size_t>(conversion.output_frames_gen));
    return out;
}

void encode(const std::string& path, const WaveAudio& speech) {
    const QString quality = QStringLiteral("MQ");
    auto file = VELKExtendedAudioFile::forRecording(
        path, TapeQuality::streamDescriptionForQuality(quality, false),
        TapeQuality::bitrateForQuality(quality), nullptr);
    // The file takes frames at its client rate and converts them to the tape's.
    std::vector<float> mono =
        resampled(monoSamples(speech), speech.sampleRate, file->clientDataFormat().mSampleRate);
    constexpr size_t kSlice = 4096;
    for (size_t at = 0; at < mono.size(); at += kSlice) {
        auto frames = static_cast<uint32_t>(std::min(kSlice, mono.size() - at));
        AudioBufferList list{};
        list.mNumberBuffers = 1;
        list.mBuffers[0] = {1, frames * static_cast<uint32_t>(sizeof(float)), mono.data() + at};
        file->writeAudioBufferList(&list, &frames);
    }
    file->closeFile();
}

bool label(const QString& path, QString* error) {
    Tape tape(path);
    tape.setCommitsOnDestruction(false);
    tape.setKeepsFileName(true);
    tape.setTitle(QStringLiteral("Welcome to Cassora"));
    tape.setDate(labelDate());
    tape.setArtist(QStringLiteral("Cassora"));
    tape.setNotes(
        QStringLiteral("Z records, X plays, C rewinds, V fast-forwards, B stops and N pauses. "
                       "Space plays and stops. While a tape plays, hold rewind or fast-forward "
                       "to review or cue it."));
    tape.setTapeLetter(TapeLetter::tapeLetter(QStringLiteral("W")));
    if (!tape.commitAttributes()) {
        *error = tape.lastError();
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-welcome-tape SPEECH.wav TAPE.m4a\n");
        return 2;
    }
    // The cover art is drawn off screen: no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    const QString speechPath = QString::fromLocal8Bit(argv[1]);
    const QString tapePath = QString::fromLocal8Bit(argv[2]);

    QFile speechFile(speechPath);
    if (!speechFile.open(QIODevice::ReadOnly)) {
        return fail(QStringLiteral("cannot read %1: %2").arg(speechPath, speechFile.errorString()));
    }
    QString error;
    const std::optional<WaveAudio> speech = decodeWaveAudio(speechFile.readAll(), &error);
    if (!speech) {
        return fail(QStringLiteral("%1: %2").arg(speechPath, error));
    }
    try {
        encode(tapePath.toStdString(), *speech);
    } catch (const std::exception& exception) {
        QFile::remove(tapePath);
        return fail(QStringLiteral("cannot encode %1: %2")
                        .arg(tapePath, QString::fromUtf8(exception.what())));
    }
    if (!label(tapePath, &error)) {
        QFile::remove(tapePath);
        return fail(QStringLiteral("cannot label %1: %2").arg(tapePath, error));
    }
    return 0;
}

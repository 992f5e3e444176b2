#include "app/shell/AudioCommands.h"

#include "app/library/RecordingAudioFile.h"
#include "app/library/RecordingStallWatch.h"
#include "app/library/Tape.h"
#include "app/library/TapeQuality.h"
#include "app/library/TapeRecovery.h"
#include "app/shell/CommandSupport.h"
#include "app/shell/LibraryLocation.h"
#include "app/shell/TapeCommands.h"
#include "audio/format/InternalInconsistencyException.h"
#include "audio/format/NSXException.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "audio/meter/VELKAudioInputMeter.h"
#include "audio/player/VELKExtendedAudioFilePlayer.h"
#include "audio/recorder/VELKExtendedAudioFileRecorder.h"
#include "platform/audio/MainQueue.h"
#include "platform/desktop/FileNames.h"
#include "platform/desktop/UserDefaults.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

constexpr double kDisplayInterval = 1.0 / 15.0;
constexpr double kShortestWait = 0.005;

QString clock(double milliseconds) {
    const auto tenths = static_cast<qint64>(std::max(milliseconds, 0.0) / 100.0);
    return QStringLiteral("%1:%2.%3")
        .arg(tenths / 600, 2, 10, QLatin1Char('0'))
        .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

QString decibels(double level) {
    return std::isfinite(level) ? QString::asprintf("%6.1f dB", level)
                                : QStringLiteral("  -inf dB");
}

bool onTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

void showStatus(const QString& line) {
    std::printf("\r%s\033[K", line.toUtf8().constData());
    std::fflush(stdout);
}

// A finite number within [lowest, highest]; nothing for text that is not one
// ("nan" and "inf" included).
std::optional<double> numberIn(const QString& text, double lowest, double highest) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < lowest || value > highest) {
        return std::nullopt;
    }
    return value;
}

// A device by UID, or the default of the direction.
std::shared_ptr<VELKAudioDevice> deviceFor(const QString& uid, bool input, QString* error) {
    if (!uid.isEmpty()) {
        auto device = VELKAudioDevice::withDeviceUID(uid.toStdString());
        if (!device) {
            *error = QStringLiteral("no audio device \"%1\" (see cassora devices)").arg(uid);
        }
        return device;
    }
    const AudioDeviceID id = input ? VELKAudioHardware::defaultInputDeviceID()
                                   : VELKAudioHardware::defaultOutputDeviceID();
    if (id == 0) {
        *error = input ? QStringLiteral("no input device") : QStringLiteral("no output device");
        return nullptr;
    }
    return VELKAudioDevice::withDeviceID(id);
}

// "1,2" (one-based, as people count) -> zero-based device channels.
std::optional<std::vector<int32_t>> channelsFrom(const QString& text, uint32_t deviceChannels,
                                                 QString* error) {
    if (text.isEmpty()) {
        return std::nullopt;
    }
    std::vector<int32_t> channels;
    for (const QString& part : text.split(QLatin1Char(','))) {
        bool ok = false;
        const int channel = part.trimmed().toInt(&ok);
        if (!ok || channel < 1 || static_cast<uint32_t>(channel) > deviceChannels) {
            *error = QStringLiteral("channel \"%1\" is not one of the device's channels 1 to %2")
                         .arg(part.trimmed())
                         .arg(deviceChannels);
            return std::nullopt;
        }
        channels.push_back(channel - 1);
    }
    if (channels.empty() || channels.size() > 2) {
        *error = QStringLiteral("give one channel (mono) or two (stereo)");
        return std::nullopt;
    }
    return channels;
}

class RecordingObserver : public VELKExtendedAudioFileRecorderDelegate {
public:
    bool stopped = false;
    bool failed = false;
    QString reason;
    void audioFileRecorderDidStop(VELKExtendedAudioFileRecorder*) override { stopped = true; }
    void audioFileRecorderDidFail(VELKExtendedAudioFileRecorder*,
                                  const std::string& why) override {
        failed = true;
        reason = QString::fromStdString(why);
    }
};

// The rules for `record --output`: a new .m4a file in a folder that exists.
// (The file is created only if the name is still free when it is made.)
QString problemWithOutputPath(const QString& path) {
    const QFileInfo info(path);
    const QString shown = CommandSupport::printable(path);
    if (!path.endsWith(QStringLiteral(".m4a"), Qt::CaseInsensitive) ||
        info.completeBaseName().isEmpty()) {
        return QStringLiteral("%1: a tape is an MPEG-4 audio file; give a name ending in .m4a")
            .arg(shown);
    }
    if (FileNames::exists(path)) {
        return QStringLiteral("%1 exists").arg(shown);
    }
    const QString folder = info.absolutePath();
    if (!FileNames::exists(folder)) {
        return QStringLiteral("no such folder: %1").arg(CommandSupport::printable(folder));
    }
    if (!FileNames::isDirectory(folder)) {
        return QStringLiteral("not a folder: %1").arg(CommandSupport::printable(folder));
    }
    if (!FileNames::isWritableDirectory(folder)) {
        return QStringLiteral("cannot write in %1").arg(CommandSupport::printable(folder));
    }
    return {};
}

// Labels a finished recording as the deck labels a new tape, then lets its
// journal go; prints its path.
void labelRecording(const QString& path, bool keepsName, const QDateTime& started) {
    Tape tape(path);
    tape.setCommitsOnDestruction(false);
    tape.setKeepsFileName(keepsName);
    if (labelNewRecording(tape, started)) {
        TapeRecovery::releaseFinishedRecording(path);
    } else {
        std::fprintf(stderr,
                     "cassora: the recording is complete but could not be labelled: %s; "
                     "\"cassora recover\" labels it once that is solved\n",
                     CommandSupport::printable(tape.lastError()).toUtf8().constData());
    }
    std::printf("%s\n", CommandSupport::printable(tape.filename()).toUtf8().constData());
    std::fflush(stdout);
}

// Says on standard error when the input stops delivering audio, and when it
// delivers again.
void reportStall(RecordingStallWatch& watch, int64_t frames, double now, const QString& device,
                 bool terminal) {
    switch (watch.update(frames, now)) {
    case RecordingStallWatch::Change::Stalled:
        std::fprintf(stderr,
                     "%scassora: no audio has arrived from \"%s\" for %.0f seconds (is the "
                     "device suspended or the sound server frozen?); still recording\n",
                     terminal ? "\n" : "", CommandSupport::printable(device).toUtf8().constData(),
                     watch.silentFor(now));
        break;
    case RecordingStallWatch::Change::Resumed:
        std::fprintf(stderr, "%scassora: audio arrives again from \"%s\"\n",
                     terminal ? "\n" : "", CommandSupport::printable(device).toUtf8().constData());
        break;
    case RecordingStallWatch::Change::None:
        break;
    }
}

class PlaybackObserver : public VELKExtendedAudioFilePlayerDelegate {
public:
    bool ended = false;
    QString failure;
    void audioFilePlayerDidReachEndOfFile(VELKExtendedAudioFilePlayer*) override { ended = true; }
    void audioFilePlayerDidFail(VELKExtendedAudioFilePlayer*, const std::string& why) override {
        ended = true;
        failure = QString::fromStdString(why);
    }
};

} // namespace

int runRecordCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption quality(QStringLiteral("quality"), QStringLiteral("HQ, MQ or LQ"),
                                     QStringLiteral("quality"));
    const QCommandLineOption mono(QStringLiteral("mono"), QStringLiteral("Record one channel."));
    const QCommandLineOption device(QStringLiteral("device"), QStringLiteral("Input device UID."),
                                    QStringLiteral("uid"));
    const QCommandLineOption channels(QStringLiteral("channels"),
                                      QStringLiteral("Device channels, from 1."),
                                      QStringLiteral("list"));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("Stop after N seconds."), QStringLiteral("n"));
    const QCommandLineOption output(QStringLiteral("output"), QStringLiteral("The file to write."),
                                    QStringLiteral("file"));
    parser.addOptions({quality, mono, device, channels, seconds, output});
    if (!CommandSupport::parse(parser, QStringLiteral("record"), arguments)) {
        return 1;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return CommandSupport::fail(QStringLiteral("record takes no file name; use --output"));
    }
    QString level = parser.value(quality);
    if (level.isEmpty()) {
        level = UserDefaults::standard().stringForKey(QStringLiteral("RecordingQuality"));
    }
    if (level.isEmpty()) {
        level = QStringLiteral("HQ");
    }
    level = level.toUpper();
    if (TapeQuality::indexForQuality(level) < 0) {
        return CommandSupport::fail(
            QStringLiteral("unknown quality \"%1\": use HQ, MQ or LQ").arg(parser.value(quality)));
    }
    double limit = 0;
    if (parser.isSet(seconds)) {
        const auto value = numberIn(parser.value(seconds), 0, 7 * 24 * 3600.0);
        if (!value || *value <= 0) {
            return CommandSupport::fail(
                QStringLiteral("--seconds needs a number of seconds above 0 (at most a week)"));
        }
        limit = *value;
    }
    CommandSupport::catchInterrupts();
    try {
        QString error;
        const auto input = deviceFor(parser.value(device), true, &error);
        if (!input) {
            return CommandSupport::fail(error);
        }
        const uint32_t deviceChannels = input->numberOfRecordChannels();
        if (deviceChannels == 0) {
            return CommandSupport::fail(QStringLiteral("\"%1\" cannot record")
                                            .arg(QString::fromStdString(input->deviceUID())));
        }
        auto recordChannels = channelsFrom(parser.value(channels), deviceChannels, &error);
        if (!error.isEmpty()) {
            return CommandSupport::fail(error);
        }
        bool stereo = !parser.isSet(mono);
        if (recordChannels) {
            stereo = recordChannels->size() == 2;
        } else if (stereo && deviceChannels < 2) {
            return CommandSupport::fail(QStringLiteral("\"%1\" has one channel: record with --mono")
                                            .arg(QString::fromStdString(input->deviceUID())));
        }
        QString path = parser.value(output);
        const bool chosenName = !path.isEmpty();
        if (chosenName) {
            if (const QString problem = problemWithOutputPath(path); !problem.isEmpty()) {
                return CommandSupport::fail(problem);
            }
        } else {
            const QString folder = tapeLibraryPath();
            if (folder.isEmpty()) {
                return CommandSupport::fail(QStringLiteral("cannot make the library folder"));
            }
            path = newTapeFilePath(folder);
        }
        path = FileNames::absolute(path);

        // Dated when it starts, as the deck dates its tapes.
        const QDateTime started = QDateTime::currentDateTime();
        // Never over a file: a name taken since the check above is refused.
        auto file = VELKExtendedAudioFile::forRecording(
            FileNames::toNative(path), TapeQuality::streamDescriptionForQuality(level, stereo),
            TapeQuality::bitrateForQuality(level), input, false);
        auto recorder = VELKExtendedAudioFileRecorder::withFile(file, input, recordChannels);
        RecordingObserver observer;
        recorder->setDelegate(&observer);
        std::unique_ptr<VELKAudioInputMeter> meter;
        const bool terminal = onTerminal();
        if (terminal) {
            meter = std::make_unique<VELKAudioInputMeter>(input, recordChannels);
            meter->start();
        }
        const double rate = file->clientDataFormat().mSampleRate;
        recorder->startRecording();
        bool announced = false;
        RecordingStallWatch stallWatch;
        QElapsedTimer elapsed;
        elapsed.start();
        const QString deviceName = QString::fromStdString(input->deviceName());
        while (!CommandSupport::interrupted() && !observer.failed &&
               !(limit > 0 && recorder->currentFrame() >= static_cast<int64_t>(limit * rate))) {
            // Asleep between status lines; near a set length, only until it is reached.
            const double left = limit > 0
                                    ? limit - static_cast<double>(recorder->currentFrame()) / rate
                                    : kDisplayInterval;
            MainQueue::runPendingFor(std::clamp(left, kShortestWait, kDisplayInterval));
            reportStall(stallWatch, recorder->currentFrame(), elapsed.elapsed() / 1000.0, deviceName,
                        terminal);
            if (terminal && !announced && recorder->currentFrame() > 0) {
                std::printf("\rRecording to %s (Ctrl-C stops)\033[K\n",
                            CommandSupport::printable(path).toUtf8().constData());
                announced = true;
            }
            if (meter) {
                const auto& levels = meter->levels();
                QString line = QStringLiteral("REC %1  %2")
                                   .arg(clock(recorder->currentTime()), decibels(levels[0]));
                if (meter->channelCount() > 1) {
                    line += QStringLiteral("  %1").arg(decibels(levels[1]));
                }
                showStatus(line);
            }
        }
        recorder->stopRecording();
        if (meter) {
            meter->stop();
            std::printf("\n");
        }
        for (int i = 0; i < 40 && !observer.stopped; ++i) {
            MainQueue::runPendingFor(0.05);
        }
        QString failure = observer.reason;
        if (failure.isEmpty() && recorder->audioFileWriter()->writeFailed()) {
            failure = QString::fromStdString(recorder->audioFileWriter()->writeError());
        }
        recorder.reset();
        try {
            file->closeFile();
        } catch (const NSXException& exception) {
            return CommandSupport::fail(
                QStringLiteral("the recording in %1 could not be finished (%2); it is kept, and "
                               "\"cassora recover\" finishes it once the problem is solved")
                    .arg(FileNames::fromNative(file->filename()),
                         CommandSupport::describe(exception)));
        }
        // Where the file is now, should its folder have been renamed meanwhile.
        labelRecording(FileNames::fromNative(file->filename()), chosenName, started);
        if (!failure.isEmpty()) {
            return CommandSupport::fail(
                QStringLiteral("recording stopped: %1; the tape above holds what was recorded "
                               "until then")
                    .arg(failure));
        }
        return 0;
    } catch (const NSXException& exception) {
        return CommandSupport::fail(CommandSupport::describe(exception));
    }
}

int runPlayCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("Speed, negative backwards."),
                                   QStringLiteral("s"), QStringLiteral("1"));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("Start time in seconds."),
                                  QStringLiteral("seconds"));
    const QCommandLineOption volume(QStringLiteral("volume"), QStringLiteral("Volume in dB."),
                                    QStringLiteral("db"), QStringLiteral("0"));
    const QCommandLineOption device(QStringLiteral("device"), QStringLiteral("Output device UID."),
                                    QStringLiteral("uid"));
    const QCommandLineOption removeVoice(
        QStringLiteral("remove-voice"),
        QStringLiteral("Take out the voice: centred sound from 150 to 3600 Hz (stereo tapes)."));
    parser.addOptions({speed, from, volume, device, removeVoice});
    if (!CommandSupport::parse(parser, QStringLiteral("play"), arguments)) {
        return 1;
    }
    if (parser.positionalArguments().size() != 1) {
        return CommandSupport::fail(QStringLiteral("play needs one file"));
    }
    const QString path = parser.positionalArguments().front();
    const auto playbackSpeed = numberIn(parser.value(speed), -8.0, 8.0);
    if (!playbackSpeed || std::fabs(*playbackSpeed) < 0.125) {
        return CommandSupport::fail(
            QStringLiteral("--speed must be between 0.125 and 8 (or -8 and -0.125)"));
    }
    const auto gain = numberIn(parser.value(volume), -96.0, 24.0);
    if (!gain) {
        return CommandSupport::fail(
            QStringLiteral("--volume must be a number of decibels from -96 to 24"));
    }
    double start = -1;
    if (parser.isSet(from)) {
        const auto value = numberIn(parser.value(from), 0, 1e9);
        if (!value) {
            return CommandSupport::fail(
                QStringLiteral("--from needs a time in seconds from the start (0 or more)"));
        }
        start = *value;
    }
    if (!FileNames::exists(path)) {
        return CommandSupport::fail(QStringLiteral("no such file: %1").arg(path));
    }
    CommandSupport::catchInterrupts();
    try {
        QString error;
        const auto output = deviceFor(parser.value(device), false, &error);
        if (!output) {
            return CommandSupport::fail(error);
        }
        auto player = VELKExtendedAudioFilePlayer::withFilename(FileNames::toNative(path), output);
        PlaybackObserver observer;
        player->setDelegate(&observer);
        player->setPlaybackSpeed(*playbackSpeed);
        player->setPlaybackVolume(*gain);
        if (parser.isSet(removeVoice) && !player->setRemovesVoice(true)) {
            const bool mono = player->audioFile()->streamDescription()->channelsPerFrame() < 2;
            std::fprintf(stderr, "cassora: %s; it plays as it is\n",
                         mono ? "the voice can only be taken out of a stereo tape, not a mono one"
                              : "the voice could not be taken out");
        }
        if (start >= 0) {
            if (start * 1000.0 > player->maxTime()) {
                return CommandSupport::fail(
                    QStringLiteral("--from is past the end (%1)").arg(clock(player->maxTime())));
            }
            player->setCurrentTime(start * 1000.0);
        } else if (*playbackSpeed < 0) {
            player->setCurrentFrame(player->audioFile()->frameCount());
        }
        player->startFilePlaying();
        // The position is shown only to a person at a terminal; otherwise
        // the main thread sleeps until the tape ends or an interrupt comes.
        const bool terminal = onTerminal();
        while (!CommandSupport::interrupted() && !observer.ended) {
            if (!terminal) {
                CommandSupport::runNextNotices();
                continue;
            }
            MainQueue::runPendingFor(kDisplayInterval);
            showStatus(QStringLiteral("PLAY %1 / %2")
                           .arg(clock(player->currentTime()), clock(player->maxTime())));
        }
        player->stopFilePlaying();
        if (terminal) {
            std::printf("\n");
        }
        if (!observer.failure.isEmpty()) {
            return CommandSupport::fail(QStringLiteral("playing stopped: %1").arg(observer.failure));
        }
        return 0;
    } catch (const NSXException& exception) {
        return CommandSupport::fail(CommandSupport::describe(exception));
    }
}

int runMeterCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption device(QStringLiteral("device"), QStringLiteral("Input device UID."),
                                    QStringLiteral("uid"));
    const QCommandLineOption channels(QStringLiteral("channels"),
                                      QStringLiteral("Device channels, from 1."),
                                      QStringLiteral("list"));
    parser.addOptions({device, channels});
    if (!CommandSupport::parse(parser, QStringLiteral("meter"), arguments)) {
        return 1;
    }
    CommandSupport::catchInterrupts();
    try {
        QString error;
        const auto input = deviceFor(parser.value(device), true, &error);
        if (!input) {
            return CommandSupport::fail(error);
        }
        const auto meterChannels =
            channelsFrom(parser.value(channels), input->numberOfRecordChannels(), &error);
        if (!error.isEmpty()) {
            return CommandSupport::fail(error);
        }
        VELKAudioInputMeter meter(input, meterChannels);
        meter.start();
        while (!CommandSupport::interrupted()) {
            MainQueue::runPendingFor(kDisplayInterval);
            const auto& levels = meter.levels();
            QString line = decibels(levels[0]);
            if (meter.channelCount() > 1) {
                line += QStringLiteral("  ") + decibels(levels[1]);
            }
            std::printf("%s\n", line.toUtf8().constData());
            std::fflush(stdout);
        }
        meter.stop();
        return 0;
    } catch (const NSXException& exception) {
        return CommandSupport::fail(CommandSupport::describe(exception));
    }
}

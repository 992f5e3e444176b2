// Records two seconds into FOLDER/<UUID>.m4a (or FOLDER/NAME) and finishes
// and labels it as `cassora record` does, dying on the spot (as a kill
// would) just before the step named STEP, its COUNT-th time. Exits 0 when
// the step never came.
//
//   finish_recording_probe FOLDER STEP [COUNT [NAME]]

#include "app/library/MP4LabelWriter.h"
#include "app/library/Tape.h"
#include "app/library/TapeRecovery.h"
#include "app/shell/LibraryLocation.h"
#include "app/shell/TapeCommands.h"
#include "audio/file/VELKExtendedAudioFile.h"
#include "platform/media/MediaAudioFile.h"

#include <QDateTime>
#include <QGuiApplication>

#include <cmath>
#include <cstring>
#include <unistd.h>

namespace {

std::string gStep;
int gCount = 1;

void dieBefore(const char* step) {
    if (gStep == step && --gCount == 0) {
        _exit(7);
    }
}

void recordSine(VELKExtendedAudioFile& file, double seconds) {
    const double rate = file.clientDataFormat().mSampleRate;
    std::vector<float> slice(1024);
    std::vector<uint8_t> storage(sizeof(AudioBufferList));
    auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
    list->mNumberBuffers = 1;
    for (int64_t frame = 0; frame < static_cast<int64_t>(seconds * rate); frame += 1024) {
        for (int i = 0; i < 1024; ++i) {
            slice[i] = 0.3f * static_cast<float>(std::sin(2 * M_PI * 440 * double(frame + i) / rate));
        }
        list->mBuffers[0] = {1, 1024 * sizeof(float), slice.data()};
        uint32_t count = 1024;
        file.writeAudioBufferList(list, &count);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return 2;
    }
    gStep = argv[2];
    gCount = argc > 3 ? std::atoi(argv[3]) : 1;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication application(argc, argv);
    MediaAudioFile::setJournalKeptAfterFinishing(true);
    MediaAudioFile::setStepObserver(dieBefore);
    MP4LabelWriter::setStepObserver(dieBefore);

    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString path = argc > 4 ? folder + '/' + QString::fromLocal8Bit(argv[4])
                                  : newTapeFilePath(folder);
    auto description = VELKAudioStreamBasicDescription::aacStreamDescription();
    description->setChannelsPerFrame(1);
    description->setSampleRate(44100);
    const QDateTime started = QDateTime::currentDateTime();
    auto file = VELKExtendedAudioFile::forRecording(path.toStdString(), description, 64000,
                                                    nullptr, false);
    recordSine(*file, 2.0);
    file->closeFile();
    Tape tape(QString::fromStdString(file->filename()));
    tape.setCommitsOnDestruction(false);
    if (!labelNewRecording(tape, started)) {
        return 3;
    }
    dieBefore("release");
    TapeRecovery::releaseFinishedRecording(QString::fromStdString(file->filename()));
    return 0;
}

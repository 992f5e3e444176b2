// The deck controller: recording new tapes.

#include "app/deck/WindowController.h"
#include "app/deck/WindowControllerSupport.h"

#include "app/deck/DeckTitleBarView.h"
#include "app/deck/DeckWindow.h"
#include "app/deck/HUDView.h"
#include "app/deck/StereoView.h"
#include "app/deck/TapeBoxView.h"
#include "app/deck/TapeViewBinding.h"
#include "app/library/RecordingAudioFile.h"
#include "app/library/TapeLetter.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/library/TapeRecovery.h"
#include "app/preferences/PreferencesController.h"
#include "app/transport/Cassora_sm.h"
#include "audio/format/NSXException.h"
#include "platform/desktop/FileNames.h"
#include "platform/desktop/UserDefaults.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <chrono>
#include <cstdio>

namespace {

// The slices in which the deck waits for the recorder to report that it has
// stopped, and how long it waits at most before finishing the file anyway.
constexpr int kRecorderWaitSliceMs = 50;
constexpr double kRecorderWaitLimitSeconds = 15.0;

} // namespace

using namespace WindowControllerSupport;

// Recording

bool WindowController::isRecording() const {
    return mAudioFileRecorder && mAudioFileRecorder->isFileRecording();
}

void WindowController::startRecordingAudio() {
    // A recording that stopped while nothing was selected in the tape box
    // leaves its tape in the deck; replacing it below commits it, so the
    // recording goes ahead.
    mTapeArrayController->pauseMonitoringRecordingDirectory();
    HUDView* hud = mWindow->hudView();

    QString error;
    const QString folder = soundFilePath();
    std::shared_ptr<VELKAudioDevice> device;
    if (!checkSoundServer()) {
        error = mSoundServerFailure;
    } else if (const QString problem = libraryFolderProblem(); !problem.isEmpty()) {
        error = problem;
    } else {
        try {
            device = mPreferences.recordingAudioDevice();
        } catch (const std::exception& exception) {
            error = QString::fromUtf8(exception.what());
        }
        if (!device && error.isEmpty()) {
            error = tr("There is no input device to record from.");
        }
    }

    std::shared_ptr<Tape> tape;
    if (error.isEmpty()) {
        const QString path = QDir(folder).filePath(
            QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".m4a"));
        tape = Tape::forNewRecording(path);
        if (!tape) {
            error = tr("A file named “%1” is already in the library folder.")
                        .arg(QFileInfo(path).fileName());
        }
    }
    if (tape) {
        tape->setTitle(tr("Untitled"));
        tape->setNotes(QString());
        tape->setDate(QDateTime::currentDateTime());
        tape->setArtist(UserDefaults::standard().stringForKey(kTapeAuthor));
        tape->setTapeLetter(TapeLetter::tapeLetter(QStringLiteral("A")));
        tape->setQuality(hud->quality());
        setSelectedTape(tape);
        mTapeArrayController->addObject(tape);

        auto file = audioFileForRecordingWithFilename(tape->filename(), hud->quality(),
                                                      hud->stereo(), &error);
        if (file) {
            try {
                mAudioFileRecorder = VELKExtendedAudioFileRecorder::withFile(
                    file, device, channelsOrDefault(mPreferences.recordingAudioDeviceChannels()));
                mAudioFileRecorder->setDelegate(this);
                mAudioFileRecorder->startRecording();
            } catch (const NSXException& exception) {
                error = describeEngineError(exception.error());
            } catch (const std::exception& exception) {
                error = QString::fromUtf8(exception.what());
            }
            if (!error.isEmpty()) {
                mAudioFileRecorder.reset();
                try {
                    file->closeFile();
                } catch (const std::exception&) {
                    // The file goes with the tape below.
                }
            }
        }
    }

    hud->setRecordingMode(true);
    mWindow->tapeBoxView()->setRecording(true);
    emit recordingStateChanged();
    if (!mAudioFileRecorder) {
        logError(QStringLiteral("Could not start recording: %1").arg(error));
        if (tape) {
            dropTapeThatWasNeverRecorded(tape);
        }
        showAlert(tr("The recording could not start"),
                  error.isEmpty() ? tr("The input device cannot be opened.") : error);
        QTimer::singleShot(0, this, [this] { stopTape(); });
    } else if (mAudioFileRecorder->didFail()) {
        recordingDidFail(QString::fromStdString(mAudioFileRecorder->failureReason()));
    }
}

void WindowController::dropTapeThatWasNeverRecorded(const std::shared_ptr<Tape>& tape) {
    // Nothing was recorded: the empty tape goes, uncommitted, so that no
    // empty "Untitled" file is left in the library.
    tape->setCommitsOnDestruction(false);
    if (mSelectedTape == tape) {
        stopObservingTape(tape);
        mSelectedTape.reset();
        mTapeViewBinding->setTape(nullptr);
        mWindow->titleBarView()->setTapeTitle(QString());
        emit selectedTapeChanged();
    }
    mTapeArrayController->removeObject(*tape);
    // The tape's file was made for it (never someone else's), with any journal.
    TapeRecovery::releaseFinishedRecording(tape->filename());
    std::remove(FileNames::toNative(tape->filename()).c_str());
}

void WindowController::pauseRecordingAudio() {
    mRecordingPaused = true;
    emit recordingStateChanged();
    if (mAudioFileRecorder) {
        mAudioFileRecorder->setDelegate(nullptr);
        if (const QString failure = engineFailure([&] { mAudioFileRecorder->stopRecording(); });
            !failure.isEmpty()) {
            recordingDidFail(failure);
        }
    }
}

void WindowController::resumeRecordingAudio() {
    mRecordingPaused = false;
    emit recordingStateChanged();
    if (mAudioFileRecorder) {
        mAudioFileRecorder->setDelegate(this);
        // The input may have gone while the recording was paused.
        if (const QString failure = engineFailure([&] { mAudioFileRecorder->startRecording(); });
            !failure.isEmpty()) {
            recordingDidFail(tr("The input device cannot be opened: %1").arg(failure));
        } else if (mAudioFileRecorder->didFail()) {
            // A failure while paused reached no delegate: say it now.
            recordingDidFail(QString::fromStdString(mAudioFileRecorder->failureReason()));
        }
    }
}

void WindowController::stopRecordingAudio() {
    mStoppingRecorder = true;
    if (mAudioFileRecorder) {
        mWaitingForRecorder = mAudioFileRecorder->isFileRecording();
        if (mWaitingForRecorder) {
            if (const QString failure = engineFailure([&] { mAudioFileRecorder->stopRecording(); });
                !failure.isEmpty()) {
                logError(failure);
                mWaitingForRecorder = false;
            }
            const auto start = std::chrono::steady_clock::now();
            while (mWaitingForRecorder) {
                QEventLoop slice;
                QTimer::singleShot(kRecorderWaitSliceMs, &slice, &QEventLoop::quit);
                slice.exec();
                const std::chrono::duration<double> waited =
                    std::chrono::steady_clock::now() - start;
                if (waited.count() > kRecorderWaitLimitSeconds) {
                    // The recorder has written everything when stopRecording
                    // returns; a missing report must not keep the tape open.
                    logError(QStringLiteral("The recorder did not report that it stopped."));
                    break;
                }
            }
        }
        finalizeRecordedFile();
    }
    mTapeArrayController->resumeMonitoringRecordingDirectory();
    mRecordingPaused = false;
    watchForStalledRecording(0); // the take is over: so is any stall notice
    mWindow->hudView()->setRecordingMode(false);
    mWindow->tapeBoxView()->setRecording(false);
    mStoppingRecorder = false;
    emit recordingStateChanged();
    if (mLibraryLocationChangedWhileRecording) {
        mLibraryLocationChangedWhileRecording = false;
        QTimer::singleShot(0, this, [this] { tapeLibraryLocationDidChange(); });
    }
}

void WindowController::finalizeRecordedFile() {
    const std::shared_ptr<VELKExtendedAudioFileRecorder> recorder =
        std::exchange(mAudioFileRecorder, nullptr);
    if (!recorder) {
        return;
    }
    recorder->setDelegate(nullptr);
    bool finished = false;
    try {
        recorder->recordFile()->closeFile();
        finished = true;
    } catch (const std::exception& exception) {
        logError(QStringLiteral("Could not finish the recording: %1")
                     .arg(QString::fromUtf8(exception.what())));
    }
    // Where the file was finished: the folder may have been renamed meanwhile.
    const QString recorded = FileNames::fromNative(recorder->recordFile()->filename());
    if (mSelectedTape) {
        const bool labelled = mSelectedTape->commitAttributes();
        if (!labelled) {
            logError(mSelectedTape->lastError());
        }
        mSelectedTape->loadAttributes();
        // The journal stays until the label is on: recovery labels the tape
        // on the next start if this one never got there.
        if (finished && labelled) {
            TapeRecovery::releaseFinishedRecording(recorded);
        }
    }
    mWaitingForRecorder = false;
}

void WindowController::recordingDidFail(const QString& reason) {
    logError(QStringLiteral("The recording stopped: %1").arg(reason));
    showAlert(tr("The recording stopped"),
              tr("%1\n\nEverything recorded until then is kept on the tape.").arg(reason));
    // The deck stops as if STOP had been pressed; the tape is finished and labelled.
    QTimer::singleShot(0, this, [this] {
        if (mAudioFileRecorder) {
            stopTape();
        }
    });
}

void WindowController::audioFileRecorderDidStop(VELKExtendedAudioFileRecorder* recorder) {
    if (recorder == mAudioFileRecorder.get()) {
        mWaitingForRecorder = false;
    }
}

void WindowController::audioFileRecorderDidFail(VELKExtendedAudioFileRecorder* recorder,
                                                const std::string& reason) {
    if (recorder == mAudioFileRecorder.get()) {
        recordingDidFail(QString::fromStdString(reason));
    }
}

void WindowController::chooseRecordingChannels(bool stereo) {
    mWindow->hudView()->stereoView()->chooseItem(stereo ? 0 : 1);
}

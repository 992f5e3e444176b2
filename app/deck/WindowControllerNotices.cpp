// The deck controller: what stands in the way of recording and playing,
// said on the deck itself.

#include "app/deck/DeckAccessibility.h"
#include "app/deck/WindowController.h"
#include "app/deck/WindowControllerSupport.h"

#include "app/deck/DeckTitleBarView.h"
#include "app/deck/DeckWindow.h"
#include "platform/audio/PulseHardware.h"
#include "platform/desktop/FileNames.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryFile>

using namespace WindowControllerSupport;

QString WindowController::soundServerMissing() {
    return tr("No sound server is running (PulseAudio or PipeWire), so Cassora can neither "
              "record nor play. Start one, then try again.");
}

QString WindowController::libraryFolderProblem() const {
    const QString folder = soundFilePath();
    if (folder.isEmpty()) {
        return tr("Cassora has no library folder. Choose one in the preferences.");
    }
    const QString shown = QDir::toNativeSeparators(folder);
    if (!FileNames::isDirectory(folder)) {
        return tr("The library folder \u201c%1\u201d cannot be found. Choose another one in the "
                  "preferences.")
            .arg(shown);
    }
    // Only a write tells for sure (read-only mounts, access lists, root).
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".cassora-write-test-XXXXXX")));
    if (!probe.open()) {
        return tr("The library folder \u201c%1\u201d is read-only: new recordings and label "
                  "changes cannot be saved there. Choose another folder in the preferences.")
            .arg(shown);
    }
    return {};
}

bool WindowController::checkSoundServer() {
    const bool answers = PulseHardware::shared().connect() == kAudioHardwareNoError;
    if (answers && !mIsHardwareDelegate) {
        // The server has come since the deck started: the deck follows its devices now.
        try {
            VELKAudioHardware::sharedInstance().addDelegate(this);
            mIsHardwareDelegate = true;
        } catch (const NSXException& exception) {
            logError(QString::fromStdString(exception.error().localizedDescription()));
        }
        destroyAudioInputMeter();
        createAudioInputMeter();
    }
    mSoundServerFailure = answers ? QString() : soundServerMissing();
    updateNotices();
    return answers;
}

QString WindowController::notice() const {
    if (!mSoundServerFailure.isEmpty()) {
        return mSoundServerFailure;
    }
    if (!mRecordingStall.isEmpty()) {
        return mRecordingStall;
    }
    if (const QString problem = libraryFolderProblem(); !problem.isEmpty()) {
        return problem;
    }
    return mMonitoringFailure;
}

void WindowController::updateNotices() {
    if (!mWindow) {
        return;
    }
    QString headline;
    if (!mSoundServerFailure.isEmpty()) {
        headline = tr("No sound server: nothing can be recorded or played");
    } else if (!mRecordingStall.isEmpty()) {
        headline = tr("No audio is arriving from the input");
    } else if (const QString problem = libraryFolderProblem(); !problem.isEmpty()) {
        headline = tr("Tapes cannot be saved in %1").arg(QDir::toNativeSeparators(soundFilePath()));
    } else if (!mMonitoringFailure.isEmpty()) {
        headline = tr("Monitoring cannot start");
    }
    if (headline != mWindow->titleBarView()->notice()) {
        DeckAccessibility::announce(mWindow->titleBarView(), headline);
    }
    mWindow->titleBarView()->setNotice(headline, notice());
}

void WindowController::watchForStalledRecording(double recordedSeconds) {
    static const QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    const bool recording = mAudioFileRecorder && !mRecordingPaused && !mStoppingRecorder;
    if (!recording) {
        // A pause or a new take starts the watch afresh.
        mStallWatch = RecordingStallWatch();
        if (!mRecordingStall.isEmpty()) {
            mRecordingStall.clear();
            updateNotices();
        }
        return;
    }
    const double now = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const auto progress = static_cast<int64_t>(recordedSeconds * 1000.0);
    switch (mStallWatch.update(progress, now)) {
    case RecordingStallWatch::Change::Stalled:
        mRecordingStall = tr("No audio has arrived from the input for %n seconds. Is the device "
                             "suspended or unplugged, or the sound server frozen? Cassora is "
                             "still recording and keeps everything that arrives.",
                             nullptr, static_cast<int>(mStallWatch.silentFor(now)));
        logError(mRecordingStall);
        updateNotices();
        break;
    case RecordingStallWatch::Change::Resumed:
        mRecordingStall.clear();
        updateNotices();
        break;
    case RecordingStallWatch::Change::None:
        break;
    }
}

void WindowController::setMonitoring(bool monitoring) {
    if (mWindow) {
        mWindow->titleBarView()->setMonitoring(monitoring);
    }
}

void WindowController::setMonitoringFailure(const QString& reason) {
    if (reason != mMonitoringFailure) {
        mMonitoringFailure = reason;
        updateNotices();
    }
}

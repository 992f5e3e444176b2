// The deck controller: what stands in the way of recording and playing,
// said on the deck itself.

#include "app/deck/WindowController.h"
#include "app/deck/WindowControllerSupport.h"

#include "app/deck/DeckTitleBarView.h"
#include "app/deck/DeckWindow.h"
#include "platform/audio/PulseHardware.h"

#include <QDir>
#include <QFileInfo>
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
    if (!QFileInfo(folder).isDir()) {
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
    return libraryFolderProblem();
}

void WindowController::updateNotices() {
    if (!mWindow) {
        return;
    }
    QString headline;
    if (!mSoundServerFailure.isEmpty()) {
        headline = tr("No sound server: nothing can be recorded or played");
    } else if (const QString problem = libraryFolderProblem(); !problem.isEmpty()) {
        headline = tr("Tapes cannot be saved in %1").arg(QDir::toNativeSeparators(soundFilePath()));
    }
    mWindow->titleBarView()->setNotice(headline, notice());
}

#include "app/deck/WindowController.h"

#include "app/deck/DeckTitleBarView.h"
#include "app/deck/DeckWindow.h"
#include "app/deck/HUDView.h"
#include "app/deck/SoundEffectPlayers.h"
#include "app/deck/TapeBoxView.h"
#include "app/deck/TapeSearchField.h"
#include "app/deck/TapeView.h"
#include "app/deck/TapeViewBinding.h"
#include "app/hotkeys/PTHotKeyCenter.h"
#include "app/library/RecordingAudioFile.h"
#include "app/library/TapeImport.h"
#include "app/library/TapeLetter.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/preferences/PreferencesController.h"
#include "app/sharing/ExportPanel.h"
#include "app/shell/DeckHotKeys.h"
#include "app/shell/StatusItem.h"
#include "app/transport/Cassora_sm.h"
#include "app/transport/SegmentedTapeButtonView.h"
#include "app/transport/TransportGlyphs.h"
#include "audio/format/InternalInconsistencyException.h"
#include "audio/format/NSXException.h"
#include "audio/meter/VELKAudioInputMeter.h"
#include "platform/desktop/DesktopServices.h"
#include "platform/desktop/UserDefaults.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QUuid>

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

const QString kRecordingIsStereo = QStringLiteral("RecordingIsStereo");
const QString kRecordingQuality = QStringLiteral("RecordingQuality");
const QString kPlaybackVolume = QStringLiteral("PlaybackVolume");
// Whether playback takes the voice out (Controls > Remove Voice).
const QString kRemoveVoice = QStringLiteral("RemoveVoice");
const QString kEnableSoftwarePlaythrough = QStringLiteral("EnableSoftwarePlaythrough");
const QString kRecordDeviceChannels = QStringLiteral("RecordDeviceChannels");
const QString kTapeAuthor = QStringLiteral("TapeAuthor");
const QString kTapeLibraryLocation = QStringLiteral("TapeLibraryLocation");
const QString kWindowFrame = QStringLiteral("CassoraWindow");

// The deck's sound effects by their place in the list of sounds.
constexpr int kDrawerOpenSound = 4;
constexpr int kDrawerCloseSound = 5;
constexpr int kTossTapeSound = 8;

// Timers of the level meter and the HUD: 1/15 s.
constexpr auto kDisplayInterval = std::chrono::milliseconds(67);
// The slices in which the deck waits for the recorder to report that it has
// stopped, and how long it waits at most before finishing the file anyway.
constexpr int kRecorderWaitSliceMs = 50;
constexpr double kRecorderWaitLimitSeconds = 15.0;
// How soon a transport event that arrived in the middle of a transition is tried again.
constexpr int kDeferredEventMs = 20;

struct SegmentSetup {
    const char* label;
    const char* action;
};

constexpr SegmentSetup kSegments[] = {
    {"REC", "recordTape:"},       {"PLAY", "playTape:"}, {"REW", "rewindTape:"},
    {"FFWD", "fastForwardTape:"}, {"STOP", "stopTape:"}, {"PAUSE", "pauseTape:"},
};

void logError(const QString& message) {
    std::fprintf(stderr, "(ERROR) WindowController : %s\n", message.toLocal8Bit().constData());
}

QString fullUserName() {
    if (const passwd* entry = getpwuid(getuid())) {
        const QString gecos = QString::fromLocal8Bit(entry->pw_gecos).section(QLatin1Char(','), 0, 0);
        if (!gecos.trimmed().isEmpty()) {
            return gecos.trimmed();
        }
        return QString::fromLocal8Bit(entry->pw_name);
    }
    return qEnvironmentVariable("USER");
}

std::optional<std::vector<int32_t>> channelsOrDefault(const std::vector<int32_t>& channels) {
    if (channels.empty()) {
        return std::nullopt;
    }
    return channels;
}

double displayLevel(double decibels) {
    return std::isfinite(decibels) ? decibels : -100.0;
}

} // namespace

void WindowController::registerDefaults() {
    UserDefaults::standard().registerDefaults({
        {kRecordingIsStereo, true},
        {kRecordingQuality, QStringLiteral("LQ")},
        {kPlaybackVolume, 0.0},
        {kEnableSoftwarePlaythrough, false},
        {kRecordDeviceChannels, QVariantList{0, 1}},
        {kTapeAuthor, fullUserName()},
    });
}

WindowController::WindowController(PreferencesController& preferences, QObject* parent)
    : QObject(parent), mPreferences(preferences) {
    buildDeck();
}

WindowController::~WindowController() {
    windowWillClose();
    delete mWindow;
}

QString WindowController::soundFilePath() const {
    return mPreferences.tapeLibraryURL();
}

// Building the deck

void WindowController::buildDeck() {
    mTapeArrayController = std::make_unique<TapeLibraryArrayController>(soundFilePath());
    mTapeArrayController->setSortKey(QStringLiteral("date"), false);
    mContext = std::make_unique<WindowControllerContext>(*this);

    mWindow = new DeckWindow(mTapeArrayController.get());
    mWindow->setCloseHandler([this] { windowWillClose(); });
    setUpButtonStrip();

    HUDView* hud = mWindow->hudView();
    hud->setStereoCapabilityQuery([this] {
        try {
            const auto device = mPreferences.recordingAudioDevice();
            return !device || device->canRecordStereo();
        } catch (const NSXException&) {
            return true;
        }
    });
    connect(mWindow->tapeView(), &TapeView::shareButtonPressed, this,
            &WindowController::shareButtonPressed);
    mTapeViewBinding = new TapeViewBinding(mWindow->tapeView(), this);

    connect(mWindow, &DeckWindow::drawerButtonPressed, this, &WindowController::discloseTapes);
    connect(mWindow->searchField(), &TapeSearchField::search, this, &WindowController::search);
    connect(mWindow->tapeBoxView(), &TapeBoxView::tapeContextMenuRequested, this,
            [this](const std::shared_ptr<Tape>& tape, const QPoint& where) {
                if (mTapeMenu) {
                    mTapeMenu->setProperty("cassoraTape", QVariant::fromValue(tape.get()));
                    mTapeMenu->exec(where);
                    mTapeMenu->setProperty("cassoraTape", QVariant());
                }
            });

    mTapeArrayController->setImporter(
        [this](const QList<QUrl>& urls) { importTapesIntoLibrary(urls); });

    registerDefaults();
    loadDefaults();
    observeHUD();
    // Transport sounds play where the desktop plays its alerts.
    mSoundEffectPlayers = std::make_unique<SoundEffectPlayers>(
        [this] { return mPreferences.playSoundEffects(); },
        SoundEffectPlayers::systemOutputDeviceUID());
    observeTapeSelection();
    if (!mTapeArrayController->arrangedObjects().empty()) {
        mTapeArrayController->setSelectionIndexes({0});
        mWindow->tapeBoxView()->selectRowAndScrollToVisible(0);
    }

    mMeterTimer.setInterval(kDisplayInterval);
    mMeterTimer.setTimerType(Qt::PreciseTimer);
    connect(&mMeterTimer, &QTimer::timeout, this, &WindowController::updateMeter);
    mHUDTimer.setInterval(kDisplayInterval);
    mHUDTimer.setTimerType(Qt::PreciseTimer);
    connect(&mHUDTimer, &QTimer::timeout, this, &WindowController::updateHUD);

    try {
        VELKAudioHardware::sharedInstance().addDelegate(this);
        mIsHardwareDelegate = true;
    } catch (const NSXException& exception) {
        logError(QStringLiteral("No audio devices: %1")
                     .arg(QString::fromStdString(exception.error().localizedDescription())));
    }
    createAudioInputMeter();
    mWindow->buttonView()->setFocus();
    QWidget::setTabOrder(mWindow->buttonView(), mWindow->searchField());
}

void WindowController::setUpButtonStrip() {
    SegmentedTapeButtonView* buttons = mWindow->buttonView();
    buttons->setSegments(std::size(kSegments));
    buttons->setRecordSegment(TransportSegmentRecord);
    buttons->setTarget(this);
    for (int segment = 0; segment < static_cast<int>(std::size(kSegments)); ++segment) {
        buttons->setLabel(tr(kSegments[segment].label), segment);
        buttons->setSelector(kSegments[segment].action, segment);
        const QColor ink =
            segment == TransportSegmentRecord ? QColor(0xff, 0xf4, 0xf0) : QColor(0x30, 0x30, 0x32);
        buttons->setImage(transportGlyph(segment, ink), segment);
    }
}

void WindowController::loadDefaults() {
    UserDefaults& defaults = UserDefaults::standard();
    HUDView* hud = mWindow->hudView();
    hud->setStereo(defaults.boolForKey(kRecordingIsStereo));
    hud->setVolume(defaults.doubleForKey(kPlaybackVolume));
    hud->setQuality(defaults.stringForKey(kRecordingQuality));
}

void WindowController::observeHUD() {
    HUDView* hud = mWindow->hudView();
    const auto volumeDidChange = [this, hud] {
        UserDefaults::standard().setValue(kPlaybackVolume, static_cast<float>(hud->volume()));
        if (mAudioFilePlayer) {
            mAudioFilePlayer->setPlaybackVolume(hud->volume());
            mMuted = false;
        }
    };
    connect(hud, &HUDView::volumeChanged, this, volumeDidChange);
    volumeDidChange();
    const auto positionDidChange = [this, hud] {
        if (mUpdatingPositionDisplay || !mAudioFilePlayer) {
            return;
        }
        try {
            mAudioFilePlayer->setCurrentTime(hud->position());
        } catch (const NSXException& exception) {
            logError(QStringLiteral("Could not move the tape: %1")
                         .arg(QString::fromStdString(exception.error().localizedDescription())));
        }
        hud->setMaxTime(mAudioFilePlayer->maxTime());
        hud->setTime(hud->position());
    };
    connect(hud, &HUDView::positionChanged, this, positionDidChange);
    positionDidChange();
}

void WindowController::observeTapeSelection() {
    connect(mTapeArrayController.get(), &ArrayController::selectionChanged, this,
            &WindowController::tapeBoxSelectionDidChange);
    connect(mTapeArrayController.get(), &ArrayController::arrangedObjectsChanged, this,
            &WindowController::tapeBoxSelectionDidChange);
    tapeBoxSelectionDidChange();
}

void WindowController::showWindow() {
    const QByteArray frame = UserDefaults::standard().value(kWindowFrame).toByteArray();
    const int height = mWindow->sizeHint().height();
    mWindow->resize(DeckWindow::OpenWidth, height);
    bool placed = false;
    if (!frame.isEmpty()) {
        // Only the place is restored: the width follows the drawer, which
        // starts open.
        QDataStream stream(frame);
        QPoint origin;
        stream >> origin;
        if (stream.status() == QDataStream::Ok) {
            for (const QScreen* screen : QGuiApplication::screens()) {
                if (screen->availableGeometry().contains(origin + QPoint(40, 40))) {
                    mWindow->move(origin);
                    placed = true;
                    break;
                }
            }
        }
    }
    if (!placed) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            mWindow->move(area.center() - QPoint(DeckWindow::OpenWidth / 2, height / 2));
        }
    }
    mWindow->show();
    mWindow->raise();
    mWindow->activateWindow();
    mWindow->buttonView()->setFocus();
}

void WindowController::applicationDidFinishLaunching() {
    mTapeArrayController->startMonitoringRecordingDirectory();
    UserDefaults::standard().observe(
        kTapeLibraryLocation, this, [this](const QVariant&) { tapeLibraryLocationDidChange(); },
        true);
    UserDefaults::standard().observe(kRemoveVoice, this, [this](const QVariant& value) {
        if (mAudioFilePlayer) {
            mAudioFilePlayer->setRemovesVoice(value.toBool()); // a playing tape switches at once
        }
    });
    connect(&PreferencesNotifier::instance(), &PreferencesNotifier::recordDeviceChanged, this,
            &WindowController::recordDeviceDidChange);
    connect(&PreferencesNotifier::instance(), &PreferencesNotifier::recordDeviceChannelsChanged,
            this, &WindowController::recordDeviceChannelsDidChange);

    mStatusItem = std::make_unique<StatusItem>(*this);
    mHotKeys = std::make_unique<DeckHotKeys>(*this, PTHotKeyCenter::sharedCenter());
    connect(mHotKeys.get(), &DeckHotKeys::hotKeysChanged, mStatusItem.get(),
            [this] { mStatusItem->setKeyEquivalents(*mHotKeys); });
    mStatusItem->startObservingDefaults();
    mHotKeys->startObservingDefaults();
}

// Transport commands. The latched state of REW, FFWD and PAUSE decides
// between their Down and Up events.

bool WindowController::canDeliverEvents() const {
    return !mContext->isInTransition() && !mStoppingRecorder;
}

void WindowController::sendCommand(TransportCommand command) {
    if (mClosed) {
        return;
    }
    if (!canDeliverEvents()) {
        // A key pressed while the deck finishes a recording (the event loop
        // turns then): take it once that is over.
        QTimer::singleShot(kDeferredEventMs, this, [this, command] { sendCommand(command); });
        return;
    }
    const SegmentedTapeButtonView* buttons = mWindow->buttonView();
    switch (command) {
    case TransportCommand::Record:
        sendEvent(&WindowControllerContext::rec);
        break;
    case TransportCommand::Play:
        sendEvent(&WindowControllerContext::play);
        break;
    case TransportCommand::Stop:
        sendEvent(&WindowControllerContext::stop);
        break;
    case TransportCommand::Pause:
        sendEvent(buttons->isSelectedSegment(TransportSegmentPause)
                      ? &WindowControllerContext::pauseUp
                      : &WindowControllerContext::pauseDown);
        break;
    case TransportCommand::Rewind:
        sendEvent(buttons->isSelectedSegment(TransportSegmentRewind)
                      ? &WindowControllerContext::rewindUp
                      : &WindowControllerContext::rewindDown);
        break;
    case TransportCommand::FastForward:
        sendEvent(buttons->isSelectedSegment(TransportSegmentFastForward)
                      ? &WindowControllerContext::ffwdUp
                      : &WindowControllerContext::ffwdDown);
        break;
    case TransportCommand::TapeChosen:
        sendEvent(&WindowControllerContext::tapeChosen);
        break;
    }
}

void WindowController::sendEvent(void (WindowControllerContext::*event)()) {
    try {
        ((*mContext).*event)();
    } catch (const InternalInconsistencyException& failure) {
        logError(QString::fromUtf8(failure.what()));
    }
}

void WindowController::recordTape(QObject*) {
    sendCommand(TransportCommand::Record);
}

void WindowController::playTape(QObject*) {
    sendCommand(TransportCommand::Play);
}

void WindowController::stopTape(QObject*) {
    sendCommand(TransportCommand::Stop);
}

void WindowController::pauseTape(QObject*) {
    sendCommand(TransportCommand::Pause);
}

void WindowController::rewindTape(QObject*) {
    sendCommand(TransportCommand::Rewind);
}

void WindowController::fastForwardTape(QObject*) {
    sendCommand(TransportCommand::FastForward);
}

// Buttons and sounds

void WindowController::clearButtons() {
    mWindow->buttonView()->clearSelectedSegments();
}

void WindowController::setSelectedButton(int segment) {
    mWindow->buttonView()->setSelectedSegment(segment);
}

void WindowController::clearSelectedButton(int segment) {
    mWindow->buttonView()->clearSelectedSegment(segment);
}

void WindowController::playSoundEffect(int effect) {
    mSoundEffectPlayers->play(effect);
}

void WindowController::stopSoundEffect(int effect) {
    mSoundEffectPlayers->stop(effect);
}

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
    try {
        device = mPreferences.recordingAudioDevice();
    } catch (const std::exception& exception) {
        error = QString::fromUtf8(exception.what());
    }
    if (folder.isEmpty() || !QDir(folder).exists()) {
        error = tr("The library folder cannot be found. Choose another one in the preferences.");
    } else if (!device) {
        error = tr("There is no input device to record from.");
    }

    std::shared_ptr<Tape> tape;
    if (error.isEmpty()) {
        const QString path = QDir(folder).filePath(
            QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".m4a"));
        tape = Tape::forNewRecording(path);
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
                error = QString::fromStdString(exception.error().localizedDescription());
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
    QFile::remove(tape->filename());
}

void WindowController::pauseRecordingAudio() {
    mRecordingPaused = true;
    emit recordingStateChanged();
    if (mAudioFileRecorder) {
        mAudioFileRecorder->setDelegate(nullptr);
        mAudioFileRecorder->stopRecording();
    }
}

void WindowController::resumeRecordingAudio() {
    mRecordingPaused = false;
    emit recordingStateChanged();
    if (mAudioFileRecorder) {
        mAudioFileRecorder->setDelegate(this);
        mAudioFileRecorder->startRecording();
        // A failure while paused reached no delegate: say it now.
        if (mAudioFileRecorder->didFail()) {
            recordingDidFail(QString::fromStdString(mAudioFileRecorder->failureReason()));
        }
    }
}

void WindowController::stopRecordingAudio() {
    mStoppingRecorder = true;
    if (mAudioFileRecorder) {
        mWaitingForRecorder = mAudioFileRecorder->isFileRecording();
        if (mWaitingForRecorder) {
            mAudioFileRecorder->stopRecording();
            const auto start = std::chrono::steady_clock::now();
            while (mWaitingForRecorder) {
                QEventLoop slice;
                QTimer::singleShot(kRecorderWaitSliceMs, &slice, &QEventLoop::quit);
                slice.exec();
                const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
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
    try {
        recorder->recordFile()->closeFile();
    } catch (const std::exception& exception) {
        logError(QStringLiteral("Could not finish the recording: %1")
                     .arg(QString::fromUtf8(exception.what())));
    }
    if (mSelectedTape) {
        if (!mSelectedTape->commitAttributes()) {
            logError(mSelectedTape->lastError());
        }
        mSelectedTape->loadAttributes();
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

// Playback

void WindowController::createTapePlayer() {
    if (!mSelectedTape) {
        return;
    }
    try {
        mAudioFilePlayer = VELKExtendedAudioFilePlayer::withFilename(
            mSelectedTape->filename().toStdString(), mPreferences.playbackAudioDevice());
        mAudioFilePlayer->setPlaybackVolume(mWindow->hudView()->volume());
        mAudioFilePlayer->setDelegate(this);
        mAudioFilePlayer->setRemovesVoice(UserDefaults::standard().boolForKey(kRemoveVoice));
        mMuted = false;
    } catch (const NSXException& exception) {
        mAudioFilePlayer.reset();
        logError(QStringLiteral("Exception! %1")
                     .arg(QString::fromStdString(exception.error().localizedDescription())));
    } catch (const std::exception& exception) {
        mAudioFilePlayer.reset();
        logError(QStringLiteral("Exception! %1").arg(QString::fromUtf8(exception.what())));
    }
}

void WindowController::destroyTapePlayer() {
    if (mAudioFilePlayer) {
        mAudioFilePlayer->setDelegate(nullptr);
    }
    mAudioFilePlayer.reset();
}

void WindowController::startPlayingAudio() {
    if (mAudioFilePlayer) {
        mAudioFilePlayer->startFilePlaying();
    }
}

void WindowController::stopPlayingAudio() {
    if (mAudioFilePlayer) {
        mAudioFilePlayer->stopFilePlaying();
    }
}

void WindowController::setPlaybackSpeed(double speed) {
    mPlaybackSpeed = speed;
    if (mAudioFilePlayer) {
        mAudioFilePlayer->setPlaybackSpeed(speed);
    }
    mWindow->tapeView()->setRotationSpeed(speed);
}

void WindowController::muteAudio() {
    mMuted = true;
    if (mAudioFilePlayer) {
        mAudioFilePlayer->setPlaybackLevel(0.0);
    }
}

void WindowController::unmuteAudio() {
    mMuted = false;
    if (mAudioFilePlayer) {
        mAudioFilePlayer->setPlaybackVolume(mWindow->hudView()->volume());
    }
}

void WindowController::clearCurrentTime() {
    HUDView* hud = mWindow->hudView();
    hud->setTime(0);
    mUpdatingPositionDisplay = true;
    hud->setPosition(0);
    mUpdatingPositionDisplay = false;
    // The position bar seeks in proportion to the tape now in the deck.
    hud->setMaxTime(mAudioFilePlayer ? mAudioFilePlayer->maxTime() : 0);
}

void WindowController::audioFilePlayerDidReachEndOfFile(VELKExtendedAudioFilePlayer* player) {
    if (player == mAudioFilePlayer.get()) {
        stopTape();
    }
}

void WindowController::audioFilePlayerDidFail(VELKExtendedAudioFilePlayer* player,
                                              const std::string& reason) {
    if (player != mAudioFilePlayer.get()) {
        return;
    }
    logError(QStringLiteral("Playback stopped: %1").arg(QString::fromStdString(reason)));
    // A wind or cue ends first, then the playing stops: the deck comes to rest.
    stopTape();
    if (!mContext->isInTransition() && &mContext->state() != TapeMap::TapeStopped()) {
        stopTape();
    }
}

// Display

void WindowController::startHUDUpdates() {
    startHUDUpdates(true);
}

void WindowController::stopHUDUpdates() {
    startHUDUpdates(false);
}

void WindowController::startHUDUpdates(bool start) {
    if (start) {
        mHUDTimer.start();
    } else {
        mHUDTimer.stop();
        updateHUD();
    }
}

void WindowController::updateHUD() {
    double time = 0;
    double maximum = 0;
    if (mAudioFilePlayer) {
        time = mAudioFilePlayer->currentTime();
        maximum = mAudioFilePlayer->maxTime();
    } else if (mAudioFileRecorder) {
        time = mAudioFileRecorder->currentTime();
    }
    HUDView* hud = mWindow->hudView();
    hud->setTime(time);
    mUpdatingPositionDisplay = true;
    hud->setPosition(time);
    mUpdatingPositionDisplay = false;
    hud->setMaxTime(maximum);
}

void WindowController::startPlayAnimation() {
    mWindow->tapeView()->startRotationAnimation(true);
}

void WindowController::stopPlayAnimation() {
    mWindow->tapeView()->startRotationAnimation(false);
}

void WindowController::playInsertionAnimation() {
    mWindow->tapeView()->insertTape();
}

void WindowController::playRemovalAnimation() {
    mWindow->tapeView()->ejectTape();
}

// Level meter

void WindowController::createAudioInputMeter() {
    try {
        mAudioInputMeter = std::make_unique<VELKAudioInputMeter>(
            mPreferences.recordingAudioDevice(),
            channelsOrDefault(mPreferences.recordingAudioDeviceChannels()));
        mAudioInputMeter->start();
        startLevelMeter(true);
    } catch (const NSXException& exception) {
        mAudioInputMeter.reset();
        logError(QStringLiteral("Could not create the audio input meter."));
        logError(QStringLiteral("Exception:%1")
                     .arg(QString::fromStdString(exception.error().localizedDescription())));
    }
}

void WindowController::destroyAudioInputMeter() {
    startLevelMeter(false);
    if (mAudioInputMeter) {
        mAudioInputMeter->stop();
    }
    mAudioInputMeter.reset();
}

void WindowController::startLevelMeter(bool start) {
    if (start) {
        mMeterTimer.start();
    } else {
        mMeterTimer.stop();
        updateMeter();
        mWindow->hudView()->setLevels(-100.0, -100.0);
    }
}

void WindowController::updateMeter() {
    if (mAudioInputMeter) {
        const auto& levels = mAudioInputMeter->levels();
        mWindow->hudView()->setLevels(displayLevel(levels[0]), displayLevel(levels[1]));
    }
}

void WindowController::defaultInputDeviceDidChange() {
    mPreferences.checkDefaultAudioDevices();
    destroyAudioInputMeter();
    createAudioInputMeter();
}

void WindowController::deviceListDidChange() {
    mPreferences.checkDefaultAudioDevices();
    destroyAudioInputMeter();
    createAudioInputMeter();
}

void WindowController::defaultInputDeviceSampleRateDidChange() {
    destroyAudioInputMeter();
    createAudioInputMeter();
}

void WindowController::recordDeviceDidChange() {
    destroyAudioInputMeter();
    createAudioInputMeter();
    HUDView* hud = mWindow->hudView();
    if (!hud->stereo()) {
        return;
    }
    try {
        const auto device = mPreferences.recordingAudioDevice();
        if (device && !device->canRecordStereo()) {
            hud->setStereo(false);
            UserDefaults::standard().setValue(kRecordingIsStereo, false);
        }
    } catch (const NSXException&) {
        // The device went while we asked; the next notice sorts it out.
    }
}

void WindowController::recordDeviceChannelsDidChange() {
    recordDeviceDidChange();
}

// Tape selection and label commits

void WindowController::tapeBoxSelectionDidChange() {
    const TapeList selected = mTapeArrayController->selectedObjects();
    if (selected == mLastSelectedObjects) {
        return;
    }
    // Only a real change is a choice: a re-sort or a commit that renames
    // the tape in the deck must not eject and insert it again.
    mLastSelectedObjects = selected;
    sendCommand(TransportCommand::TapeChosen);
}

bool WindowController::canSelectTape() const {
    return !mTapeArrayController->selectedObjects().empty();
}

void WindowController::selectCurrentTape() {
    const TapeList selected = mTapeArrayController->selectedObjects();
    if (selected.empty()) {
        setSelectedTape(nullptr);
    } else if (selected.front() != mSelectedTape) {
        setSelectedTape(selected.front());
    }
}

void WindowController::clearSelectedTape() {
    setSelectedTape(nullptr);
}

void WindowController::setSelectedTape(const std::shared_ptr<Tape>& tape) {
    const std::shared_ptr<Tape> previous = mSelectedTape;
    mSelectedTape = tape;
    stopObservingTape(previous);
    observeTape(tape);
    mTapeViewBinding->setTape(tape);
    mWindow->titleBarView()->setTapeTitle(tape ? tape->title() : QString());
    if (previous && previous->dirty() && !previous->commitAttributes()) {
        logError(previous->lastError());
    }
    emit selectedTapeChanged();
}

void WindowController::observeTape(const std::shared_ptr<Tape>& tape) {
    if (!tape) {
        return;
    }
    mSelectedTapeConnections << connect(tape.get(), &Tape::dirtyChanged, this,
                                        &WindowController::commitDirtyTape);
    mSelectedTapeConnections << connect(tape.get(), &Tape::titleChanged, this, [this] {
        if (mSelectedTape) {
            mWindow->titleBarView()->setTapeTitle(mSelectedTape->title());
        }
    });
}

void WindowController::stopObservingTape(const std::shared_ptr<Tape>&) {
    for (const auto& connection : std::as_const(mSelectedTapeConnections)) {
        disconnect(connection);
    }
    mSelectedTapeConnections.clear();
}

void WindowController::commitDirtyTape() {
    if (!mAudioFilePlayer || !mSelectedTape || !mSelectedTape->dirty()) {
        return;
    }
    // The file is rewritten under the player, so the player is closed around
    // the commit and reopened where it was, at the same speed.
    const int64_t frame = mAudioFilePlayer->currentFrame();
    const double speed = mPlaybackSpeed;
    const bool muted = mMuted;
    const bool playing = mAudioFilePlayer->isFilePlaying();
    if (playing) {
        mAudioFilePlayer->stopFilePlaying();
    }
    destroyTapePlayer();
    if (!mSelectedTape->commitAttributes()) {
        logError(mSelectedTape->lastError());
        showAlert(tr("The label could not be saved"), mSelectedTape->lastError());
    }
    createTapePlayer();
    if (!mAudioFilePlayer) {
        return;
    }
    try {
        mAudioFilePlayer->setCurrentFrame(frame);
    } catch (const NSXException&) {
        // The frame is past a shortened file: play on from the start.
    }
    mAudioFilePlayer->setPlaybackSpeed(speed);
    if (muted) {
        mAudioFilePlayer->setPlaybackLevel(0.0);
        mMuted = true;
    }
    if (playing) {
        mAudioFilePlayer->startFilePlaying();
    }
}

void WindowController::commitEveryTape() {
    for (const auto& tape : mTapeArrayController->content()) {
        // The tape being recorded is written when its recording is finished.
        if (mAudioFileRecorder && tape == mSelectedTape) {
            continue;
        }
        if (tape->dirty() && !tape->commitAttributes()) {
            logError(tape->lastError());
        }
    }
}

void WindowController::tapeLibraryLocationDidChange() {
    if (mAudioFileRecorder || mStoppingRecorder) {
        // The recording stays where it started; the deck moves on afterwards.
        mLibraryLocationChangedWhileRecording = true;
        return;
    }
    commitEveryTape();
    const QString folder = soundFilePath();
    if (folder != mTapeArrayController->soundFilePath()) {
        mTapeArrayController->setSoundFilePath(folder);
    }
    mTapeArrayController->checkRecordingDirectory();
}

// Tape navigation and commands

void WindowController::selectTapeAtArrangedIndex(int index) {
    mTapeArrayController->setSelectionIndexes({index});
    mWindow->tapeBoxView()->selectRowAndScrollToVisible(index);
}

void WindowController::previousTape() {
    const QList<int>& selection = mTapeArrayController->selectionIndexes();
    const int count = static_cast<int>(mTapeArrayController->arrangedObjects().size());
    if (selection.isEmpty() || selection.first() + 1 >= count) {
        QApplication::beep();
        return;
    }
    selectTapeAtArrangedIndex(selection.first() + 1);
}

void WindowController::nextTape() {
    const QList<int>& selection = mTapeArrayController->selectionIndexes();
    if (selection.isEmpty() || selection.first() == 0) {
        QApplication::beep();
        return;
    }
    selectTapeAtArrangedIndex(selection.first() - 1);
}

std::shared_ptr<Tape> WindowController::tapeToOperateOn(const std::shared_ptr<Tape>& tape) const {
    if (tape) {
        return tape;
    }
    if (mTapeMenu) {
        if (auto* represented = mTapeMenu->property("cassoraTape").value<Tape*>()) {
            for (const auto& candidate : mTapeArrayController->content()) {
                if (candidate.get() == represented) {
                    return candidate;
                }
            }
        }
    }
    return mSelectedTape;
}

bool WindowController::canOperateOnTape(const std::shared_ptr<Tape>& tape) const {
    const std::shared_ptr<Tape> target = tapeToOperateOn(tape);
    if (!target || target->filename().isEmpty() || isRecording()) {
        return false;
    }
    // A paused recording's file has no index until it is finished: it
    // cannot be exported or trashed yet, though other tapes can.
    return !((mAudioFileRecorder || mStoppingRecorder) && target == mSelectedTape);
}

void WindowController::setTapeMenu(QMenu* menu) {
    mTapeMenu = menu;
    mWindow->tapeView()->setContextMenu(menu);
}

void WindowController::revealInFinder(const std::shared_ptr<Tape>& tape) {
    if (canOperateOnTape(tape)) {
        mTapeArrayController->revealTapeInFinder(*tapeToOperateOn(tape));
    }
}

void WindowController::moveTapeToTrash(const std::shared_ptr<Tape>& tape) {
    if (!canOperateOnTape(tape)) {
        return;
    }
    playSoundEffect(kTossTapeSound);
    mTapeArrayController->moveTapeToTrash(tapeToOperateOn(tape));
}

void WindowController::revealLibraryInFinder() {
    DesktopServices::revealInFileManager(soundFilePath());
}

void WindowController::search(const QString& text) {
    mTapeArrayController->setFilterString(text);
    mTapeArrayController->rearrangeObjects();
    if (!mTapeArrayController->arrangedObjects().empty()) {
        selectTapeAtArrangedIndex(0);
    }
}

void WindowController::performFindPanelAction() {
    if (!mTapesDisclosed) {
        discloseTapes();
    }
    mWindow->searchField()->setFocus(Qt::ShortcutFocusReason);
    mWindow->searchField()->selectAll();
}

void WindowController::discloseTapes() {
    mTapesDisclosed = !mTapesDisclosed;
    playSoundEffect(mTapesDisclosed ? kDrawerOpenSound : kDrawerCloseSound);
    mWindow->animateToWidth(mTapesDisclosed ? DeckWindow::OpenWidth : DeckWindow::ClosedWidth, 1.0);
}

// Import and export

void WindowController::importTapesIntoLibrary(const QList<QUrl>& urls) {
    const QString folder = soundFilePath();
    QStringList failures;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) {
            continue;
        }
        const TapeImport::Result result = TapeImport::copyTape(url.toLocalFile(), folder);
        if (result.outcome == TapeImport::Outcome::Failed) {
            logError(result.error);
            failures << result.error;
        }
    }
    if (!failures.isEmpty()) {
        showAlert(tr("Some tapes could not be imported"), failures.join(QLatin1Char('\n')));
    }
}

void WindowController::importTapes() {
    const QStringList files = QFileDialog::getOpenFileNames(
        mWindow, tr("Import Tapes"), QDir::homePath(), tr("MPEG-4 Audio (*.m4a *.mp4 *.m4b)"));
    if (files.isEmpty()) {
        return;
    }
    QList<QUrl> urls;
    for (const QString& file : files) {
        urls << QUrl::fromLocalFile(file);
    }
    // Only MPEG-4 audio, judged by content, like a drop.
    QMimeData data;
    data.setUrls(urls);
    const QList<QUrl> tapes = TapeLibraryArrayController::acceptableDropURLs(&data);
    if (tapes.size() < urls.size()) {
        showAlert(tr("Some files are not tapes"),
                  tr("Only MPEG-4 audio files can be imported into the library."));
    }
    importTapesIntoLibrary(tapes);
}

void WindowController::exportTape() {
    const std::shared_ptr<Tape> tape = mSelectedTape;
    if (canOperateOnTape(tape)) {
        ExportPanel::forWindow(mWindow)->exportTape(tape);
    }
}

// Alerts

void WindowController::showAlert(const QString& message, const QString& informative) {
    if (mAlertPresenter) {
        mAlertPresenter(message, informative);
        return;
    }
    // Window-modal and open, not exec: the deck's transport keeps running.
    auto* box = new QMessageBox(QMessageBox::Warning, message, message, QMessageBox::Ok, mWindow);
    box->setInformativeText(informative);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

// Closing

void WindowController::windowWillClose() {
    if (mClosed) {
        return;
    }
    if (!canDeliverEvents()) {
        // Closing while a recording is being finished: close right after.
        QTimer::singleShot(kDeferredEventMs, this, [this] { windowWillClose(); });
        return;
    }
    // A title or notes edit still open is kept.
    mWindow->tapeView()->endEditing();
    sendEvent(&WindowControllerContext::windowWillClose);
    mClosed = true;
    // A stopped tape in the deck keeps its player; it goes now.
    if (mAudioFilePlayer) {
        mAudioFilePlayer->stopFilePlaying();
        destroyTapePlayer();
    }
    mTapeArrayController->stopMonitoringRecordingDirectory();
    disconnect(mTapeArrayController.get(), nullptr, this, nullptr);
    if (mIsHardwareDelegate) {
        VELKAudioHardware::sharedInstance().removeDelegate(this);
        mIsHardwareDelegate = false;
    }
    disconnect(&PreferencesNotifier::instance(), nullptr, this, nullptr);
    mHUDTimer.stop();
    destroyAudioInputMeter();
    if (mAudioFileRecorder) {
        // Only reached when the machine could not stop the recording: finish it anyway.
        if (mAudioFileRecorder->isFileRecording()) {
            mAudioFileRecorder->stopRecording();
        }
        finalizeRecordedFile();
    }
    commitEveryTape();
    if (mWindow) {
        const QPoint origin = mWindow->pos();
        QByteArray frame;
        QDataStream stream(&frame, QIODevice::WriteOnly);
        stream << origin;
        UserDefaults::standard().setValue(kWindowFrame, frame);
    }
    UserDefaults::standard().synchronize();
    emit windowDidClose();
}

#include "app/deck/WindowController.h"
#include "app/deck/WindowControllerSupport.h"

#include "app/deck/DeckAccessibility.h"
#include "app/deck/DeckKeyRouter.h"
#include "app/deck/DeckWindow.h"
#include "app/deck/HUDView.h"
#include "app/deck/SoundEffectPlayers.h"
#include "app/deck/TapeBoxView.h"
#include "app/deck/TapeSearchField.h"
#include "app/deck/TapeView.h"
#include "app/deck/TapeViewBinding.h"
#include "app/hotkeys/PTHotKeyCenter.h"
#include "app/hotkeys/PTKeyCodeTranslator.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/preferences/PreferencesController.h"
#include "app/shell/DeckHotKeys.h"
#include "app/shell/StatusItem.h"
#include "app/transport/Cassora_sm.h"
#include "app/transport/SegmentedTapeButtonView.h"
#include "app/transport/TransportGlyphs.h"
#include "audio/format/InternalInconsistencyException.h"
#include "audio/format/NSXException.h"
#include "audio/meter/VELKAudioInputMeter.h"
#include "platform/desktop/UserDefaults.h"

#include <QDataStream>
#include <QGuiApplication>
#include <QIODevice>
#include <QMessageBox>
#include <QScreen>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {

const QString kRecordingQuality = QStringLiteral("RecordingQuality");
const QString kPlaybackVolume = QStringLiteral("PlaybackVolume");
const QString kEnableSoftwarePlaythrough = QStringLiteral("EnableSoftwarePlaythrough");
const QString kRecordDeviceChannels = QStringLiteral("RecordDeviceChannels");
const QString kTapeLibraryLocation = QStringLiteral("TapeLibraryLocation");
const QString kWindowFrame = QStringLiteral("CassoraWindow");

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

QString fullUserName() {
    if (const passwd* entry = getpwuid(getuid())) {
        const QString gecos =
            QString::fromLocal8Bit(entry->pw_gecos).section(QLatin1Char(','), 0, 0);
        if (!gecos.trimmed().isEmpty()) {
            return gecos.trimmed();
        }
        return QString::fromLocal8Bit(entry->pw_name);
    }
    return qEnvironmentVariable("USER");
}

} // namespace

using namespace WindowControllerSupport;

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
    DeckAccessibility::install();
    DeckAccessibility::announceRecordingStates(this);

    HUDView* hud = mWindow->hudView();
    hud->setStereoCapabilityQuery([this] {
        try {
            const auto device = mPreferences.recordingAudioDevice();
            return !device || device->canRecordStereo();
        } catch (const NSXException&) {
            return true;
        }
    });
    hud->setAlertPresenter([this](const QString& message, const QString& informative) {
        showAlert(message, informative);
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
    connect(mTapeArrayController.get(), &TapeLibraryArrayController::tapeOperationDidFinish, this,
            [this](bool failed, const QString& message, const QString& informative) {
                showAlert(message, informative,
                          failed ? QMessageBox::Warning : QMessageBox::Information);
            });

    registerDefaults();
    loadDefaults();
    observeHUD();
    // Transport sounds play where the desktop plays its alerts.
    mSoundEffectPlayers =
        std::make_unique<SoundEffectPlayers>([this] { return mPreferences.playSoundEffects(); },
                                             SoundEffectPlayers::systemOutputDeviceUID());
    observeTapeSelection();
    if (!mTapeArrayController->arrangedObjects().empty()) {
        mTapeArrayController->setSelectionIndexes({0});
        mWindow->tapeBoxView()->selectRowAndScrollToVisible(0);
    }

    connect(&mMeterTimer, &BeatTimer::timeout, this, &WindowController::updateMeter);
    connect(&mHUDTimer, &BeatTimer::timeout, this, &WindowController::updateHUD);

    try {
        VELKAudioHardware::sharedInstance().addDelegate(this);
        mIsHardwareDelegate = true;
    } catch (const NSXException& exception) {
        logError(QStringLiteral("No audio devices: %1")
                     .arg(QString::fromStdString(exception.error().localizedDescription())));
        mSoundServerFailure = soundServerMissing();
    }
    updateNotices();
    // A mono-only input records in mono from the start, as when it is chosen.
    applyMonoRule();
    createAudioInputMeter();
    mWindow->buttonView()->setFocus();
    // The transport keys work wherever the focus is in the window.
    new DeckKeyRouter(mWindow, mWindow->buttonView(), this);
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
    // Keys sit where the bottom row is; their names follow the layout.
    buttons->setKeyNamer(&PTKeyCodeTranslator::keyNameInCurrentLayout);
}

QString WindowController::transportKeyName(int segment) const {
    const auto code = mWindow->buttonView()->keyCodeForSegment(segment);
    return code ? PTKeyCodeTranslator::keyNameInCurrentLayout(*code) : QString();
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
    int height = mWindow->sizeHint().height();
    std::optional<QPoint> origin;
    if (!frame.isEmpty()) {
        // The place and the height are restored: the width follows the
        // drawer, which starts open.
        QDataStream stream(frame);
        QPoint saved;
        stream >> saved;
        if (stream.status() == QDataStream::Ok) {
            origin = saved;
            int savedHeight = 0;
            if (!stream.atEnd() && (stream >> savedHeight, stream.status() == QDataStream::Ok)) {
                height = std::max(height, savedHeight);
            }
        }
    }
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        areas << screen->availableGeometry();
    }
    const QRect placed = placeWindow(origin, QSize(DeckWindow::OpenWidth, height), areas);
    mWindow->resize(placed.size());
    mWindow->move(placed.topLeft());
    mWindow->show();
    mWindow->raise();
    mWindow->activateWindow();
    mWindow->buttonView()->setFocus();
}

QRect WindowController::placeWindow(std::optional<QPoint> origin, QSize size,
                                    const QList<QRect>& areas) {
    if (areas.isEmpty()) {
        return QRect(origin.value_or(QPoint()), size);
    }
    // The screen the saved place is on, else the first (the primary one).
    QRect area = areas.first();
    if (origin) {
        for (const QRect& candidate : areas) {
            if (candidate.contains(*origin)) {
                area = candidate;
                break;
            }
        }
    }
    // No taller than the screen; as much of it on the screen as fits, the
    // top left (the title and the keys) first.
    size.setHeight(std::min(size.height(), std::max(area.height(), DeckWindow::deckHeight())));
    if (!origin || !area.contains(*origin)) {
        origin = area.center() - QPoint(size.width() / 2, size.height() / 2);
    }
    const QPoint fitted(std::clamp(origin->x(), area.left(),
                                   std::max(area.left(), area.right() + 1 - size.width())),
                        std::clamp(origin->y(), area.top(),
                                   std::max(area.top(), area.bottom() + 1 - size.height())));
    return QRect(fitted, size);
}

void WindowController::raiseWindow() {
    if (mWindow->isMinimized()) {
        mWindow->showNormal();
    }
    mWindow->show();
    mWindow->raise();
    mWindow->activateWindow();
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

// Alerts

void WindowController::showAlert(const QString& message, const QString& informative,
                                 QMessageBox::Icon icon) {
    if (mAlertPresenter) {
        mAlertPresenter(message, informative);
        return;
    }
    // Window-modal and open, not exec: the deck's transport keeps running.
    auto* box = new QMessageBox(icon, message, message, QMessageBox::Ok, mWindow);
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
        stream << origin << mWindow->height();
        UserDefaults::standard().setValue(kWindowFrame, frame);
    }
    UserDefaults::standard().synchronize();
    emit windowDidClose();
}

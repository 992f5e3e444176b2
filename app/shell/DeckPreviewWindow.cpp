#include "app/shell/DeckPreviewWindow.h"

#include "app/transport/SegmentedTapeButtonView.h"
#include "app/transport/TransportGlyphs.h"
#include "audio/format/InternalInconsistencyException.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace {

struct SegmentSetup {
    const char* label;
    const char* action;
};

constexpr SegmentSetup kSegments[] = {
    {"REC", "recordTape:"},       {"PLAY", "playTape:"}, {"REW", "rewindTape:"},
    {"FFWD", "fastForwardTape:"}, {"STOP", "stopTape:"}, {"PAUSE", "pauseTape:"},
};

const char* const kSoundNames[] = {"TapeSpeeding",    "ButtonPress",      "ButtonClear",
                                   "ButtonHitExtent", "DrawerOpenStereo", "DrawerCloseStereo",
                                   "PausePress",      "PauseRelease",     "TossTape2"};

QString soundName(int effect) {
    if (effect >= 0 && effect < static_cast<int>(std::size(kSoundNames))) {
        return QString::fromLatin1(kSoundNames[effect]);
    }
    return QString::number(effect);
}

} // namespace

DeckPreviewWindow::DeckPreviewWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(tr("Cassora"));

    auto* layout = new QVBoxLayout(this);
    mStateLabel = new QLabel(this);
    mStateLabel->setObjectName(QStringLiteral("stateLabel"));
    QFont stateFont = mStateLabel->font();
    stateFont.setPointSizeF(stateFont.pointSizeF() * 1.4);
    stateFont.setBold(true);
    mStateLabel->setFont(stateFont);
    mSpeedLabel = new QLabel(this);
    mTapeSelected = new QCheckBox(tr("A tape is selected in the tape box"), this);
    mButtonView = new SegmentedTapeButtonView(this);
    mActionLog = new QListWidget(this);
    mActionLog->setObjectName(QStringLiteral("actionLog"));

    layout->addWidget(mStateLabel);
    layout->addWidget(mSpeedLabel);
    layout->addWidget(mButtonView);
    layout->addWidget(mTapeSelected);
    layout->addWidget(new QLabel(tr("Deck actions:"), this));
    layout->addWidget(mActionLog, 1);

    buildButtonStrip();
    mContext = std::make_unique<WindowControllerContext>(*this);

    // A change of the tape box's selection is a tape choice.
    connect(mTapeSelected, &QCheckBox::toggled, this,
            [this] { sendEvent(&WindowControllerContext::tapeChosen); });
    setPlaybackSpeed(1.0);
    showState();
    resize(560, 420);
    mButtonView->setFocus();
}

DeckPreviewWindow::~DeckPreviewWindow() = default;

void DeckPreviewWindow::buildButtonStrip() {
    mButtonView->setSegments(std::size(kSegments));
    mButtonView->setRecordSegment(TransportSegmentRecord);
    mButtonView->setTarget(this);
    for (int segment = 0; segment < static_cast<int>(std::size(kSegments)); ++segment) {
        mButtonView->setLabel(tr(kSegments[segment].label), segment);
        mButtonView->setSelector(kSegments[segment].action, segment);
        const QColor ink =
            segment == TransportSegmentRecord ? QColor(0xff, 0xf4, 0xf0) : QColor(0x30, 0x30, 0x32);
        mButtonView->setImage(transportGlyph(segment, ink), segment);
    }
}

// Transport actions: the latched state of REW, FFWD and PAUSE decides
// between the Down and Up events.

void DeckPreviewWindow::recordTape(QObject*) {
    sendEvent(&WindowControllerContext::rec);
}

void DeckPreviewWindow::playTape(QObject*) {
    sendEvent(&WindowControllerContext::play);
}

void DeckPreviewWindow::stopTape(QObject*) {
    sendEvent(&WindowControllerContext::stop);
}

void DeckPreviewWindow::pauseTape(QObject*) {
    sendEvent(mButtonView->isSelectedSegment(TransportSegmentPause)
                  ? &WindowControllerContext::pauseUp
                  : &WindowControllerContext::pauseDown);
}

void DeckPreviewWindow::rewindTape(QObject*) {
    sendEvent(mButtonView->isSelectedSegment(TransportSegmentRewind)
                  ? &WindowControllerContext::rewindUp
                  : &WindowControllerContext::rewindDown);
}

void DeckPreviewWindow::fastForwardTape(QObject*) {
    sendEvent(mButtonView->isSelectedSegment(TransportSegmentFastForward)
                  ? &WindowControllerContext::ffwdUp
                  : &WindowControllerContext::ffwdDown);
}

void DeckPreviewWindow::sendEvent(void (WindowControllerContext::*event)()) {
    try {
        ((*mContext).*event)();
    } catch (const InternalInconsistencyException& failure) {
        std::fprintf(stderr, "(ERROR) DeckPreviewWindow : %s\n", failure.what());
        note(QStringLiteral("(ERROR) %1").arg(QString::fromUtf8(failure.what())));
    }
    showState();
}

void DeckPreviewWindow::showState() {
    if (!mContext->isInTransition()) {
        mStateLabel->setText(QString::fromStdString(mContext->state().name()));
    }
}

void DeckPreviewWindow::note(const QString& action) {
    mActionLog->addItem(action);
    mActionLog->scrollToBottom();
}

void DeckPreviewWindow::closeEvent(QCloseEvent* event) {
    sendEvent(&WindowControllerContext::windowWillClose);
    event->accept();
}

// WindowControllerActions: the buttons are real, the rest is listed.

void DeckPreviewWindow::clearButtons() {
    mButtonView->clearSelectedSegments();
}

void DeckPreviewWindow::setSelectedButton(int segment) {
    mButtonView->setSelectedSegment(segment);
}

void DeckPreviewWindow::clearSelectedButton(int segment) {
    mButtonView->clearSelectedSegment(segment);
}

void DeckPreviewWindow::playSoundEffect(int effect) {
    note(QStringLiteral("play sound \"%1\"").arg(soundName(effect)));
}

void DeckPreviewWindow::stopSoundEffect(int effect) {
    note(QStringLiteral("stop sound \"%1\"").arg(soundName(effect)));
}

void DeckPreviewWindow::setPlaybackSpeed(double speed) {
    mSpeedLabel->setText(tr("Speed: %1\u00d7").arg(speed, 0, 'g', 3));
}

void DeckPreviewWindow::startPlayingAudio() {
    note(tr("start playing"));
}
void DeckPreviewWindow::stopPlayingAudio() {
    note(tr("stop playing"));
}
void DeckPreviewWindow::muteAudio() {
    note(tr("mute"));
}
void DeckPreviewWindow::unmuteAudio() {
    note(tr("unmute"));
}
void DeckPreviewWindow::createTapePlayer() {
    note(tr("insert tape"));
}
void DeckPreviewWindow::destroyTapePlayer() {
    note(tr("eject tape"));
}
void DeckPreviewWindow::clearCurrentTime() {
    note(tr("clear time"));
}
void DeckPreviewWindow::startRecordingAudio() {
    note(tr("start recording"));
}
void DeckPreviewWindow::stopRecordingAudio() {
    note(tr("stop recording"));
}
void DeckPreviewWindow::pauseRecordingAudio() {
    note(tr("pause recording"));
}
void DeckPreviewWindow::resumeRecordingAudio() {
    note(tr("resume recording"));
}
void DeckPreviewWindow::startHUDUpdates() {}
void DeckPreviewWindow::stopHUDUpdates() {}
void DeckPreviewWindow::startPlayAnimation() {
    note(tr("reels turn"));
}
void DeckPreviewWindow::stopPlayAnimation() {
    note(tr("reels stop"));
}
void DeckPreviewWindow::playInsertionAnimation() {}
void DeckPreviewWindow::playRemovalAnimation() {}
void DeckPreviewWindow::selectCurrentTape() {}
void DeckPreviewWindow::clearSelectedTape() {}

bool DeckPreviewWindow::canSelectTape() const {
    return mTapeSelected->isChecked();
}

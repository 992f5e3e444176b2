// The deck controller: playback and shuttle, the HUD and the level meter.

#include "app/deck/WindowController.h"
#include "app/deck/WindowControllerSupport.h"

#include "app/deck/DeckWindow.h"
#include "app/deck/HUDView.h"
#include "app/deck/PositionView.h"
#include "app/deck/TapeView.h"
#include "app/deck/VolumeView.h"
#include "app/preferences/PreferencesController.h"
#include "app/transport/Cassora_sm.h"
#include "audio/format/NSXException.h"
#include "audio/meter/VELKAudioInputMeter.h"
#include "platform/desktop/FileNames.h"
#include "platform/desktop/UserDefaults.h"

#include <QTimer>

#include <cmath>

namespace {

double displayLevel(double decibels) {
    return std::isfinite(decibels) ? decibels : -100.0;
}

} // namespace

using namespace WindowControllerSupport;

// Playback

void WindowController::createTapePlayer() {
    if (!mSelectedTape) {
        return;
    }
    mTapePlayerFailure.clear();
    try {
        mAudioFilePlayer = VELKExtendedAudioFilePlayer::withFilename(
            FileNames::toNative(mSelectedTape->filename()), mPreferences.playbackAudioDevice());
        mAudioFilePlayer->setPlaybackVolume(mWindow->hudView()->volume());
        mAudioFilePlayer->setDelegate(this);
        mAudioFilePlayer->setRemovesVoice(UserDefaults::standard().boolForKey(kRemoveVoice));
        mMuted = false;
    } catch (const NSXException& exception) {
        mAudioFilePlayer.reset();
        mTapePlayerFailure = describeEngineError(exception.error());
        logError(QStringLiteral("Exception! %1").arg(mTapePlayerFailure));
    } catch (const std::exception& exception) {
        mAudioFilePlayer.reset();
        mTapePlayerFailure = QString::fromUtf8(exception.what());
        logError(QStringLiteral("Exception! %1").arg(mTapePlayerFailure));
    }
}

void WindowController::destroyTapePlayer() {
    if (mAudioFilePlayer) {
        mAudioFilePlayer->setDelegate(nullptr);
    }
    mAudioFilePlayer.reset();
}

WindowController::PlayerPlace WindowController::playerPlace() const {
    return {mAudioFilePlayer ? mAudioFilePlayer->currentFrame() : 0, mPlaybackSpeed, mMuted};
}

bool WindowController::recreateTapePlayer(const PlayerPlace& place, bool play) {
    destroyTapePlayer();
    createTapePlayer();
    if (!mAudioFilePlayer) {
        return false;
    }
    if (const QString failure =
            engineFailure([&] { mAudioFilePlayer->setCurrentFrame(place.frame); });
        !failure.isEmpty()) {
        // The frame is past a shortened file: play on from the start.
        logError(QStringLiteral("Could not move the tape: %1").arg(failure));
    }
    const QString failure = engineFailure([&] {
        mAudioFilePlayer->setPlaybackSpeed(place.speed);
        if (place.muted) {
            mAudioFilePlayer->setPlaybackLevel(0.0);
        }
        if (play) {
            mAudioFilePlayer->startFilePlaying();
        }
    });
    mMuted = place.muted;
    if (!failure.isEmpty()) {
        mTapePlayerFailure = failure;
        logError(failure);
        return false;
    }
    return true;
}

bool WindowController::transportMovesTape() const {
    if (mContext->isInTransition()) {
        return false;
    }
    const auto* state = &mContext->state();
    return state == TapeMap::Playing() || state == TapeMap::Cueing() ||
           state == TapeMap::Reviewing() || state == TapeMap::FastForwarding() ||
           state == TapeMap::Rewinding();
}

void WindowController::bringTapeToRest() {
    // Once the current transition is over: a wind or cue ends first, then
    // the playing stops.
    QTimer::singleShot(0, this, [this] {
        for (int step = 0; step < 2 && transportMovesTape(); ++step) {
            stopTape();
        }
    });
}

void WindowController::tapeCannotPlay(const QString& reason) {
    if (!mSoundServerFailure.isEmpty()) {
        showAlert(tr("The tape cannot be played"), mSoundServerFailure);
    } else {
        showAlert(tr("The tape cannot be played"),
                  reason.isEmpty() ? tr("The tape's file cannot be read.") : reason);
    }
    bringTapeToRest();
}

void WindowController::startPlayingAudio() {
    if (!mAudioFilePlayer) {
        // Nothing can play this tape: the deck says so instead of running silently.
        if (mSelectedTape) {
            tapeCannotPlay(mTapePlayerFailure);
        }
        return;
    }
    const QString failure = engineFailure([&] { mAudioFilePlayer->startFilePlaying(); });
    if (failure.isEmpty()) {
        return;
    }
    // The player's device has gone since the tape went in: the tape plays
    // on the output there is now, from where it is.
    logError(QStringLiteral("Could not start playing: %1").arg(failure));
    if (!recreateTapePlayer(playerPlace(), true)) {
        tapeCannotPlay(tr("No output device can play it: %1").arg(mTapePlayerFailure));
    }
}

void WindowController::stopPlayingAudio() {
    if (mAudioFilePlayer) {
        if (const QString failure = engineFailure([&] { mAudioFilePlayer->stopFilePlaying(); });
            !failure.isEmpty()) {
            logError(failure);
        }
    }
}

void WindowController::setPlaybackSpeed(double speed) {
    mPlaybackSpeed = speed;
    if (mAudioFilePlayer) {
        if (const QString failure =
                engineFailure([&] { mAudioFilePlayer->setPlaybackSpeed(speed); });
            !failure.isEmpty()) {
            logError(failure);
        }
    }
    mWindow->tapeView()->setRotationSpeed(speed);
}

void WindowController::muteAudio() {
    mMuted = true;
    if (mAudioFilePlayer) {
        if (const QString failure = engineFailure([&] { mAudioFilePlayer->setPlaybackLevel(0.0); });
            !failure.isEmpty()) {
            logError(failure);
        }
    }
}

void WindowController::unmuteAudio() {
    mMuted = false;
    if (mAudioFilePlayer) {
        const double volume = mWindow->hudView()->volume();
        if (const QString failure =
                engineFailure([&] { mAudioFilePlayer->setPlaybackVolume(volume); });
            !failure.isEmpty()) {
            logError(failure);
        }
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
    if (player->outputAudioUnit()->deviceLost()) {
        // The output went away under the tape: it plays on where the sound
        // goes now, from where it was heard last.
        if (recreateTapePlayer(playerPlace(), transportMovesTape())) {
            return;
        }
        showAlert(tr("The tape stopped"),
                  tr("Its output device went away, and no other output can play it. %1")
                      .arg(mTapePlayerFailure));
    } else {
        showAlert(tr("The tape stopped"), QString::fromStdString(reason));
    }
    bringTapeToRest();
}

void WindowController::volumeUp() {
    mWindow->hudView()->volumeView()->stepBy(1);
}

void WindowController::volumeDown() {
    mWindow->hudView()->volumeView()->stepBy(-1);
}

void WindowController::goToStart() {
    mWindow->hudView()->positionView()->stepToEnd(false);
}

void WindowController::goToEnd() {
    mWindow->hudView()->positionView()->stepToEnd(true);
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
    watchForStalledRecording(time);
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
    applyMonoRule();
}

void WindowController::applyMonoRule() {
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

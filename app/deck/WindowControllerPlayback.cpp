// The deck controller: playback and shuttle, the HUD and the level meter.

#include "app/deck/WindowController.h"
#include "app/deck/WindowControllerSupport.h"

#include "app/deck/DeckWindow.h"
#include "app/deck/HUDView.h"
#include "app/deck/TapeView.h"
#include "app/preferences/PreferencesController.h"
#include "app/transport/Cassora_sm.h"
#include "audio/format/NSXException.h"
#include "audio/meter/VELKAudioInputMeter.h"
#include "platform/desktop/UserDefaults.h"

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

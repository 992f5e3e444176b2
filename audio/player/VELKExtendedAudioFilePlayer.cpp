#include "audio/player/VELKExtendedAudioFilePlayer.h"

#include "audio/format/InternalInconsistencyException.h"
#include "audio/format/NSXException.h"
#include "platform/audio/MainQueue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
constexpr uint32_t kReaderBuffers = 3;
constexpr uint32_t kReaderBufferFrames = 4096;
} // namespace

std::shared_ptr<VELKExtendedAudioFilePlayer>
VELKExtendedAudioFilePlayer::withAudioFile(std::shared_ptr<VELKExtendedAudioFile> file,
                                           std::shared_ptr<VELKAudioDevice> device) {
    std::shared_ptr<VELKExtendedAudioFilePlayer> player(new VELKExtendedAudioFilePlayer);
    player->setUp(std::move(file), std::move(device));
    return player;
}

std::shared_ptr<VELKExtendedAudioFilePlayer>
VELKExtendedAudioFilePlayer::withFilename(const std::string& filename,
                                          std::shared_ptr<VELKAudioDevice> device) {
    return withAudioFile(VELKExtendedAudioFile::forPlayback(filename), std::move(device));
}

void VELKExtendedAudioFilePlayer::setUp(std::shared_ptr<VELKExtendedAudioFile> file,
                                        std::shared_ptr<VELKAudioDevice> device) {
    mAudioFile = std::move(file);
    const auto description = mAudioFile->streamDescription();
    mOutputAudioUnit = std::make_unique<VELKOutputAudioUnit>(description, std::move(device));
    mOutputAudioUnit->setDelegate(this);
    mFileReader = std::make_shared<VELKAudioFileReader>(kReaderBuffers, kReaderBufferFrames,
                                                        *description, mAudioFile);
    mOutputAudioUnit->setAudioBufferQueue(mFileReader);
    // On the notification worker: hand the end of the stream to the main
    // thread, where a player that is gone by then is not told.
    std::weak_ptr<VELKExtendedAudioFilePlayer> weak = weak_from_this();
    mOutputAudioUnit->setDeviceLostBlock([weak] {
        MainQueue::post([weak] {
            if (auto player = weak.lock()) {
                player->outputDeviceWentAway();
            }
        });
    });
    mOutputAudioUnit->setEndOfStreamNotificationBlock([weak] {
        MainQueue::post([weak] {
            if (auto player = weak.lock()) {
                player->endOfStreamReached();
            }
        });
    });
}

VELKExtendedAudioFilePlayer::~VELKExtendedAudioFilePlayer() {
    if (mOutputAudioUnit) {
        mOutputAudioUnit->setDelegate(nullptr);
        mOutputAudioUnit->stop();
    }
    mOutputAudioUnit.reset();
    if (mFileReader) {
        mFileReader->teardownWorkerThread();
    }
    mFileReader.reset();
}

void VELKExtendedAudioFilePlayer::startFilePlaying() {
    mDone = false;
    const int64_t frame = mFileReader->currentFrame();
    mFileReader->start();
    try {
        mOutputAudioUnit->start();
    } catch (const NSXException&) {
        // Nothing was heard: the tape stays where it was.
        mFileReader->stop();
        mFileReader->setCurrentFrame(frame);
        throw;
    }
}

void VELKExtendedAudioFilePlayer::stopFilePlaying() {
    mOutputAudioUnit->stop();
    const bool wasPlaying = mFileReader->running() && !mFileReader->endOfStream();
    const int64_t heldInStage = framesHeldInStage();
    mFileReader->stop();
    if (wasPlaying) {
        stepBackOverUnplayedFrames(heldInStage);
    }
}

// The frames the output had rendered but the device had not played went with
// the stop, as did those still inside the vocal remover: the listener never
// heard them, so the position goes back before them and the next start plays
// them.
void VELKExtendedAudioFilePlayer::stepBackOverUnplayedFrames(int64_t heldInStage) {
    const auto unplayed = static_cast<int64_t>(std::llround(
                              mOutputAudioUnit->unplayedFramesAtStop() * playbackSpeed())) +
                          heldInStage;
    if (unplayed <= 0) {
        return;
    }
    const int64_t reached = mFileReader->currentFrame();
    const int64_t heard = mFileReader->reverse() ? reached + unplayed : reached - unplayed;
    try {
        setCurrentFrame(std::clamp<int64_t>(heard, 0, mAudioFile->frameCount()));
    } catch (const NSXException& exception) {
        // The position stays where the output got to.
        std::fprintf(stderr, "(ERROR) VELKExtendedAudioFilePlayer : %s\n",
                     exception.reason().c_str());
    }
}

bool VELKExtendedAudioFilePlayer::isFilePlaying() const {
    return mOutputAudioUnit->isRunning();
}

void VELKExtendedAudioFilePlayer::setPlaybackSpeed(double speed) {
    if (!(speed > 0.0 || speed < 0.0)) {
        throw InternalInconsistencyException(
            "Invalid parameter not satisfying: speed > 0.0 || speed < 0.0",
            "VELKExtendedAudioFilePlayer", __LINE__);
    }
    mFileReader->setReverse(speed < 0);
    mOutputAudioUnit->setPlaybackRate(static_cast<float>(std::fabs(speed)));
}

double VELKExtendedAudioFilePlayer::playbackSpeed() const {
    return mOutputAudioUnit->playbackRate();
}

void VELKExtendedAudioFilePlayer::setPlaybackLevel(double level) {
    mOutputAudioUnit->setPlaybackLevel(level);
}

void VELKExtendedAudioFilePlayer::setPlaybackVolume(double decibels) {
    setPlaybackLevel(std::pow(10.0, decibels / 20.0));
}

bool VELKExtendedAudioFilePlayer::setRemovesVoice(bool removesVoice) {
    const auto description = mAudioFile->streamDescription();
    if (description->channelsPerFrame() < 2) {
        return false;
    }
    if (!mVocalRemoverStage) {
        if (!removesVoice) {
            return true; // nothing to switch off
        }
        try {
            mVocalRemoverStage = std::make_shared<VELKVocalRemoverStage>(
                clientSampleRate(), description->channelsPerFrame());
        } catch (const NSXException& exception) {
            // The tape plays on as it is.
            std::fprintf(stderr, "(ERROR) VELKExtendedAudioFilePlayer : %s\n",
                         exception.reason().c_str());
            return false;
        }
        mVocalRemoverStage->setEnabled(true);
        mOutputAudioUnit->setVocalRemoverStage(mVocalRemoverStage);
        return true;
    }
    mVocalRemoverStage->setEnabled(removesVoice);
    return true;
}

bool VELKExtendedAudioFilePlayer::removesVoice() const {
    return mVocalRemoverStage && mVocalRemoverStage->enabled();
}

// While playing, the vocal remover holds the last frames read; they have not
// been heard yet.
int64_t VELKExtendedAudioFilePlayer::framesHeldInStage() const {
    return mVocalRemoverStage && mFileReader->running() ? mVocalRemoverStage->framesBehind() : 0;
}

int64_t VELKExtendedAudioFilePlayer::currentFrame() const {
    const int64_t reached = mFileReader->currentFrame();
    const int64_t held = framesHeldInStage();
    if (held == 0) {
        return reached;
    }
    const int64_t heard = mFileReader->reverse() ? reached + held : reached - held;
    return std::clamp<int64_t>(heard, 0, mAudioFile->frameCount());
}

void VELKExtendedAudioFilePlayer::setCurrentFrame(int64_t frame) {
    mFileReader->setCurrentFrame(frame);
    if (mVocalRemoverStage) {
        // What the stage holds is from before the move.
        mVocalRemoverStage->requestReset();
    }
}

double VELKExtendedAudioFilePlayer::clientSampleRate() const {
    return mAudioFile->clientDataFormat().mSampleRate;
}

double VELKExtendedAudioFilePlayer::currentTime() const {
    return static_cast<double>(currentFrame()) / clientSampleRate() * 1000.0;
}

void VELKExtendedAudioFilePlayer::setCurrentTime(double milliseconds) {
    setCurrentFrame(static_cast<int64_t>(std::floor(milliseconds / 1000.0 * clientSampleRate())));
}

double VELKExtendedAudioFilePlayer::maxTime() const {
    return static_cast<double>(mAudioFile->frameCount()) / clientSampleRate() * 1000.0;
}

// The stream ends at the end of the file, or where the reader could not read
// on: that is a failure, and the player stops.
void VELKExtendedAudioFilePlayer::endOfStreamReached() {
    if (mFileReader->failed()) {
        stopFilePlaying();
        notifyDelegateOfFailure(mFileReader->failureReason());
    } else {
        notifyDelegateOfEOF();
    }
}

void VELKExtendedAudioFilePlayer::outputDeviceWentAway() {
    stopFilePlaying();
    notifyDelegateOfFailure("the output device went away");
}

void VELKExtendedAudioFilePlayer::notifyDelegateOfFailure(const std::string& reason) {
    if (mDelegate) {
        mDelegate->audioFilePlayerDidFail(this, reason);
    }
}

void VELKExtendedAudioFilePlayer::notifyDelegateOfEOF() {
    if (mDelegate) {
        mDelegate->audioFilePlayerDidReachEndOfFile(this);
    }
    mOutputAudioUnit->stop();
}

void VELKExtendedAudioFilePlayer::notifyDelegateOfStop() {
    if (mDelegate) {
        mDelegate->audioFilePlayerDidStop(this);
    }
}

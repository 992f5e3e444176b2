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
// Playing forwards at the normal speed, the output keeps this much ahead of
// the device, topped up in halves: a few wake-ups a second instead of tens.
// (Asked for in larger parts, the server keeps twice a part, more than
// asked.) It grows a reader buffer at a time, a top-up is at most two of
// them, and the whole buffer (all a fill after a move asks for), with room
// for the sink's own latency, is less than the three, so that the reader
// always has what the output asks for.
constexpr double kSteadyBufferSeconds = 0.25;
constexpr uint32_t kSteadyBufferLimitFrames = kReaderBuffers * kReaderBufferFrames - 1024;
constexpr uint32_t kSteadyRequestLimitFrames = 2 * kReaderBufferFrames;
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
    chooseOutputBuffer(signedSpeed());
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
        moveTo(std::clamp<int64_t>(heard, 0, mAudioFile->frameCount()));
    } catch (const NSXException& exception) {
        // The position stays where the output got to.
        std::fprintf(stderr, "(ERROR) VELKExtendedAudioFilePlayer : %s\n",
                     exception.reason().c_str());
    }
}

bool VELKExtendedAudioFilePlayer::isFilePlaying() const {
    return mOutputAudioUnit->isRunning();
}

bool VELKExtendedAudioFilePlayer::playsSteadily(double signedSpeed) {
    return signedSpeed == 1.0;
}

double VELKExtendedAudioFilePlayer::signedSpeed() const {
    return mFileReader->reverse() ? -playbackSpeed() : playbackSpeed();
}

// Playing, and not yet at the end of the stream.
bool VELKExtendedAudioFilePlayer::playingOn() const {
    return mFileReader->running() && !mFileReader->endOfStream() && isFilePlaying();
}

bool VELKExtendedAudioFilePlayer::playingSteadily() const {
    return playsSteadily(signedSpeed()) && playingOn();
}

void VELKExtendedAudioFilePlayer::chooseOutputBuffer(double signedSpeed) {
    if (!playsSteadily(signedSpeed)) {
        mOutputAudioUnit->setSteadyBuffer(0, 0, 0);
        return;
    }
    const uint32_t frames = std::min(
        static_cast<uint32_t>(kSteadyBufferSeconds * clientSampleRate()), kSteadyBufferLimitFrames);
    mOutputAudioUnit->setSteadyBuffer(frames, std::min(frames / 2, kSteadyRequestLimitFrames),
                                      kReaderBufferFrames);
}

// A change the listener must hear at once while the output holds its
// steady buffer: what was rendered and not heard is dropped, and the output
// renders again, with the change, from the frame that was heard. Only what
// the sink itself already holds (well under a tenth of a second) still
// plays before it.
// `nextSpeed`: the signed speed after the change. `changeMoves`: the change
// puts the tape somewhere else, so stepping back to the frame heard first
// would only read the file for nothing.
void VELKExtendedAudioFilePlayer::changeWhatIsHeard(const std::function<void()>& change,
                                                    bool dropUnheard, double nextSpeed,
                                                    bool changeMoves) {
    if (!dropUnheard) {
        change();
        return;
    }
    const int64_t heldInStage = framesHeldInStage();
    chooseOutputBuffer(nextSpeed); // the hold keeps a buffer that is to stay
    try {
        mOutputAudioUnit->holdAndDropUnplayed();
    } catch (const NSXException& exception) {
        // The output is going (its device went away): the change is made
        // all the same, for when the tape plays again.
        std::fprintf(stderr, "(ERROR) VELKExtendedAudioFilePlayer : %s\n",
                     exception.reason().c_str());
        change();
        return;
    }
    try { // whatever happens, the output renders again
        if (!changeMoves) {
            stepBackOverUnplayedFrames(heldInStage);
        }
        change();
    } catch (...) {
        mOutputAudioUnit->renderAgain();
        throw;
    }
    mOutputAudioUnit->renderAgain();
}

void VELKExtendedAudioFilePlayer::setPlaybackSpeed(double speed) {
    if (!(speed > 0.0 || speed < 0.0)) {
        throw InternalInconsistencyException(
            "Invalid parameter not satisfying: speed > 0.0 || speed < 0.0",
            "VELKExtendedAudioFilePlayer", __LINE__);
    }
    const bool dropUnheard =
        playingOn() && playsSteadily(signedSpeed()) != playsSteadily(speed);
    changeWhatIsHeard(
        [&] {
            mFileReader->setReverse(speed < 0);
            mOutputAudioUnit->setPlaybackRate(static_cast<float>(std::fabs(speed)));
        },
        dropUnheard, speed, false);
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

// While playing, the frames read but not heard yet are those the stage
// holds and those the output has rendered and the device not played.
int64_t VELKExtendedAudioFilePlayer::currentFrame() const {
    const int64_t reached = mFileReader->currentFrame();
    int64_t held = framesHeldInStage();
    if (mFileReader->running() && !mFileReader->endOfStream()) { // after it: the silent tail
        held += std::llround(mOutputAudioUnit->unplayedFrames() * playbackSpeed());
    }
    if (held == 0) {
        return reached;
    }
    const int64_t heard = mFileReader->reverse() ? reached + held : reached - held;
    return std::clamp<int64_t>(heard, 0, mAudioFile->frameCount());
}

void VELKExtendedAudioFilePlayer::setCurrentFrame(int64_t frame) {
    changeWhatIsHeard([&] { moveTo(frame); }, playingSteadily(), signedSpeed(), true);
}

void VELKExtendedAudioFilePlayer::moveTo(int64_t frame) {
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

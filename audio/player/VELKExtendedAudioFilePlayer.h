#pragma once

#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/hardware/VELKAudioDevice.h"
#include "audio/realtime/VELKAudioFileStreamer.h"
#include "audio/units/VELKOutputAudioUnit.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class VELKExtendedAudioFilePlayer;

// Told on the main thread (through MainQueue).
class VELKExtendedAudioFilePlayerDelegate {
public:
    virtual ~VELKExtendedAudioFilePlayerDelegate() = default;
    virtual void audioFilePlayerDidReachEndOfFile(VELKExtendedAudioFilePlayer*) {}
    virtual void audioFilePlayerDidStop(VELKExtendedAudioFilePlayer*) {}
    // Playback stopped by itself before the end: the file could not be read
    // or the output device went away. `reason` says what happened, in words.
    virtual void audioFilePlayerDidFail(VELKExtendedAudioFilePlayer*,
                                        const std::string& /*reason*/) {}
};

// Plays one file to one output device at a variable speed, forwards or
// backwards. Times are milliseconds, frames are at the file's own rate.
// Call it from the main thread.
class VELKExtendedAudioFilePlayer
    : public std::enable_shared_from_this<VELKExtendedAudioFilePlayer> {
public:
    static std::shared_ptr<VELKExtendedAudioFilePlayer>
    withAudioFile(std::shared_ptr<VELKExtendedAudioFile> file,
                  std::shared_ptr<VELKAudioDevice> device);
    // Raises NSXException when the file cannot be read.
    static std::shared_ptr<VELKExtendedAudioFilePlayer>
    withFilename(const std::string& filename, std::shared_ptr<VELKAudioDevice> device);
    ~VELKExtendedAudioFilePlayer();

    // Raises NSXException when the output cannot start (its device has gone);
    // the position is kept.
    void startFilePlaying();
    void stopFilePlaying();
    bool isFilePlaying() const;

    // Negative plays backwards; 0 is an internal inconsistency. Playing
    // forwards at 1 the output keeps a longer buffer; a change into or out
    // of it while playing drops what the output holds unheard and goes on
    // from the frame heard, so that it is heard as soon as the sink has
    // played what it holds itself.
    void setPlaybackSpeed(double speed);
    // The magnitude.
    double playbackSpeed() const;
    // Heard once the output has played what it holds: within a quarter of
    // a second playing forwards at 1, a tenth at other speeds.
    void setPlaybackLevel(double level);
    void setPlaybackVolume(double decibels);

    // Voice removal: centred sound between 150 Hz and 3600 Hz is taken out
    // on the way to the output. Returns whether it could be done: it needs
    // two channels (a mono file plays as it is, as does one whose remover
    // cannot be made, which is logged). Switching works while playing, and
    // is heard as a change of level is; once on, the sound stays 4096
    // frames behind the reading (which the position allows for), also when
    // switched off again.
    bool setRemovesVoice(bool removesVoice);
    bool removesVoice() const;

    // The frame the output has reached, kept across a stop: a later start
    // plays on from it, so a pause skips nothing.
    int64_t currentFrame() const;
    // Raises NSXException for a frame the file refuses; the position stays.
    // Playing forwards at 1, the move is heard at once, as for the speed.
    void setCurrentFrame(int64_t frame);
    double currentTime() const;
    // Rounds down to a whole frame.
    void setCurrentTime(double milliseconds);
    double maxTime() const;

    VELKExtendedAudioFilePlayerDelegate* delegate() const { return mDelegate; }
    void setDelegate(VELKExtendedAudioFilePlayerDelegate* delegate) { mDelegate = delegate; }
    bool looping() const { return mLooping; }
    void setLooping(bool looping) { mLooping = looping; }
    VELKOutputAudioUnit* outputAudioUnit() const { return mOutputAudioUnit.get(); }
    VELKAudioFileReader* fileReader() const { return mFileReader.get(); }
    std::shared_ptr<VELKExtendedAudioFile> audioFile() const { return mAudioFile; }

    void notifyDelegateOfEOF();
    void notifyDelegateOfStop();
    void notifyDelegateOfFailure(const std::string& reason);

private:
    VELKExtendedAudioFilePlayer() = default;
    void setUp(std::shared_ptr<VELKExtendedAudioFile> file,
               std::shared_ptr<VELKAudioDevice> device);
    double clientSampleRate() const;
    void endOfStreamReached();
    // On the main thread, after the output stopped because its device went away.
    void outputDeviceWentAway();
    void stepBackOverUnplayedFrames(int64_t heldInStage);
    void moveTo(int64_t frame);
    static bool playsSteadily(double signedSpeed);
    double signedSpeed() const;
    bool playingOn() const;
    bool playingSteadily() const;
    void chooseOutputBuffer(double signedSpeed);
    void changeWhatIsHeard(const std::function<void()>& change, bool dropUnheard,
                           double nextSpeed, bool changeMoves);
    int64_t framesHeldInStage() const;

    std::shared_ptr<VELKExtendedAudioFile> mAudioFile;
    std::shared_ptr<VELKAudioFileReader> mFileReader;
    std::unique_ptr<VELKOutputAudioUnit> mOutputAudioUnit;
    std::shared_ptr<VELKVocalRemoverStage> mVocalRemoverStage;
    VELKExtendedAudioFilePlayerDelegate* mDelegate = nullptr;
    bool mDone = false;
    bool mLooping = false;
};

#pragma once

#include "audio/dsp/VELKVocalRemoverStage.h"
#include "audio/hardware/VELKAudioDevice.h"
#include "audio/realtime/SQueueWorker.h"
#include "audio/realtime/VELKAudioBufferQueue.h"
#include "platform/audio/AudioUnitTypes.h"

#include <atomic>
#include <functional>
#include <memory>

// Plays to an output device through a varispeed and the output unit,
// pulling from a buffer queue: silence where the queue falls short, and one
// end-of-stream notice per start, run on a notification worker.
class VELKOutputAudioUnit {
public:
    VELKOutputAudioUnit(std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription,
                        std::shared_ptr<VELKAudioDevice> device);
    ~VELKOutputAudioUnit();
    VELKOutputAudioUnit(const VELKOutputAudioUnit&) = delete;
    VELKOutputAudioUnit& operator=(const VELKOutputAudioUnit&) = delete;

    // Raises NSXException when the output cannot start (its device has
    // gone, no audio server); the unit is then stopped.
    void start();
    void stop();
    bool isRunning() const;
    // 0.125 to 8.
    void setPlaybackRate(double rate);
    double playbackRate() const;
    // Linear gain.
    void setPlaybackLevel(double level);
    // What the device had not yet played of what the unit rendered when it
    // last stopped, in frames at the stream description's rate; it is lost
    // with the stop (or the hold).
    uint32_t unplayedFramesAtStop() const;
    // While running: stops rendering and drops what the device has not
    // played yet (unplayedFramesAtStop then says how much), keeping the
    // stream, so that the owner can move what it plays unheard;
    // `renderAgain` goes on from there. Raises NSXException when the unit
    // is not running.
    void holdAndDropUnplayed();
    void renderAgain();
    // While running: about how many of the frames rendered the device has
    // yet to play, without asking the server (0 when stopped).
    uint32_t unplayedFrames() const;
    // Frames at the stream description's rate. From its next start (or
    // hold) the unit grows the server's buffer, from its usual tenth of a
    // second, by at most `stepFrames` at a time until it holds `frames`,
    // then tops it up `requestFrames` at a time; the tail of silence at the
    // end of the stream grows with it. 0 frames: the usual buffer only.
    void setSteadyBuffer(uint32_t frames, uint32_t requestFrames, uint32_t stepFrames);
    void setEndOfStreamNotificationBlock(std::function<void()> block);
    // Run (on the audio-unit service's thread) when playing stops because
    // the output device or the server went away.
    void setDeviceLostBlock(std::function<void()> block);
    // Whether the last stop came from the device going away.
    bool deviceLost() const;

    std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription() const {
        return mStreamDescription;
    }
    VELKAudioBufferQueue* audioBufferQueue() const { return mAudioBufferQueue.get(); }
    void setAudioBufferQueue(std::shared_ptr<VELKAudioBufferQueue> queue) {
        mAudioBufferQueue = std::move(queue);
    }
    // A vocal remover between the buffer queue and the varispeed, kept for
    // the unit's life once given (it may be given while playing; switch it
    // with its own setEnabled). Null until then.
    void setVocalRemoverStage(std::shared_ptr<VELKVocalRemoverStage> stage);
    VELKVocalRemoverStage* vocalRemoverStage() const { return mVocalRemoverStage.get(); }
    void* delegate() const { return mDelegate; }
    void setDelegate(void* delegate) { mDelegate = delegate; }
    AudioUnit varispeedUnit() const { return mVarispeedUnit; }
    AudioUnit outputUnit() const { return mOutputUnit; }

    // The varispeed's slice limit for an output slice limit and the output's
    // input and output rates.
    static uint32_t varispeedMaximumFramesPerSlice(uint32_t outputMaximum, double inputRate,
                                                   double outputRate);

private:
    // A uint32_t property of the output unit, read; raises NSXException.
    uint32_t outputProperty(uint32_t property) const;
    void setHolding(uint32_t holding);
    static void isRunningChanged(void* refCon, AudioUnit unit, uint32_t property, uint32_t scope,
                                 uint32_t element);
    static OSStatus OAUOutputProc(void* refCon, AudioUnitRenderActionFlags* flags,
                                  const AudioTimeStamp* timeStamp, uint32_t bus, uint32_t frames,
                                  AudioBufferList* data);

    std::shared_ptr<VELKAudioStreamBasicDescription> mStreamDescription;
    void* mDelegate = nullptr;
    std::function<void()> mDeviceLostBlock;
    bool mListening = false;
    AUGraph mGraph = nullptr;
    AUNode mVarispeedNode = 0;
    AUNode mOutputNode = 0;
    AudioUnit mVarispeedUnit = nullptr;
    AudioUnit mOutputUnit = nullptr;
    std::shared_ptr<VELKAudioBufferQueue> mAudioBufferQueue;
    SAudioNotificationQueueWorker* mAudioNotificationQueueWorker = nullptr;
    SQueueableAudioNotification* mAudioNotification = nullptr;
    std::atomic<bool> mDone{false};
    // After the end of the stream, silence is rendered for this long before
    // the end is announced, so that the audio the server still holds is
    // heard before the owner stops the output.
    static constexpr double kEndTailSeconds = 0.25;
    // At least this much longer than a steady buffer.
    static constexpr double kEndTailBeyondBufferSeconds = 0.15;
    // Frames of that silence still to render (-1: the end not reached yet),
    // and the playback rate it is counted at. Set on the main thread before
    // a start, then used by the render thread only.
    std::atomic<double> mTailSeconds{kEndTailSeconds};
    std::atomic<int64_t> mTailFramesLeft{-1};
    std::atomic<double> mTailRate{1.0};
    std::shared_ptr<VELKVocalRemoverStage> mVocalRemoverStage;
    std::atomic<VELKVocalRemoverStage*> mStage{nullptr}; // what the render thread sees
};

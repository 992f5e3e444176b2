#pragma once

#include "app/deck/WaveAudio.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// One short sound, held in memory as float samples and played through the
// engine's output unit. The output stream opens when the sound starts and is
// released when it has finished (or is stopped), so an idle deck holds no
// stream on the server. Main thread only.
//
// A sound never restarts or overlaps itself: `play` while it sounds changes
// nothing. Once it has been heard to its end, `play` starts it again at once,
// even though its stream lingers a little longer to let the server play out. When no output device or no audio server is there, `play` does
// nothing and says so once on standard error; the next failure after a
// sound that did play is reported again.
class SoundEffect : public std::enable_shared_from_this<SoundEffect> {
public:
    // Nothing (and `error`, when given, says why) when `bytes` is not a
    // usable WAVE file.
    static std::shared_ptr<SoundEffect> fromWaveData(const QByteArray& bytes, const QString& name,
                                                     QString* error = nullptr);
    // The deck's sound ":/cassora/sounds/NAME.wav".
    static std::shared_ptr<SoundEffect> fromResource(const QString& name, QString* error = nullptr);
    ~SoundEffect();
    SoundEffect(const SoundEffect&) = delete;
    SoundEffect& operator=(const SoundEffect&) = delete;

    // Starts the sound unless it is sounding already. False when it could
    // not start (no device, no server); true when it plays.
    bool play();
    // Stops at once and releases the output stream.
    void stop();
    // True from `play` until the sound has finished (told on the main thread
    // through MainQueue) or `stop`.
    bool isPlaying() const { return mPlayback != nullptr; }
    // True while the sound itself is heard: from `play` to the end of its
    // audio (and the server's buffer after it), for as long as it loops.
    bool isSounding() const;
    // A looping sound plays until `stop`. A change while playing takes effect
    // within a fraction of a second.
    void setLooping(bool looping);
    bool looping() const { return mLooping; }

    // The output device's UID; empty means the default output. A UID that
    // names no device (any more) also plays on the default output.
    void setDeviceUID(const std::string& uid) { mDeviceUID = uid; }
    const std::string& deviceUID() const { return mDeviceUID; }

    const QString& name() const { return mName; }
    double sampleRate() const { return mAudio->sampleRate; }
    uint32_t channelCount() const { return static_cast<uint32_t>(mAudio->channels.size()); }
    size_t frameCount() const { return mAudio->frameCount(); }
    // Seconds.
    double duration() const { return static_cast<double>(frameCount()) / sampleRate(); }
    const WaveAudio& audio() const { return *mAudio; }

private:
    struct Playback;
    SoundEffect(WaveAudio audio, QString name);
    // On the main thread: the playback of that generation ended by itself.
    void playbackEnded(uint64_t generation);
    void reportFailure(const QString& reason);

    QString mName;
    // Shared with the queue of a playback in progress, which reads it on its
    // worker thread; never changed after loading.
    std::shared_ptr<const WaveAudio> mAudio;
    std::string mDeviceUID;
    bool mLooping = false;
    std::unique_ptr<Playback> mPlayback;
    // When the current playback started, on the steady clock (seconds).
    double mStartedAt = 0;
    // Tells a late end notice of an earlier playback from the current one.
    uint64_t mGeneration = 0;
};

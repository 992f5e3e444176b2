#include "app/deck/SoundEffect.h"

#include "audio/format/NSXException.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "audio/realtime/VELKAudioBufferQueue.h"
#include "audio/units/VELKOutputAudioUnit.h"
#include "platform/audio/AudioHardwareService.h"
#include "platform/audio/MainQueue.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// The ring the output pulls from: four slices' worth of 2048 frames, refilled
// from memory on the queue's worker, which never has to wait for a disk.
constexpr uint32_t kRingBuffers = 4;
constexpr uint32_t kRingBufferFrames = 2048;
// Silence played after a sound that ends, before its stream is released:
// releasing a stream drops what the server still holds of it (about 0.1 s).
constexpr double kTailSeconds = 0.2;
// How long after its audio a sound is still heard: the server's buffer ahead
// of the device. A new start after that cuts nothing that can be heard.
constexpr double kHeardAfterEndSeconds = 0.15;
// A fade at the very start of each playback (the loop begins mid-whirr).
constexpr double kFadeInSeconds = 0.005;

// One failure message until a sound plays again.
std::atomic<bool> gFailureReported{false};

// An engine error in words: the hardware's own description of a failed
// call (which names the server it could not reach, say) when there is one.
QString describe(const NSXError& error) {
    if (error.stringDetail(NSXLocalizedDescriptionKey).empty() &&
        error.domain() == NSXMachErrorDomain) {
        return QString::fromStdString(AudioHardwareStatusDescription(error.code()));
    }
    return QString::fromStdString(error.localizedDescription());
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// Copies the sound into the ring on the queue's worker: from the start,
// around again when looping, and, when not, a short silence and then the end
// of the stream.
class SoundEffectQueue : public VELKAudioBufferQueue {
public:
    SoundEffectQueue(std::shared_ptr<const WaveAudio> audio,
                     const VELKAudioStreamBasicDescription& description, bool looping)
        : VELKAudioBufferQueue(kRingBuffers, kRingBufferFrames, description),
          mAudio(std::move(audio)), mFrames(mAudio->frameCount()),
          mTailFrames(static_cast<size_t>(kTailSeconds * mAudio->sampleRate)),
          mFadeInFrames(static_cast<size_t>(kFadeInSeconds * mAudio->sampleRate)),
          mLooping(looping) {}
    ~SoundEffectQueue() override { teardownForgottenWorker(); }

    void setLooping(bool looping) { mLooping.store(looping); }

    // On the worker (or the owner's thread while priming).
    void processBuffer(SQueueableAudioBuffer* buffer) override {
        SAudioBuffer& ring = buffer->mBuffer;
        SAudioBufferSetEmpty(&ring);
        const auto capacity = static_cast<size_t>(mBufferSizeFrames);
        size_t filled = 0;
        while (filled < capacity) {
            if (mPosition >= mFrames && mLooping.load()) {
                mPosition = 0;
            }
            const size_t end = mPosition < mFrames ? mFrames : mFrames + mTailFrames;
            const size_t n = std::min(capacity - filled, end - mPosition);
            if (n == 0) {
                break;
            }
            for (uint32_t c = 0; c < ring.mBufferList->mNumberBuffers; ++c) {
                auto* out = static_cast<float*>(ring.mBufferList->mBuffers[c].mData) + filled;
                if (mPosition < mFrames) {
                    const float* in = mAudio->channels[c].data() + mPosition;
                    std::memcpy(out, in, n * sizeof(float));
                    fadeIn(out, n);
                } else {
                    std::memset(out, 0, n * sizeof(float));
                }
            }
            mPlayed += n;
            mPosition += n;
            filled += n;
        }
        ring.mEndFrame = static_cast<uint32_t>(filled);
        // Only an empty buffer carries the mark: the render side ends the
        // stream when it meets it.
        ring.mReachedEndOfStream = filled == 0;
    }

private:
    // The first frames of a playback rise from silence.
    void fadeIn(float* out, size_t n) const {
        const size_t first = mPlayed;
        for (size_t i = 0; i < n && first + i < mFadeInFrames; ++i) {
            out[i] *= static_cast<float>(first + i) / static_cast<float>(mFadeInFrames);
        }
    }

    std::shared_ptr<const WaveAudio> mAudio;
    const size_t mFrames;
    const size_t mTailFrames;
    const size_t mFadeInFrames;
    std::atomic<bool> mLooping;
    // Touched by one thread at a time: the owner while priming, then the worker.
    size_t mPosition = 0;
    size_t mPlayed = 0;
};

// A sound on its way to the device: the ring and the output unit pulling
// from it. Going away stops the unit before the ring's worker ends.
struct SoundEffect::Playback {
    std::shared_ptr<SoundEffectQueue> queue;
    std::unique_ptr<VELKOutputAudioUnit> unit;

    ~Playback() {
        if (unit) {
            unit->stop();
            unit.reset();
        }
        if (queue) {
            queue->teardownWorkerThread();
        }
    }
};

std::shared_ptr<SoundEffect> SoundEffect::fromWaveData(const QByteArray& bytes, const QString& name,
                                                       QString* error) {
    QString reason;
    std::optional<WaveAudio> audio = decodeWaveAudio(bytes, &reason);
    if (!audio) {
        if (error) {
            *error = QStringLiteral("%1: %2").arg(name, reason);
        }
        return nullptr;
    }
    return std::shared_ptr<SoundEffect>(new SoundEffect(std::move(*audio), name));
}

std::shared_ptr<SoundEffect> SoundEffect::fromResource(const QString& name, QString* error) {
    QFile file(QStringLiteral(":/cassora/sounds/%1.wav").arg(name));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) {
            *error = QStringLiteral("%1: no such sound").arg(name);
        }
        return nullptr;
    }
    return fromWaveData(file.readAll(), name, error);
}

SoundEffect::SoundEffect(WaveAudio audio, QString name)
    : mName(std::move(name)), mAudio(std::make_shared<const WaveAudio>(std::move(audio))) {}

SoundEffect::~SoundEffect() = default;

bool SoundEffect::isSounding() const {
    return mPlayback && (mLooping || steadySeconds() - mStartedAt <
                                         duration() + kHeardAfterEndSeconds);
}

bool SoundEffect::play() {
    if (isSounding()) {
        return true;
    }
    // Heard to its end, with only silence left on its way out: it goes, so
    // that a second press of the same key is heard.
    mPlayback.reset();
    try {
        std::shared_ptr<VELKAudioDevice> device;
        if (!mDeviceUID.empty()) {
            device = VELKAudioDevice::withDeviceUID(mDeviceUID);
        }
        if (!device) {
            device = VELKAudioHardware::defaultOutputDevice();
        }
        if (device->deviceID() == kAudioObjectUnknown) {
            reportFailure(QStringLiteral("there is no output device"));
            return false;
        }
        const auto description =
            VELKAudioStreamBasicDescription::clientStreamDescription(channelCount(), sampleRate());
        auto playback = std::make_unique<Playback>();
        playback->queue = std::make_shared<SoundEffectQueue>(mAudio, *description, mLooping);
        playback->queue->prime();
        // The output opens its stream at the sound's own rate; the server
        // converts to the device's.
        playback->unit = std::make_unique<VELKOutputAudioUnit>(description, device);
        playback->unit->setAudioBufferQueue(playback->queue);
        const uint64_t generation = ++mGeneration;
        const std::weak_ptr<SoundEffect> weak = weak_from_this();
        const auto ended = [weak, generation] {
            MainQueue::post([weak, generation] {
                if (const auto sound = weak.lock()) {
                    sound->playbackEnded(generation);
                }
            });
        };
        playback->unit->setEndOfStreamNotificationBlock(ended);
        playback->unit->setDeviceLostBlock(ended);
        playback->unit->start();
        if (!playback->unit->isRunning()) {
            reportFailure(QStringLiteral("the output stream did not start"));
            return false;
        }
        mPlayback = std::move(playback);
        mStartedAt = steadySeconds();
        gFailureReported.store(false);
        return true;
    } catch (const NSXException& exception) {
        reportFailure(describe(exception.error()));
    } catch (const std::exception& exception) {
        reportFailure(QString::fromUtf8(exception.what()));
    }
    return false;
}

void SoundEffect::stop() {
    mPlayback.reset();
}

void SoundEffect::setLooping(bool looping) {
    mLooping = looping;
    if (mPlayback) {
        mPlayback->queue->setLooping(looping);
    }
}

void SoundEffect::playbackEnded(uint64_t generation) {
    if (generation == mGeneration) {
        mPlayback.reset();
    }
}

void SoundEffect::reportFailure(const QString& reason) {
    if (!gFailureReported.exchange(true)) {
        std::fprintf(stderr, "(ERROR) SoundEffect : could not play \"%s\": %s\n",
                     mName.toUtf8().constData(), reason.toUtf8().constData());
    }
}

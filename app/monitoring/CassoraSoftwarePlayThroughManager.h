#pragma once

#include "platform/audio/AudioHardwareTypes.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class SerialQueue;
class UserDefaults;
class VELKAudioPlaythroughManager;

// Keeps live monitoring in step with the user's settings: while
// "EnableSoftwarePlaythrough" is on, the recording device
// ("RecordDeviceUID") plays through, on the channels being recorded
// ("RecordDeviceChannels"), to the playback device ("PlaybackDeviceUID"); an
// empty or vanished UID means the system default. Every change of those
// settings builds the play-through again; so does a change of the devices
// while the play-through has stopped (its device went away) or while it
// follows a default device that is no longer the default.
//
// Building, starting and stopping streams can take a while, so they happen
// on a worker thread of the manager's own; the main thread only hands it the
// settings and hears back whether monitoring runs.
class CassoraSoftwarePlayThroughManager : public QObject {
    Q_OBJECT

public:
    explicit CassoraSoftwarePlayThroughManager(UserDefaults& defaults, QObject* parent = nullptr);
    // Stops monitoring; waits for the worker to finish.
    ~CassoraSoftwarePlayThroughManager() override;

    bool softwarePlaythroughEnabled() const;
    QString recordAudioDeviceUID() const;
    QString playbackAudioDeviceUID() const;
    std::optional<std::vector<int32_t>> recordDeviceChannels() const;

    // Whether monitoring ran when the worker last looked.
    bool isMonitoring() const { return mMonitoring; }
    // Why monitoring that is switched on does not run, in words for the
    // user; empty while it runs or is switched off.
    QString failure() const { return mFailure; }
    // What to tell the user when building (or starting) the play-through
    // failed with `status` at `step` (the engine's step numbers).
    static QString describeFailure(int32_t status, int step);
    // Waits until the worker has done everything asked of it so far (for
    // tests and for leaving).
    void waitUntilSettled();

    // What the worker's play-through uses now (worker state read under its
    // lock; for tests): the devices, 0 without a play-through.
    struct Snapshot {
        bool exists = false;
        bool running = false;
        AudioDeviceID input = kAudioObjectUnknown;
        AudioDeviceID output = kAudioObjectUnknown;
        std::optional<std::vector<int32_t>> channels;
        uint64_t builds = 0; // play-throughs built so far
    };
    Snapshot snapshot();

signals:
    void monitoringChanged(bool monitoring);
    // Monitoring could not start (a new reason), or the reason has gone
    // (empty): sent once for each change.
    void failureChanged(const QString& reason);

private:
    struct Settings {
        bool enabled = false;
        std::string input;
        std::string output;
        std::optional<std::vector<int32_t>> channels;
    };
    Settings currentSettings() const;
    void _rebuildPlaythroughManager();
    void devicesChanged();
    // Worker thread.
    void rebuild(const Settings& settings, uint64_t generation);
    void recheck(const Settings& settings, uint64_t generation);
    // Worker thread: whether monitoring runs, and why not when it should.
    void reportState(bool shouldRun = false, QString failure = {});
    void warnAboutFeedback(AudioDeviceID input, AudioDeviceID output) const;
    static OSStatus hardwareChanged(AudioObjectID, uint32_t, const AudioObjectPropertyAddress*,
                                    void* self);

    UserDefaults& mDefaults;
    bool mMonitoring = false;
    QString mFailure;
    std::atomic<uint64_t> mGeneration{0};
    std::unique_ptr<SerialQueue> mWorker;
    // Worker thread only (snapshot() reads it through the worker).
    std::unique_ptr<VELKAudioPlaythroughManager> mPlaythroughManager;
    Settings mBuiltFrom;
    uint64_t mBuilds = 0;
    bool mListening = false;
};

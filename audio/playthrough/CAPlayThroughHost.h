#pragma once

#include "audio/playthrough/CAPlayThrough.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// Owns the current play-through and builds it again, with the same devices
// and channels, when the input device's stream format changes (the rebuild
// runs on the hardware's notification thread), running again if it ran
// before. One lock serialises the rebuild with start, stop and destruction
// from the owner's thread.
class CAPlayThroughHost {
public:
    CAPlayThroughHost(AudioDeviceID input, AudioDeviceID output,
                      std::optional<std::vector<int32_t>> channelMap);
    ~CAPlayThroughHost();
    CAPlayThroughHost(const CAPlayThroughHost&) = delete;
    CAPlayThroughHost& operator=(const CAPlayThroughHost&) = delete;

    // Without a play-through (it could not be built), start and stop do
    // nothing and nothing runs.
    OSStatus Start();
    OSStatus Stop();
    bool IsRunning();
    bool PlayThroughExists();

    // The devices the play-through uses (defaults resolved); 0 without one.
    AudioDeviceID inputDeviceID();
    AudioDeviceID outputDeviceID();
    // Whether a device of a running play-through went away under it.
    bool StreamLost();
    CAPlayThrough::Statistics statistics();
    // How many times a format change has rebuilt the play-through.
    uint64_t rebuildCount() const { return mRebuilds.load(); }

    // Why the play-through could not be built or started: the status and
    // the number of the step that failed (0, 0 when nothing failed).
    struct Failure {
        OSStatus status = 0;
        int step = 0;
    };
    Failure lastFailure();

private:
    void CreatePlayThrough(AudioDeviceID input, AudioDeviceID output,
                           std::optional<std::vector<int32_t>> channelMap);
    void DeletePlayThrough();
    void AddDeviceListeners(AudioDeviceID input);
    void RemoveDeviceListeners();
    void ResetPlayThrough();
    OSStatus StartLocked();
    static OSStatus StreamListener(AudioObjectID object, uint32_t numberAddresses,
                                   const AudioObjectPropertyAddress* addresses, void* clientData);

    std::recursive_mutex mLock;
    std::unique_ptr<CAPlayThrough> mPlayThrough;
    std::vector<AudioObjectID> mListenedStreams; // owner's thread only
    std::atomic<bool> mClosing{false};
    std::atomic<uint64_t> mRebuilds{0};
    Failure mFailure; // under mLock
};

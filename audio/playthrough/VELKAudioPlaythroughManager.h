#pragma once

#include "audio/playthrough/CAPlayThroughHost.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Live monitoring of a recording device on a playback device: the engine's
// interface to the play-through. A UID that names no device (or an empty
// one) stands for the system's default device of that direction. The
// play-through is built at creation and runs between start and stop; one
// that could not be built never runs (isRunning stays false).
class VELKAudioPlaythroughManager {
public:
    VELKAudioPlaythroughManager(const std::string& inputDeviceUID,
                                const std::string& outputDeviceUID,
                                std::optional<std::vector<int32_t>> recordChannelMap);
    ~VELKAudioPlaythroughManager();
    VELKAudioPlaythroughManager(const VELKAudioPlaythroughManager&) = delete;
    VELKAudioPlaythroughManager& operator=(const VELKAudioPlaythroughManager&) = delete;

    void start();
    void stop();
    bool isRunning();

    CAPlayThroughHost* playThroughHost() { return mPlayThroughHost.get(); }

private:
    std::unique_ptr<CAPlayThroughHost> mPlayThroughHost;
};

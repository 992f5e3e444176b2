#include "audio/playthrough/VELKAudioPlaythroughManager.h"

#include "audio/format/NSXException.h"
#include "audio/hardware/VELKAudioHardware.h"

namespace {

// 0 (the default device) for a UID that names nothing, and when the audio
// server cannot be asked.
AudioDeviceID deviceIDFor(const std::string& uid) {
    if (uid.empty()) {
        return kAudioObjectUnknown;
    }
    try {
        return VELKAudioHardware::deviceIDForDeviceUID(uid);
    } catch (const NSXException&) {
        return kAudioObjectUnknown;
    }
}

} // namespace

VELKAudioPlaythroughManager::VELKAudioPlaythroughManager(
    const std::string& inputDeviceUID, const std::string& outputDeviceUID,
    std::optional<std::vector<int32_t>> recordChannelMap)
    : mPlayThroughHost(std::make_unique<CAPlayThroughHost>(
          deviceIDFor(inputDeviceUID), deviceIDFor(outputDeviceUID), std::move(recordChannelMap))) {
}

VELKAudioPlaythroughManager::~VELKAudioPlaythroughManager() = default;

void VELKAudioPlaythroughManager::start() {
    mPlayThroughHost->Start();
}

void VELKAudioPlaythroughManager::stop() {
    mPlayThroughHost->Stop();
}

bool VELKAudioPlaythroughManager::isRunning() {
    return mPlayThroughHost->IsRunning();
}

#include "audio/playthrough/CAPlayThroughHost.h"

#include "platform/audio/AudioHardwareService.h"

#include <cstdio>

namespace {

const AudioObjectPropertyAddress kPhysicalFormat{kAudioStreamPropertyPhysicalFormat,
                                                 kAudioObjectPropertyScopeGlobal,
                                                 kAudioObjectPropertyElementMain};

} // namespace

CAPlayThroughHost::CAPlayThroughHost(AudioDeviceID input, AudioDeviceID output,
                                     std::optional<std::vector<int32_t>> channelMap) {
    CreatePlayThrough(input, output, std::move(channelMap));
}

CAPlayThroughHost::~CAPlayThroughHost() {
    mClosing.store(true);
    // Outside the lock: a rebuild that is under way holds it, and removing
    // the listeners waits for that rebuild to end.
    RemoveDeviceListeners();
    std::lock_guard lock(mLock);
    DeletePlayThrough();
}

void CAPlayThroughHost::CreatePlayThrough(AudioDeviceID input, AudioDeviceID output,
                                          std::optional<std::vector<int32_t>> channelMap) {
    auto playThrough = std::make_unique<CAPlayThrough>(input, output, std::move(channelMap));
    if (playThrough->initStatus() != 0) {
        mFailure = {playThrough->initStatus(), playThrough->initStep()};
        std::fputs("CAPlayThrough ERROR: Cannot Init CAPlayThrough", stderr);
        std::fflush(stderr);
        return;
    }
    mFailure = {};
    mPlayThrough = std::move(playThrough);
    if (mListenedStreams.empty()) {
        AddDeviceListeners(mPlayThrough->GetInputDeviceID());
    }
}

void CAPlayThroughHost::DeletePlayThrough() {
    if (mPlayThrough) {
        mPlayThrough->Stop();
        mPlayThrough.reset();
    }
}

// The input device's input streams tell us when their format changes. The
// listeners stay for the host's life: a rebuild keeps the same input device.
void CAPlayThroughHost::AddDeviceListeners(AudioDeviceID input) {
    const AudioObjectPropertyAddress streamsAddress{kAudioDevicePropertyStreams,
                                                    kAudioObjectPropertyScopeInput,
                                                    kAudioObjectPropertyElementMain};
    uint32_t size = 0;
    if (AudioObjectGetPropertyDataSize(input, &streamsAddress, 0, nullptr, &size) != 0 ||
        size == 0) {
        return;
    }
    std::vector<AudioObjectID> streams(size / sizeof(AudioObjectID));
    if (AudioObjectGetPropertyData(input, &streamsAddress, 0, nullptr, &size, streams.data()) !=
        0) {
        return;
    }
    streams.resize(size / sizeof(AudioObjectID));
    for (const AudioObjectID stream : streams) {
        const AudioObjectPropertyAddress direction{kAudioStreamPropertyDirection,
                                                   kAudioObjectPropertyScopeGlobal,
                                                   kAudioObjectPropertyElementMain};
        uint32_t isInput = 0;
        uint32_t directionSize = sizeof(isInput);
        if (AudioObjectGetPropertyData(stream, &direction, 0, nullptr, &directionSize, &isInput) ==
                0 &&
            isInput != 0 &&
            AudioObjectAddPropertyListener(stream, &kPhysicalFormat,
                                           &CAPlayThroughHost::StreamListener, this) == 0) {
            mListenedStreams.push_back(stream);
        }
    }
}

void CAPlayThroughHost::RemoveDeviceListeners() {
    for (const AudioObjectID stream : mListenedStreams) {
        AudioObjectRemovePropertyListener(stream, &kPhysicalFormat,
                                          &CAPlayThroughHost::StreamListener, this);
    }
    mListenedStreams.clear();
}

// On the hardware's notification thread.
OSStatus CAPlayThroughHost::StreamListener(AudioObjectID, uint32_t,
                                           const AudioObjectPropertyAddress*, void* clientData) {
    static_cast<CAPlayThroughHost*>(clientData)->ResetPlayThrough();
    return 0;
}

void CAPlayThroughHost::ResetPlayThrough() {
    std::lock_guard lock(mLock);
    if (mClosing.load() || !mPlayThrough) {
        return;
    }
    const AudioDeviceID input = mPlayThrough->GetInputDeviceID();
    const AudioDeviceID output = mPlayThrough->GetOutputDeviceID();
    std::optional<std::vector<int32_t>> channelMap = mPlayThrough->channelMap();
    // One that was stopped stays stopped.
    const bool wasRunning = mPlayThrough->IsRunning();
    DeletePlayThrough();
    mRebuilds.fetch_add(1);
    CreatePlayThrough(input, output, std::move(channelMap));
    if (mPlayThrough && wasRunning) {
        StartLocked();
    }
}

OSStatus CAPlayThroughHost::Start() {
    std::lock_guard lock(mLock);
    return StartLocked();
}

OSStatus CAPlayThroughHost::StartLocked() {
    if (!mPlayThrough) {
        return 0;
    }
    const OSStatus status = mPlayThrough->Start();
    if (status != 0) {
        mFailure = {status, mPlayThrough->startStep()};
    }
    return status;
}

CAPlayThroughHost::Failure CAPlayThroughHost::lastFailure() {
    std::lock_guard lock(mLock);
    return mFailure;
}

OSStatus CAPlayThroughHost::Stop() {
    std::lock_guard lock(mLock);
    return mPlayThrough ? mPlayThrough->Stop() : 0;
}

bool CAPlayThroughHost::IsRunning() {
    std::lock_guard lock(mLock);
    return mPlayThrough && mPlayThrough->IsRunning();
}

bool CAPlayThroughHost::PlayThroughExists() {
    std::lock_guard lock(mLock);
    return mPlayThrough != nullptr;
}

AudioDeviceID CAPlayThroughHost::inputDeviceID() {
    std::lock_guard lock(mLock);
    return mPlayThrough ? mPlayThrough->GetInputDeviceID() : kAudioObjectUnknown;
}

AudioDeviceID CAPlayThroughHost::outputDeviceID() {
    std::lock_guard lock(mLock);
    return mPlayThrough ? mPlayThrough->GetOutputDeviceID() : kAudioObjectUnknown;
}

bool CAPlayThroughHost::StreamLost() {
    std::lock_guard lock(mLock);
    return mPlayThrough && mPlayThrough->StreamLost();
}

CAPlayThrough::Statistics CAPlayThroughHost::statistics() {
    std::lock_guard lock(mLock);
    return mPlayThrough ? mPlayThrough->statistics() : CAPlayThrough::Statistics{};
}

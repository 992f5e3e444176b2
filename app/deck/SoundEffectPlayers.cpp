#include "app/deck/SoundEffectPlayers.h"

#include "audio/format/NSXException.h"
#include "audio/hardware/VELKAudioHardware.h"

#include <cstdio>

namespace {

void logError(const char* message) {
    std::fprintf(stderr, "(ERROR) WindowController : %s\n", message);
}

} // namespace

const std::array<const char*, SoundEffectPlayers::kCount>& SoundEffectPlayers::soundNames() {
    static const std::array<const char*, kCount> names{
        "TapeSpeeding",      "ButtonPress", "ButtonClear",  "ButtonHitExtent", "DrawerOpenStereo",
        "DrawerCloseStereo", "PausePress",  "PauseRelease", "TossTape2"};
    return names;
}

SoundEffectPlayers::SoundEffectPlayers(std::function<bool()> enabled,
                                       std::optional<std::string> deviceUID)
    : mEnabled(std::move(enabled)) {
    for (int i = 0; i < kCount; ++i) {
        QString error;
        mSounds[i] = SoundEffect::fromResource(QString::fromLatin1(soundNames()[i]), &error);
        if (!mSounds[i]) {
            std::fprintf(stderr, "(ERROR) SoundEffectPlayers : cannot load a sound: %s\n",
                         error.toUtf8().constData());
            continue;
        }
        mSounds[i]->setLooping(i == TapeSpeeding);
        if (deviceUID) {
            mSounds[i]->setDeviceUID(*deviceUID);
        }
    }
}

SoundEffect* SoundEffectPlayers::sound(int index) const {
    return index >= 0 && index < kCount ? mSounds[index].get() : nullptr;
}

void SoundEffectPlayers::play(int index) {
    if (mEnabled && !mEnabled()) {
        return;
    }
    if (SoundEffect* effect = sound(index)) {
        effect->play();
    }
}

void SoundEffectPlayers::stop(int index) {
    if (SoundEffect* effect = sound(index)) {
        effect->stop();
    }
}

bool SoundEffectPlayers::isPlaying(int index) const {
    const SoundEffect* effect = sound(index);
    return effect && effect->isPlaying();
}

std::optional<std::string> SoundEffectPlayers::systemOutputDeviceUID() {
    AudioDeviceID device = kAudioObjectUnknown;
    try {
        device = VELKAudioHardware::systemOutputDeviceID();
    } catch (const NSXException&) {
    }
    if (device == kAudioObjectUnknown) {
        logError("could not get system output device ID");
        return std::nullopt;
    }
    try {
        std::string uid = VELKAudioDevice::withDeviceID(device)->deviceUID();
        if (!uid.empty()) {
            return uid;
        }
    } catch (const NSXException&) {
    }
    logError("could not get system output device UID");
    return std::nullopt;
}

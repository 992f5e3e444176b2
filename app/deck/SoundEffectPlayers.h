#pragma once

#include "app/deck/SoundEffect.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// The deck's nine transport sounds, loaded once from the program's resources
// and played by number. Main thread only.
class SoundEffectPlayers {
public:
    // The sounds in number order.
    enum Index {
        TapeSpeeding = 0, // the fast wind; the only one that loops
        ButtonPress,
        ButtonClear,
        ButtonHitExtent,
        DrawerOpenStereo,
        DrawerCloseStereo,
        PausePress,
        PauseRelease,
        TossTape2,
    };
    static constexpr int kCount = 9;
    static const std::array<const char*, kCount>& soundNames();

    // `enabled` answers whether sound effects are on (the deck passes the
    // "PlaySoundEffects" preference); it is asked on every `play`. The
    // sounds play on the device with `deviceUID`, or on the default output
    // when there is none. A sound that cannot be loaded is reported on
    // standard error and stays silent; the others play.
    explicit SoundEffectPlayers(std::function<bool()> enabled,
                                std::optional<std::string> deviceUID = std::nullopt);

    // Starts the sound unless effects are off or it is playing already.
    void play(int index);
    // Stops the sound, whatever the preference says now: a fast-wind whirr
    // started before effects were turned off still ends with the wind.
    void stop(int index);
    bool isPlaying(int index) const;
    // Nothing for a number out of range or a sound that did not load.
    SoundEffect* sound(int index) const;

    // The UID of the device for alerts and sound effects, read from the
    // audio hardware; nothing (with an error line) when it cannot be read.
    static std::optional<std::string> systemOutputDeviceUID();

private:
    std::function<bool()> mEnabled;
    std::array<std::shared_ptr<SoundEffect>, kCount> mSounds;
};

#pragma once

#include <cstdint>
#include <optional>

// Stored key codes are the original platform's virtual key codes, which name
// physical key positions. This table maps them to and from X11 key codes
// (evdev code + 8) of the same positions, so a stored map means the same keys
// on any layout, and to the Qt key a US layout gives, for events that come
// without a native scan code.
class KeyCodeTable {
public:
    static std::optional<int> virtualKeyCodeForX11KeyCode(uint32_t x11KeyCode);
    static std::optional<uint32_t> x11KeyCodeForVirtualKeyCode(int virtualKeyCode);
    static std::optional<int> virtualKeyCodeForQtKey(int qtKey);
    static std::optional<int> qtKeyForVirtualKeyCode(int virtualKeyCode);

    // The virtual key code of a key event: by its native scan code when it
    // has one, else by its Qt key.
    static std::optional<int> virtualKeyCodeForEvent(uint32_t nativeScanCode, int qtKey);
};

#include "platform/desktop/KeyCodeTable.h"

#include <Qt>

#include <array>

namespace {

struct KeyPosition {
    int virtualKeyCode;
    uint32_t x11KeyCode;
    int qtKey; // on a US layout
};

// clang-format off
constexpr std::array kKeyPositions{
    KeyPosition{0x00, 38, Qt::Key_A},   KeyPosition{0x01, 39, Qt::Key_S},
    KeyPosition{0x02, 40, Qt::Key_D},   KeyPosition{0x03, 41, Qt::Key_F},
    KeyPosition{0x04, 43, Qt::Key_H},   KeyPosition{0x05, 42, Qt::Key_G},
    KeyPosition{0x06, 52, Qt::Key_Z},   KeyPosition{0x07, 53, Qt::Key_X},
    KeyPosition{0x08, 54, Qt::Key_C},   KeyPosition{0x09, 55, Qt::Key_V},
    KeyPosition{0x0A, 94, Qt::Key_Less},
    KeyPosition{0x0B, 56, Qt::Key_B},   KeyPosition{0x0C, 24, Qt::Key_Q},
    KeyPosition{0x0D, 25, Qt::Key_W},   KeyPosition{0x0E, 26, Qt::Key_E},
    KeyPosition{0x0F, 27, Qt::Key_R},   KeyPosition{0x10, 29, Qt::Key_Y},
    KeyPosition{0x11, 28, Qt::Key_T},   KeyPosition{0x12, 10, Qt::Key_1},
    KeyPosition{0x13, 11, Qt::Key_2},   KeyPosition{0x14, 12, Qt::Key_3},
    KeyPosition{0x15, 13, Qt::Key_4},   KeyPosition{0x16, 15, Qt::Key_6},
    KeyPosition{0x17, 14, Qt::Key_5},   KeyPosition{0x18, 21, Qt::Key_Equal},
    KeyPosition{0x19, 18, Qt::Key_9},   KeyPosition{0x1A, 16, Qt::Key_7},
    KeyPosition{0x1B, 20, Qt::Key_Minus}, KeyPosition{0x1C, 17, Qt::Key_8},
    KeyPosition{0x1D, 19, Qt::Key_0},   KeyPosition{0x1E, 35, Qt::Key_BracketRight},
    KeyPosition{0x1F, 32, Qt::Key_O},   KeyPosition{0x20, 30, Qt::Key_U},
    KeyPosition{0x21, 34, Qt::Key_BracketLeft}, KeyPosition{0x22, 31, Qt::Key_I},
    KeyPosition{0x23, 33, Qt::Key_P},   KeyPosition{0x24, 36, Qt::Key_Return},
    KeyPosition{0x25, 46, Qt::Key_L},   KeyPosition{0x26, 44, Qt::Key_J},
    KeyPosition{0x27, 48, Qt::Key_Apostrophe}, KeyPosition{0x28, 45, Qt::Key_K},
    KeyPosition{0x29, 47, Qt::Key_Semicolon}, KeyPosition{0x2A, 51, Qt::Key_Backslash},
    KeyPosition{0x2B, 59, Qt::Key_Comma}, KeyPosition{0x2C, 61, Qt::Key_Slash},
    KeyPosition{0x2D, 57, Qt::Key_N},   KeyPosition{0x2E, 58, Qt::Key_M},
    KeyPosition{0x2F, 60, Qt::Key_Period}, KeyPosition{0x30, 23, Qt::Key_Tab},
    KeyPosition{0x31, 65, Qt::Key_Space}, KeyPosition{0x32, 49, Qt::Key_QuoteLeft},
    KeyPosition{0x33, 22, Qt::Key_Backspace}, KeyPosition{0x35, 9, Qt::Key_Escape},
    KeyPosition{0x37, 37, Qt::Key_Control}, KeyPosition{0x38, 50, Qt::Key_Shift},
    KeyPosition{0x39, 66, Qt::Key_CapsLock}, KeyPosition{0x3A, 64, Qt::Key_Alt},
    KeyPosition{0x3B, 133, Qt::Key_Meta}, KeyPosition{0x3C, 62, 0},
    KeyPosition{0x3D, 108, Qt::Key_AltGr}, KeyPosition{0x3E, 134, 0},
    KeyPosition{0x36, 105, 0},
    KeyPosition{0x40, 195, Qt::Key_F17}, KeyPosition{0x41, 91, 0},
    KeyPosition{0x43, 63, Qt::Key_Asterisk}, KeyPosition{0x45, 86, Qt::Key_Plus},
    KeyPosition{0x47, 77, Qt::Key_NumLock}, KeyPosition{0x48, 123, Qt::Key_VolumeUp},
    KeyPosition{0x49, 122, Qt::Key_VolumeDown}, KeyPosition{0x4A, 121, Qt::Key_VolumeMute},
    KeyPosition{0x4B, 106, 0},          KeyPosition{0x4C, 104, Qt::Key_Enter},
    KeyPosition{0x4E, 82, 0},           KeyPosition{0x4F, 196, Qt::Key_F18},
    KeyPosition{0x50, 197, Qt::Key_F19}, KeyPosition{0x51, 125, 0},
    KeyPosition{0x52, 90, 0},  KeyPosition{0x53, 87, 0},  KeyPosition{0x54, 88, 0},
    KeyPosition{0x55, 89, 0},  KeyPosition{0x56, 83, 0},  KeyPosition{0x57, 84, 0},
    KeyPosition{0x58, 85, 0},  KeyPosition{0x59, 79, 0},  KeyPosition{0x5A, 198, Qt::Key_F20},
    KeyPosition{0x5B, 80, 0},  KeyPosition{0x5C, 81, 0},
    KeyPosition{0x60, 71, Qt::Key_F5},  KeyPosition{0x61, 72, Qt::Key_F6},
    KeyPosition{0x62, 73, Qt::Key_F7},  KeyPosition{0x63, 69, Qt::Key_F3},
    KeyPosition{0x64, 74, Qt::Key_F8},  KeyPosition{0x65, 75, Qt::Key_F9},
    KeyPosition{0x67, 95, Qt::Key_F11}, KeyPosition{0x69, 191, Qt::Key_F13},
    KeyPosition{0x6A, 194, Qt::Key_F16}, KeyPosition{0x6B, 192, Qt::Key_F14},
    KeyPosition{0x6D, 76, Qt::Key_F10}, KeyPosition{0x6F, 96, Qt::Key_F12},
    KeyPosition{0x71, 193, Qt::Key_F15}, KeyPosition{0x72, 118, Qt::Key_Insert},
    KeyPosition{0x73, 110, Qt::Key_Home}, KeyPosition{0x74, 112, Qt::Key_PageUp},
    KeyPosition{0x75, 119, Qt::Key_Delete}, KeyPosition{0x76, 70, Qt::Key_F4},
    KeyPosition{0x77, 115, Qt::Key_End}, KeyPosition{0x78, 68, Qt::Key_F2},
    KeyPosition{0x79, 117, Qt::Key_PageDown}, KeyPosition{0x7A, 67, Qt::Key_F1},
    KeyPosition{0x7B, 113, Qt::Key_Left}, KeyPosition{0x7C, 114, Qt::Key_Right},
    KeyPosition{0x7D, 116, Qt::Key_Down}, KeyPosition{0x7E, 111, Qt::Key_Up},
};
// clang-format on

template <typename Match>
const KeyPosition* findPosition(Match match) {
    for (const KeyPosition& position : kKeyPositions) {
        if (match(position)) {
            return &position;
        }
    }
    return nullptr;
}

} // namespace

std::optional<int> KeyCodeTable::virtualKeyCodeForX11KeyCode(uint32_t x11KeyCode) {
    const auto* found =
        findPosition([&](const KeyPosition& p) { return p.x11KeyCode == x11KeyCode; });
    return found ? std::optional<int>(found->virtualKeyCode) : std::nullopt;
}

std::optional<uint32_t> KeyCodeTable::x11KeyCodeForVirtualKeyCode(int virtualKeyCode) {
    const auto* found =
        findPosition([&](const KeyPosition& p) { return p.virtualKeyCode == virtualKeyCode; });
    return found ? std::optional<uint32_t>(found->x11KeyCode) : std::nullopt;
}

std::optional<int> KeyCodeTable::virtualKeyCodeForQtKey(int qtKey) {
    if (qtKey == 0) {
        return std::nullopt;
    }
    const auto* found = findPosition([&](const KeyPosition& p) { return p.qtKey == qtKey; });
    return found ? std::optional<int>(found->virtualKeyCode) : std::nullopt;
}

std::optional<int> KeyCodeTable::qtKeyForVirtualKeyCode(int virtualKeyCode) {
    const auto* found =
        findPosition([&](const KeyPosition& p) { return p.virtualKeyCode == virtualKeyCode; });
    return found && found->qtKey != 0 ? std::optional<int>(found->qtKey) : std::nullopt;
}

std::optional<int> KeyCodeTable::virtualKeyCodeForEvent(uint32_t nativeScanCode, int qtKey) {
    if (nativeScanCode != 0) {
        if (auto code = virtualKeyCodeForX11KeyCode(nativeScanCode)) {
            return code;
        }
    }
    return virtualKeyCodeForQtKey(qtKey);
}

#include "platform/desktop/KeyCodeTable.h"

#include <Qt>

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(KeyCodeTable, BottomLetterRowAndSpaceByPosition) {
    // Z X C V B N and space on a PC keyboard.
    const std::pair<uint32_t, int> positions[] = {{52, 6},  {53, 7},  {54, 8}, {55, 9},
                                                  {56, 11}, {57, 45}, {65, 49}};
    for (const auto& [x11, code] : positions) {
        EXPECT_EQ(KeyCodeTable::virtualKeyCodeForX11KeyCode(x11), code) << x11;
        EXPECT_EQ(KeyCodeTable::x11KeyCodeForVirtualKeyCode(code), x11) << code;
    }
}

TEST(KeyCodeTable, EventsWithoutScanCodesUseTheUsLayout) {
    EXPECT_EQ(KeyCodeTable::virtualKeyCodeForEvent(0, Qt::Key_Z), 6);
    EXPECT_EQ(KeyCodeTable::virtualKeyCodeForEvent(0, Qt::Key_Space), 49);
    // A scan code wins: on an AZERTY layout the key at Q's place types A.
    EXPECT_EQ(KeyCodeTable::virtualKeyCodeForEvent(24, Qt::Key_A), 0x0C);
    EXPECT_EQ(KeyCodeTable::virtualKeyCodeForEvent(0, 0), std::nullopt);
    EXPECT_EQ(KeyCodeTable::virtualKeyCodeForX11KeyCode(255), std::nullopt);
}

TEST(KeyCodeTable, MappingIsOneToOne) {
    std::set<uint32_t> x11Codes;
    for (int code = 0; code < 128; ++code) {
        if (auto x11 = KeyCodeTable::x11KeyCodeForVirtualKeyCode(code)) {
            EXPECT_TRUE(x11Codes.insert(*x11).second) << "X11 code " << *x11 << " used twice";
            EXPECT_EQ(KeyCodeTable::virtualKeyCodeForX11KeyCode(*x11), code);
        }
    }
    EXPECT_GT(x11Codes.size(), 100u);
}

} // namespace

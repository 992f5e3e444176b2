#include "platform/media/Mp4Boxes.h"

#include "platform/audio/FourCharCode.h"

#include "../../audio/file/AudioFileTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

std::string u32(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string box(const char* type, const std::string& payload) {
    return u32(static_cast<uint32_t>(8 + payload.size())) + type + payload;
}

// A box with a 64-bit size field.
std::string largeBox(const char* type, const std::string& payload) {
    return u32(1) + type + u32(0) + u32(static_cast<uint32_t>(16 + payload.size())) + payload;
}

std::string written(const ScratchFolder& folder, const std::string& bytes) {
    const std::string path = folder.path("boxes.m4a");
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

} // namespace

// The walks behind recovery and finishing: a file's top level, a box's
// children, and a search that must stop where the file stops making sense.
TEST(Mp4Boxes, WalksSizesOfEveryKindAndFindsTheBoxAsked) {
    ScratchFolder folder;
    const std::string moov = box("moov", box("mvhd", std::string(12, '\0')) +
                                             box("trak", box("tkhd", std::string(4, '\0'))));
    // A large 'free' box, then the index, then audio that runs to the end
    // of the file (size 0).
    const std::string bytes = box("ftyp", "M4A ") + largeBox("free", std::string(40, 'x')) + moov +
                              u32(0) + "mdat" + std::string(300, 'a');
    const Mp4BoxReader reader(written(folder, bytes));
    ASSERT_TRUE(reader.isOpen());

    const std::vector<Mp4Box> top = reader.topLevel();
    ASSERT_EQ(top.size(), 4u);
    EXPECT_EQ(top[1].headerSize, 16u);
    EXPECT_EQ(top[1].size, 56u);
    EXPECT_EQ(top[3].end(), bytes.size()); // a size of 0 runs to the end

    const auto found = reader.topLevelBox(FourCC("moov"));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->offset, top[2].offset);
    EXPECT_FALSE(reader.topLevelBox(FourCC("udta")).has_value());

    const auto trak = reader.child(*found, FourCC("trak"));
    ASSERT_TRUE(trak.has_value());
    EXPECT_TRUE(reader.child(*trak, FourCC("tkhd")).has_value());
    // Children looked for past a skipped field start after it.
    EXPECT_FALSE(reader.child(*found, FourCC("mvhd"), 20).has_value());
}

TEST(Mp4Boxes, AWalkStopsAtTheFirstBoxThatDoesNotFit) {
    ScratchFolder folder;
    // The second box claims more than the file holds; the one after it is
    // never reached, and a box smaller than its own header ends a walk too.
    const std::string bytes =
        box("ftyp", "M4A ") + u32(5000) + "free" + std::string(8, '\0') + box("moov", "");
    const Mp4BoxReader reader(written(folder, bytes));
    EXPECT_EQ(reader.topLevel().size(), 1u);
    EXPECT_FALSE(reader.topLevelBox(FourCC("moov")).has_value());

    const std::string tiny = box("ftyp", "M4A ") + u32(4) + "free" + box("moov", "");
    const Mp4BoxReader tinyReader(written(folder, tiny));
    EXPECT_EQ(tinyReader.topLevel().size(), 1u);
    EXPECT_FALSE(tinyReader.topLevelBox(FourCC("moov")).has_value());
}

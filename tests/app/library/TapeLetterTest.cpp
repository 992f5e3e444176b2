#include "app/library/TapeLetter.h"

#include <plist/plist.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(TapeColorScheme, CyclesThroughEightSchemes) {
    const QStringList order = {"red",    "blue",   "yellow", "green",
                               "orange", "purple", "black",  "gray"};
    TapeColorScheme scheme(0);
    for (int step = 0; step < 9; ++step) {
        EXPECT_EQ(scheme.colorName(), order[step % 8]);
        scheme.advanceColorScheme();
    }
    const auto last = TapeColorScheme::colorSchemeWithIndex(7);
    const auto next = last->nextColorScheme();
    EXPECT_EQ(next->index(), 0u);
    EXPECT_EQ(next->backgroundColor(), QColor::fromRgbF(1, 0, 0));
    EXPECT_EQ(last->index(), 7u) << "the receiver is unchanged";
    EXPECT_EQ(TapeColorScheme(2).description(), "color: yellow");
    EXPECT_EQ(TapeColorScheme::colorNameForIndex(8), QString());
    EXPECT_EQ(TapeColorScheme::indexForColorName("Purple"), 5u);
}

TEST(TapeLetter, CopiesShareTheScheme) {
    const auto letter = TapeLetter::tapeLetter("A");
    EXPECT_EQ(letter->colorScheme()->colorName(), "red");
    const auto copy = letter->copy();
    copy->colorScheme()->advanceColorScheme();
    EXPECT_EQ(letter->colorScheme()->colorName(), "blue") << "the scheme is shared";

    const auto next = letter->tapeLetterWithNextColorScheme();
    EXPECT_EQ(next->colorScheme()->colorName(), "yellow");
    EXPECT_EQ(letter->colorScheme()->colorName(), "blue") << "unchanged";
    EXPECT_EQ(next->letter(), "A");
}

TEST(TapeLetter, ArchiveRoundTrip) {
    const TapeLetter letter("B", TapeColorScheme::colorSchemeWithIndex(3));
    const QByteArray data = letter.archivedData();
    EXPECT_TRUE(data.startsWith("bplist00"));
    const auto back = TapeLetter::unarchive(data);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->letter(), "B");
    EXPECT_EQ(back->colorScheme()->index(), 3u);
    EXPECT_EQ(back->colorScheme()->backgroundColor(), QColor::fromRgbF(0.0f, 0.7f, 0.0f));
    EXPECT_EQ(back->colorScheme()->letterColor(), QColor(Qt::white));
    EXPECT_EQ(back->colorScheme()->titleColor(), QColor::fromRgbF(0.0f, 0.5f, 0.0f));
}

// A letter changed in place, or its scheme's index, archives as it now is.
TEST(TapeLetter, ArchivesFollowEveryChange) {
    auto scheme = std::make_shared<TapeColorScheme>(2);
    TapeLetter letter("C", scheme);
    const auto unarchived = [&] { return TapeLetter::unarchive(letter.archivedData()); };
    EXPECT_EQ(unarchived()->letter(), "C");
    letter.setLetter("D");
    EXPECT_EQ(unarchived()->letter(), "D");
    scheme->setIndex(6);
    EXPECT_EQ(unarchived()->colorScheme()->index(), 6u);
    letter.setColorScheme(nullptr);
    EXPECT_EQ(unarchived()->letter(), "D");
    EXPECT_EQ(TapeLetter("C", scheme).archivedData(), [&] {
        letter.setLetter("C");
        letter.setColorScheme(scheme);
        return letter.archivedData();
    }());
}

// Our archive has the original layout: a keyed-archiver dictionary whose
// $top names the letter object, with classes and UIDs.
TEST(TapeLetter, ArchiveLayout) {
    const QByteArray data =
        TapeLetter("Q", TapeColorScheme::colorSchemeWithIndex(5)).archivedData();
    plist_t root = nullptr;
    plist_from_bin(data.constData(), static_cast<uint32_t>(data.size()), &root);
    ASSERT_NE(root, nullptr);
    char* archiver = nullptr;
    plist_get_string_val(plist_dict_get_item(root, "$archiver"), &archiver);
    EXPECT_STREQ(archiver, "NSKeyedArchiver");
    std::free(archiver);
    uint64_t version = 0;
    plist_get_uint_val(plist_dict_get_item(root, "$version"), &version);
    EXPECT_EQ(version, 100000u);
    plist_t top = plist_dict_get_item(root, "$top");
    uint64_t uid = 0;
    plist_get_uid_val(plist_dict_get_item(top, "letter"), &uid);
    plist_t objects = plist_dict_get_item(root, "$objects");
    plist_t letter = plist_array_get_item(objects, static_cast<uint32_t>(uid));
    ASSERT_EQ(plist_get_node_type(letter), PLIST_DICT);
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(letter, "colorScheme")), PLIST_UID);
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(letter, "letter")), PLIST_UID);
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(letter, "$class")), PLIST_UID);
    plist_free(root);
}

// An archive put together the way the original platform writes it, with a
// mutable string for the letter.
QByteArray handMadeArchive(uint64_t index) {
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_t letter = plist_new_dict();
    plist_dict_set_item(letter, "$class", plist_new_uid(6));
    plist_dict_set_item(letter, "colorScheme", plist_new_uid(2));
    plist_dict_set_item(letter, "letter", plist_new_uid(4));
    plist_array_append_item(objects, letter);
    plist_t scheme = plist_new_dict();
    plist_dict_set_item(scheme, "$class", plist_new_uid(3));
    plist_dict_set_item(scheme, "index", plist_new_uint(index));
    plist_array_append_item(objects, scheme);
    auto classInfo = [](const char* name) {
        plist_t info = plist_new_dict();
        plist_t classes = plist_new_array();
        plist_array_append_item(classes, plist_new_string(name));
        plist_array_append_item(classes, plist_new_string("NSObject"));
        plist_dict_set_item(info, "$classes", classes);
        plist_dict_set_item(info, "$classname", plist_new_string(name));
        return info;
    };
    plist_array_append_item(objects, classInfo("TapeColorScheme"));
    plist_t string = plist_new_dict();
    plist_dict_set_item(string, "NS.string", plist_new_string("Z"));
    plist_dict_set_item(string, "$class", plist_new_uid(5));
    plist_array_append_item(objects, string);
    plist_array_append_item(objects, classInfo("NSMutableString"));
    plist_array_append_item(objects, classInfo("TapeLetter"));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "letter", plist_new_uid(1));
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_dict_set_item(root, "$objects", objects);
    plist_dict_set_item(root, "$top", top);
    plist_dict_set_item(root, "$version", plist_new_uint(100000));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    QByteArray data(bytes, length);
    std::free(bytes);
    plist_free(root);
    return data;
}

TEST(TapeLetter, ReadsTheOriginalLayout) {
    const auto letter = TapeLetter::unarchive(handMadeArchive(6));
    ASSERT_NE(letter, nullptr);
    EXPECT_EQ(letter->letter(), "Z");
    EXPECT_EQ(letter->colorScheme()->colorName(), "black");
}

TEST(TapeLetter, DamagedArchivesGiveNothing) {
    EXPECT_EQ(TapeLetter::unarchive(QByteArray()), nullptr);
    EXPECT_EQ(TapeLetter::unarchive("bplist00 but not really"), nullptr);
    QByteArray archive = handMadeArchive(2);
    for (int cut = 8; cut < archive.size(); cut += 7) {
        TapeLetter::unarchive(archive.left(cut)); // must not crash
    }
    for (int i = 8; i < archive.size(); ++i) {
        QByteArray damaged = archive;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
        TapeLetter::unarchive(damaged); // must not crash
    }
    // An index outside the table keeps the letter with the first scheme.
    const auto odd = TapeLetter::unarchive(handMadeArchive(99));
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(odd->colorScheme()->index(), 0u);
}

} // namespace

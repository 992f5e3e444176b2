#include "app/library/MP4Atom.h"

#include "audio/format/InternalInconsistencyException.h"
#include "platform/audio/FourCharCode.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray be32(uint32_t v) {
    QByteArray b(4, 0);
    b[0] = char(v >> 24);
    b[1] = char(v >> 16);
    b[2] = char(v >> 8);
    b[3] = char(v);
    return b;
}

QByteArray box(const char* type, const QByteArray& payload) {
    return be32(8 + payload.size()) + QByteArray(type, 4) + payload;
}

// A file made of the given bytes, open for reading and writing.
class AtomFile {
public:
    explicit AtomFile(const QByteArray& bytes) {
        mPath = mFolder.filePath("atoms.mp4");
        QFile file(mPath);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        file.close();
        mFd = ::open(QFile::encodeName(mPath).constData(), O_RDWR);
    }
    ~AtomFile() { ::close(mFd); }
    int fd() const { return mFd; }
    QByteArray bytes() const {
        QFile file(mPath);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

private:
    QTemporaryDir mFolder;
    QString mPath;
    int mFd = -1;
};

TEST(MP4MemoryAtom, LengthAndSerialisation) {
    MP4MemoryAtom parent(FourCC("test"), QByteArray("abcd"));
    EXPECT_EQ(parent.addChild(MP4MemoryAtom(FourCC("one_"), QByteArray(12, 'x'))), 20);
    EXPECT_EQ(parent.addChild(MP4MemoryAtom(FourCC("two_"), QByteArray(22, 'y'))), 30);
    EXPECT_EQ(parent.length(), 62u);
    const QByteArray data = parent.data();
    ASSERT_EQ(data.size(), 62);
    EXPECT_EQ(data.left(8), be32(62) + "test");
    EXPECT_EQ(data.mid(8, 4), "abcd");
    EXPECT_EQ(parent.replaceChildAtomOfType(FourCC("one_"), MP4MemoryAtom(FourCC("one_"), {})),
              -12);
    EXPECT_EQ(parent.description(), "{(50),('test')}");
    EXPECT_THROW(parent.setLength(3), InternalInconsistencyException);
    EXPECT_THROW(parent.offset(), InternalInconsistencyException);
}

TEST(MP4FileAtom, ReplacingWithAShorterChildShrinksEverything) {
    const QByteArray tail = box("mdat", QByteArray(5000, 'm'));
    AtomFile file(box("moov", box("aaaa", QByteArray(32, 'a')) + box("bbbb", QByteArray(4, 'b'))) +
                  tail);
    auto moov = MP4Atom::fileAtomWithType(FourCC("moov"), file.fd());
    ASSERT_TRUE(moov);
    const auto before = file.bytes().size();
    const int32_t d = moov->replaceChildAtomOfType(
        FourCC("aaaa"), MP4MemoryAtom(FourCC("aaaa"), QByteArray(22, 'A')));
    EXPECT_EQ(d, -10);
    EXPECT_EQ(static_cast<uint32_t>(d), 0xFFFFFFF6u);
    const QByteArray after = file.bytes();
    EXPECT_EQ(after.size(), before - 10);
    EXPECT_TRUE(after.endsWith(tail)) << "everything after the child is kept";
    EXPECT_EQ(moov->length(), 8u + 30 + 12);
    EXPECT_EQ(after.mid(16, 22), QByteArray(22, 'A'));

    // Same length: rewritten in place.
    EXPECT_EQ(moov->replaceChildAtomOfType(FourCC("bbbb"), MP4MemoryAtom(FourCC("bbbb"), "BBBB")),
              0);
    EXPECT_EQ(file.bytes().size(), after.size());
    EXPECT_TRUE(file.bytes().contains("bbbbBBBB"));
}

TEST(MP4FileAtom, AddingAtTheEndOfTheFileAppends) {
    AtomFile file(box("ftyp", "M4A ") + box("moov", box("mvhd", QByteArray(12, 0))));
    auto moov = MP4Atom::fileAtomWithType(FourCC("moov"), file.fd());
    EXPECT_EQ(moov->addChild(MP4MemoryAtom(FourCC("udta"), {})), 8);
    EXPECT_TRUE(file.bytes().endsWith(be32(8) + "udta"));
    EXPECT_EQ(moov->length(), 8u + 20 + 8);
    EXPECT_TRUE(moov->childAtomWithType(FourCC("udta")));
}

TEST(MP4FileAtom, WalksAndScans) {
    // 'meta' children start after its version word; an 'esds' hides inside
    // an 'mp4a' entry that has fields before its children.
    const QByteArray entry = box("mp4a", QByteArray(28, 0) + box("esds", QByteArray(10, 1)));
    AtomFile file(box("moov", box("meta", be32(0) + box("ilst", {})) +
                                  box("stsd", be32(0) + be32(1) + entry)));
    auto moov = MP4Atom::fileAtomWithType(FourCC("moov"), file.fd());
    auto meta = moov->childFileAtomWithType(FourCC("meta"));
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->childDataOffset(), 12u);
    EXPECT_TRUE(meta->childAtomWithType(FourCC("ilst")));
    auto stsd = moov->childFileAtomWithType(FourCC("stsd"));
    auto mp4a = stsd->findChildFileAtomWithType(FourCC("mp4a"));
    ASSERT_TRUE(mp4a);
    EXPECT_FALSE(mp4a->childAtomWithType(FourCC("esds"))) << "the ordered walk cannot enter";
    auto esds = mp4a->findChildFileAtomWithType(FourCC("esds"));
    ASSERT_TRUE(esds);
    EXPECT_EQ(esds->childData(), QByteArray(10, 1));
}

TEST(MP4FileAtom, SixtyFourBitSizesAndOpenEndedAtoms) {
    // moov with a 64-bit size field, then an mdat of size 0 running to the end.
    const QByteArray inner = box("mvhd", QByteArray(4, 0));
    QByteArray moov = be32(1) + "moov" + be32(0) + be32(16 + inner.size()) + inner;
    AtomFile file(moov + be32(0) + "mdat" + QByteArray(100, 'z'));
    auto found = MP4Atom::fileAtomWithType(FourCC("moov"), file.fd());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->extent(), static_cast<uint64_t>(moov.size()));
    EXPECT_TRUE(found->childAtomWithType(FourCC("mvhd")));
    auto mdat = MP4Atom::fileAtomWithType(FourCC("mdat"), file.fd());
    ASSERT_TRUE(mdat);
    EXPECT_EQ(mdat->extent(), 108u);
    const QByteArray before = file.bytes();
    EXPECT_THROW(found->addChild(MP4MemoryAtom(FourCC("udta"), {})),
                 InternalInconsistencyException);
    EXPECT_EQ(file.bytes(), before) << "a refused edit leaves the file as it was";
}

TEST(MP4FileAtom, DamagedSizesNeverHang) {
    AtomFile zeros(QByteArray(64, 0));
    EXPECT_FALSE(MP4Atom::fileAtomWithType(FourCC("moov"), zeros.fd()));
    AtomFile past(be32(0x7FFFFFFF) + "free" + box("moov", {}));
    EXPECT_FALSE(MP4Atom::fileAtomWithType(FourCC("moov"), past.fd()));
    AtomFile tiny(be32(3) + "free" + box("moov", {}));
    EXPECT_FALSE(MP4Atom::fileAtomWithType(FourCC("moov"), tiny.fd()));
}

TEST(FileInsertion, InsertAndReduceMoveTheTail) {
    QByteArray content;
    for (int i = 0; i < 20000; ++i) {
        content.append(char('a' + i % 26));
    }
    AtomFile file(content);
    EXPECT_EQ(velk_insertdata(file.fd(), "", 0, 10), 0);
    EXPECT_EQ(file.bytes(), content);
    EXPECT_EQ(velk_insertdata(file.fd(), "XYZ", 3, 9000), 3);
    QByteArray expected = content;
    expected.insert(9000, "XYZ");
    EXPECT_EQ(file.bytes(), expected);
    EXPECT_TRUE(velk_reducefile(file.fd(), 9000, 3));
    EXPECT_EQ(file.bytes(), content);
    EXPECT_FALSE(velk_reducefile(file.fd(), 19999, 5)) << "past the end";
    EXPECT_EQ(file.bytes(), content);

    lseek(file.fd(), 5, SEEK_SET);
    insertDataAtCurrentPosition(file.fd(), "12");
    lseek(file.fd(), 5, SEEK_SET);
    removeDataOfLengthAtCurrentPosition(file.fd(), 2);
    EXPECT_EQ(file.bytes(), content);
}

} // namespace

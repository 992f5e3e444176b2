#include "app/library/MP4Tags.h"

#include "audio/format/InternalInconsistencyException.h"
#include "platform/audio/FourCharCode.h"
#include "platform/desktop/FileNames.h"

#include <QBuffer>

#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

const char* const MP4Tags::TapeLetterUUID = "400006E8-76A0-48EC-A380-DE5F9E5CAB6C";

namespace {

// The first byte of the text items is 0xA9, the copyright sign.
constexpr uint32_t itemCode(char b, char c, char d) {
    return 0xA9000000u | (static_cast<uint32_t>(static_cast<unsigned char>(b)) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(c)) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(d));
}

void logError(const char* message) {
    std::fprintf(stderr, "MP4Tags : (ERROR) %s\n", message);
}

// Refuses, before anything changes, an edit of containers the editor could
// not keep consistent: a 64-bit size, or children that do not tile the atom.
void requireEditable(std::initializer_list<const MP4FileAtom*> atoms) {
    for (const MP4FileAtom* atom : atoms) {
        if (atom && !atom->hasPlainSize()) {
            throw InternalInconsistencyException(
                "The file's metadata uses 64-bit sizes, which cannot be edited in place", "MP4Tags",
                0);
        }
        if (atom && !atom->isWellFormedContainer()) {
            throw InternalInconsistencyException("The file's metadata is damaged", "MP4Tags", 0);
        }
    }
}

// Finds a child just made or known to be there; its absence means damage.
std::unique_ptr<MP4FileAtom> requireChild(const MP4FileAtom& parent, uint32_t type) {
    auto child = parent.childFileAtomWithType(type);
    if (!child) {
        throw InternalInconsistencyException("The file's metadata is damaged", "MP4Tags", 0);
    }
    return child;
}

// The offset of the last top-level 'mdat' (0 when there is none), found also
// when its size runs past the end of a cut-off file.
uint64_t lastMdatOffset(int fileHandle) {
    const MP4FileAtom probe(0, fileHandle);
    const uint64_t end = probe.fileLength();
    uint64_t last = 0;
    for (uint64_t at = 0; at < end;) {
        const uint64_t found = probe.offsetOfChildAtom(FourCC("mdat"), at, end);
        if (found == MP4Atom::NotFound) {
            break;
        }
        last = found;
        const MP4FileAtom mdat(found, fileHandle);
        const uint64_t size = mdat.extent();
        if (size < 8 || size > end - found) {
            break;
        }
        at = found + size;
    }
    return last;
}

// The sample table of every track ('trak'/'mdia'/'minf'/'stbl'); nullptr for
// a track without one.
std::vector<std::unique_ptr<MP4FileAtom>> sampleTables(const MP4FileAtom& moov) {
    std::vector<std::unique_ptr<MP4FileAtom>> tables;
    const uint64_t end = moov.offset() + moov.extent();
    for (uint64_t at = moov.offset() + moov.childDataOffset(); at < end;) {
        const uint64_t found = moov.offsetOfChildAtom(FourCC("trak"), at, end);
        if (found == MP4Atom::NotFound) {
            break;
        }
        const MP4FileAtom trak(found, moov.fileHandle());
        const auto mdia = trak.childFileAtomWithType(FourCC("mdia"));
        const auto minf = mdia ? mdia->childFileAtomWithType(FourCC("minf")) : nullptr;
        auto stbl = minf ? minf->childFileAtomWithType(FourCC("stbl")) : nullptr;
        if (stbl) {
            requireEditable({&trak, mdia.get(), minf.get()});
        }
        tables.push_back(std::move(stbl));
        at = found + std::max<uint64_t>(trak.extent(), 8);
    }
    return tables;
}

// Refuses, before anything changes, an edit that would move audio listed in
// a 32-bit chunk offset table ('stco') past 4 GiB: this editor moves the
// audio in place and cannot widen the table.
void refuseOffsetsPast4GiB(const MP4FileAtom& moov, uint64_t from, uint64_t growth) {
    for (const auto& stbl : sampleTables(moov)) {
        const auto stco = stbl ? stbl->childFileAtomWithType(FourCC("stco")) : nullptr;
        if (!stco) {
            continue;
        }
        const QByteArray payload = stco->childData();
        for (qsizetype at = 8; at + 4 <= payload.size(); at += 4) {
            const uint64_t offset = mp4ReadUInt32(payload, at);
            if (offset >= from && offset + growth > std::numeric_limits<uint32_t>::max()) {
                throw InternalInconsistencyException(
                    "The label would move the audio past 4 GiB, further than the file's 32-bit "
                    "chunk offsets reach; the file is left as it is",
                    "MP4Tags", 0);
            }
        }
    }
}

} // namespace

uint32_t MP4Tags::itemTitle() {
    return itemCode('n', 'a', 'm');
}
uint32_t MP4Tags::itemArtist() {
    return itemCode('A', 'R', 'T');
}
uint32_t MP4Tags::itemAlbum() {
    return itemCode('a', 'l', 'b');
}
uint32_t MP4Tags::itemLyrics() {
    return itemCode('l', 'y', 'r');
}
uint32_t MP4Tags::itemComment() {
    return itemCode('c', 'm', 't');
}
uint32_t MP4Tags::itemReleaseDate() {
    return itemCode('d', 'a', 'y');
}

std::unique_ptr<MP4Tags> MP4Tags::withMP4File(const QString& path) {
    const int fd = ::open(FileNames::encode(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    return std::unique_ptr<MP4Tags>(new MP4Tags(fd));
}

std::unique_ptr<MP4Tags> MP4Tags::forReading(const QString& path) {
    // Never blocks on a FIFO or device that carries a tape's name.
    const int fd = ::open(FileNames::encode(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status {};
    if (fd < 0) {
        return nullptr;
    }
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<MP4Tags>(new MP4Tags(fd));
}

std::unique_ptr<MP4Tags> MP4Tags::forReadingDescriptor(int fd) {
    auto tags = std::unique_ptr<MP4Tags>(new MP4Tags(fd));
    tags->mOwnsHandle = false;
    return tags;
}

MP4Tags::~MP4Tags() {
    if (mFileHandle >= 0 && mOwnsHandle) {
        ::close(mFileHandle);
    }
}

// Reading

std::optional<QString> MP4Tags::text(uint32_t item) const {
    const QVariant value = readAtom(item);
    return value.typeId() == QMetaType::QString ? std::optional<QString>(value.toString())
                                                : std::nullopt;
}

std::optional<QImage> MP4Tags::coverArt() const {
    const QVariant value = readAtom(FourCC("covr"));
    return value.typeId() == QMetaType::QImage ? std::optional<QImage>(value.value<QImage>())
                                               : std::nullopt;
}

std::shared_ptr<TapeLetter> MP4Tags::tapeLetter() const {
    const QVariant value = readUUIDAtom(QString::fromLatin1(TapeLetterUUID));
    return value.typeId() == QMetaType::QByteArray ? TapeLetter::unarchive(value.toByteArray())
                                                   : nullptr;
}

QVariant MP4Tags::readAtom(uint32_t item) const {
    const MP4ReadCache cache(mFileHandle);
    try {
        const auto moov = MP4Atom::fileAtomWithType(FourCC("moov"), mFileHandle);
        const auto udta = moov ? moov->childFileAtomWithType(FourCC("udta")) : nullptr;
        const auto meta = udta ? udta->childFileAtomWithType(FourCC("meta")) : nullptr;
        const auto ilst = meta ? meta->childFileAtomWithType(FourCC("ilst")) : nullptr;
        const auto atom = ilst ? ilst->childFileAtomWithType(item) : nullptr;
        const auto data = atom ? atom->childFileAtomWithType(FourCC("data")) : nullptr;
        if (!data) {
            return {};
        }
        uint32_t flags = 0;
        const QByteArray value = readDataAtom(*data, &flags);
        return valueForData(value, flags);
    } catch (const InternalInconsistencyException&) {
        return {}; // a damaged file reads as missing items
    }
}

std::map<uint32_t, QVariant> MP4Tags::readAllAtoms() const {
    std::map<uint32_t, QVariant> items;
    const MP4ReadCache cache(mFileHandle);
    try {
        const auto moov = MP4Atom::fileAtomWithType(FourCC("moov"), mFileHandle);
        const auto udta = moov ? moov->childFileAtomWithType(FourCC("udta")) : nullptr;
        const auto meta = udta ? udta->childFileAtomWithType(FourCC("meta")) : nullptr;
        const auto ilst = meta ? meta->childFileAtomWithType(FourCC("ilst")) : nullptr;
        if (!ilst || !ilst->isWellFormedContainer()) {
            return items;
        }
        // The whole list is read at once and walked in memory.
        const QByteArray list = ilst->childData();
        qsizetype at = 0;
        while (at + 8 <= list.size()) {
            const uint32_t size = mp4ReadUInt32(list, at);
            const uint32_t item = mp4ReadUInt32(list, at + 4);
            if (size < 8 || size > list.size() - at) {
                break;
            }
            // The item's first 'data' child.
            qsizetype child = at + 8;
            while (child + 8 <= at + size) {
                const uint32_t childSize = mp4ReadUInt32(list, child);
                if (childSize < 8 || childSize > at + size - child) {
                    break;
                }
                if (mp4ReadUInt32(list, child + 4) == FourCC("data")) {
                    const uint32_t type = mp4ReadUInt32(list, child + 8);
                    const bool image =
                        (type & 0x00FFFFFF) == TypeJPEG || (type & 0x00FFFFFF) == TypePNG;
                    if (childSize >= 16 && !items.count(item) && !image) {
                        items[item] = valueForData(list.mid(child + 16, childSize - 16), type);
                    }
                    break;
                }
                child += childSize;
            }
            at += size;
        }
    } catch (const InternalInconsistencyException&) {
    }
    return items;
}

QVariant MP4Tags::readUUIDAtom(const QString& uuid) const {
    const MP4ReadCache cache(mFileHandle);
    try {
        const auto moov = MP4Atom::fileAtomWithType(FourCC("moov"), mFileHandle);
        const auto udta = moov ? moov->childFileAtomWithType(FourCC("udta")) : nullptr;
        const auto atom = udta ? udta->childFileAtomWithType(FourCC("uuid")) : nullptr;
        if (!atom) {
            return {};
        }
        const QByteArray payload = atom->childData();
        if (payload.size() < 16 || payload.left(16) != dataWithUUID(uuid)) {
            return {};
        }
        const MP4FileAtom items(atom->offset(), mFileHandle);
        const uint64_t found =
            items.offsetOfChildAtom(FourCC("data"), atom->offset() + atom->childDataOffset() + 16,
                                    atom->offset() + atom->extent());
        if (found == MP4Atom::NotFound) {
            return {};
        }
        uint32_t flags = 0;
        const QByteArray value = readDataAtom(MP4FileAtom(found, mFileHandle), &flags);
        return valueForData(value, flags);
    } catch (const InternalInconsistencyException&) {
        return {};
    }
}

QByteArray MP4Tags::readDataAtom(const MP4Atom& atom, uint32_t* flags) {
    if (!flags) {
        throw InternalInconsistencyException("Invalid parameter not satisfying: flags", "MP4Tags",
                                             0);
    }
    if (atom.type() != FourCC("data")) {
        throw InternalInconsistencyException(
            "Invalid parameter not satisfying: [atom type] == 'data'", "MP4Tags", 0);
    }
    const QByteArray payload = atom.childData();
    if (payload.size() < 8) {
        *flags = ~0u; // no type: reads as nothing
        return {};
    }
    *flags = mp4ReadUInt32(payload, 0);
    return payload.mid(8);
}

QVariant MP4Tags::valueForData(const QByteArray& data, uint32_t type) {
    switch (type & 0x00FFFFFF) {
    case TypeText:
        return QString::fromUtf8(data);
    case TypeJPEG:
    case TypePNG: {
        QImage image;
        if (image.loadFromData(data)) {
            return image;
        }
        return {};
    }
    case TypeBinary:
        return data;
    default:
        return {};
    }
}

// Writing

MP4MemoryAtom MP4Tags::createDataAtom(uint32_t item, const QByteArray& data, uint32_t type,
                                      const std::optional<QString>& uuid) {
    MP4MemoryAtom dataAtom(FourCC("data"), mp4UInt32(type) + mp4UInt32(0) + data);
    MP4MemoryAtom itemAtom(item,
                           item == FourCC("uuid") && uuid ? dataWithUUID(*uuid) : QByteArray());
    itemAtom.addChild(dataAtom);
    return itemAtom;
}

QByteArray MP4Tags::pngData(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

void MP4Tags::setCoverArt(const QImage& image) {
    setData(pngData(image), FourCC("covr"), TypePNG);
}

void MP4Tags::setTapeLetter(const TapeLetter& letter) {
    setUserData(letter.archivedData(), QString::fromLatin1(TapeLetterUUID), TypeBinary);
}

void MP4Tags::setUserData(const QByteArray& data, const QString& uuid, uint32_t type) {
    setData(data, FourCC("uuid"), type, uuid);
}

void MP4Tags::setData(const QByteArray& data, uint32_t item, uint32_t type,
                      const std::optional<QString>& uuid) {
    const bool isUUID = item == FourCC("uuid");
    if (!isUUID && uuid) {
        throw InternalInconsistencyException("Invalid parameter not satisfying: uuid == nil",
                                             "MP4Tags", 0);
    }
    if (isUUID && !uuid) {
        throw InternalInconsistencyException("Invalid parameter not satisfying: uuid != nil",
                                             "MP4Tags", 0);
    }
    const MP4ReadCache cache(mFileHandle); // every write through the editor drops it
    const auto moov = MP4Atom::fileAtomWithType(FourCC("moov"), mFileHandle);
    if (!moov) {
        logError("No moov atom found in file!");
        throw InternalInconsistencyException("No moov atom found in file!", "MP4Tags", 0);
    }
    // Everything whose size may change is checked before anything changes.
    auto udta = moov->childFileAtomWithType(FourCC("udta"));
    auto meta = udta ? udta->childFileAtomWithType(FourCC("meta")) : nullptr;
    auto ilst = meta ? meta->childFileAtomWithType(FourCC("ilst")) : nullptr;
    requireEditable({moov.get(), udta.get(), meta.get(), ilst.get()});
    // Audio after the metadata moves with it: every track's chunk offsets
    // must be there to follow, or nothing is changed.
    const uint64_t moovEnd = moov->offset() + moov->extent();
    const bool audioFollows = lastMdatOffset(mFileHandle) > moov->offset();
    if (audioFollows) {
        for (const auto& stbl : sampleTables(*moov)) {
            if (!stbl || (!stbl->childFileAtomWithType(FourCC("stco")) &&
                          !stbl->childFileAtomWithType(FourCC("co64")))) {
                throw InternalInconsistencyException(
                    "A track of the file has no chunk offsets to keep", "MP4Tags", 0);
            }
            requireEditable({stbl.get()});
        }
        // The item with its headers, and at most a new 'udta', 'meta', 'hdlr'
        // and 'ilst' around it.
        refuseOffsetsPast4GiB(*moov, moovEnd, static_cast<uint64_t>(data.size()) + 1024);
    }

    int32_t g = 0;
    if (!udta) {
        g += moov->addChild(MP4MemoryAtom(FourCC("udta"), {}));
        udta = requireChild(*moov, FourCC("udta"));
    }
    int32_t d = 0;
    if (!isUUID) {
        const MP4MemoryAtom itemAtom = createDataAtom(item, data, type);
        if (!meta) {
            const int32_t grown = udta->addChild(MP4MemoryAtom(FourCC("meta"), mp4UInt32(0)));
            moov->setLength(moov->length() + grown);
            g += grown;
            meta = requireChild(*udta, FourCC("meta"));
        }
        if (!meta->childFileAtomWithType(FourCC("hdlr"))) {
            QByteArray handler(8, 0);
            handler.append("mdirappl");
            handler.append(QByteArray(10, 0));
            const int32_t grown = meta->addChild(MP4MemoryAtom(FourCC("hdlr"), handler));
            udta->setLength(udta->length() + grown);
            moov->setLength(moov->length() + grown);
            g += grown;
        }
        ilst = meta->childFileAtomWithType(FourCC("ilst"));
        if (!ilst) {
            const int32_t grown = meta->addChild(MP4MemoryAtom(FourCC("ilst"), {}));
            udta->setLength(udta->length() + grown);
            moov->setLength(moov->length() + grown);
            g += grown;
            ilst = requireChild(*meta, FourCC("ilst"));
        }
        d = ilst->replaceChildAtomOfType(item, itemAtom);
        meta->setLength(meta->length() + d);
        udta->setLength(udta->length() + d);
    } else {
        d = udta->replaceChildAtomOfType(FourCC("uuid"), createDataAtom(item, data, type, uuid));
    }
    moov->setLength(moov->length() + d);
    if (audioFollows) {
        fixChunkOffsets(g + d, moovEnd);
    }
}

void MP4Tags::fixStco(int32_t delta) {
    fixChunkOffsets(delta, 0);
}

void MP4Tags::fixChunkOffsets(int32_t delta, uint64_t from) {
    if (delta == 0) {
        return;
    }
    const auto moov = MP4Atom::fileAtomWithType(FourCC("moov"), mFileHandle);
    bool any = false;
    for (const auto& stbl :
         moov ? sampleTables(*moov) : std::vector<std::unique_ptr<MP4FileAtom>>{}) {
        if (!stbl) {
            continue;
        }
        if (const auto stco = stbl->childFileAtomWithType(FourCC("stco"))) {
            stbl->replaceChildAtomOfType(FourCC("stco"), fixStco32(*stco, delta, from));
            any = true;
        } else if (const auto co64 = stbl->childFileAtomWithType(FourCC("co64"))) {
            stbl->replaceChildAtomOfType(FourCC("co64"), fixStco64(*co64, delta, from));
            any = true;
        }
    }
    if (!any) {
        logError("Could not find stco or co64");
    }
}

MP4MemoryAtom MP4Tags::fixStco32(const MP4Atom& table, int32_t delta, uint64_t from) {
    QByteArray payload = table.childData();
    for (qsizetype at = 8; at + 4 <= payload.size(); at += 4) {
        if (mp4ReadUInt32(payload, at) < from) {
            continue; // audio in front of the metadata stays where it is
        }
        const int64_t value = int64_t{mp4ReadUInt32(payload, at)} + delta;
        if (value < 0 || value > int64_t{std::numeric_limits<uint32_t>::max()}) {
            throw InternalInconsistencyException(
                "A chunk offset would leave the 32-bit range of the file's chunk offset table",
                "MP4Tags", 0);
        }
        payload.replace(at, 4, mp4UInt32(static_cast<uint32_t>(value)));
    }
    return MP4MemoryAtom(table.type(), payload);
}

MP4MemoryAtom MP4Tags::fixStco64(const MP4Atom& table, int32_t delta, uint64_t from) {
    QByteArray payload = table.childData();
    for (qsizetype at = 8; at + 8 <= payload.size(); at += 8) {
        const uint64_t old =
            uint64_t{mp4ReadUInt32(payload, at)} << 32 | mp4ReadUInt32(payload, at + 4);
        if (old < from) {
            continue;
        }
        const uint64_t value = old + static_cast<uint64_t>(static_cast<int64_t>(delta));
        payload.replace(at, 4, mp4UInt32(static_cast<uint32_t>(value >> 32)));
        payload.replace(at + 4, 4, mp4UInt32(static_cast<uint32_t>(value)));
    }
    return MP4MemoryAtom(table.type(), payload);
}

#include "app/library/MP4MovieBox.h"

#include "app/library/MP4Atom.h"
#include "audio/format/InternalInconsistencyException.h"
#include "platform/audio/FourCharCode.h"

#include <algorithm>
#include <limits>

namespace {

[[noreturn]] void damaged(const char* what) {
    throw InternalInconsistencyException(std::string("The file's movie box is damaged: ") + what,
                                         "MP4MovieBox", __LINE__);
}

// The boxes a label commit opens, each only where it belongs: the way down
// to the sample tables and to the item list. Everything else is kept whole,
// so the depth is bounded whatever a file holds. 'meta' carries a version
// word before its children.
bool isOpened(uint32_t parent, uint32_t type) {
    switch (parent) {
    case 0:
        return type == FourCC("moov");
    case FourCC("moov"):
        return type == FourCC("trak") || type == FourCC("udta");
    case FourCC("trak"):
        return type == FourCC("mdia");
    case FourCC("mdia"):
        return type == FourCC("minf");
    case FourCC("minf"):
        return type == FourCC("stbl");
    case FourCC("udta"):
        return type == FourCC("meta");
    case FourCC("meta"):
        return type == FourCC("ilst");
    default:
        return false;
    }
}

// Whether the children starting at `at` tile `payload` (allowing the few
// trailing zero bytes some writers end a container with).
bool tiles(const QByteArray& payload, qsizetype at) {
    while (payload.size() - at >= 8) {
        const uint32_t size = mp4ReadUInt32(payload, at);
        if (size < 8 || size > payload.size() - at) {
            return false;
        }
        at += size;
    }
    return std::all_of(payload.begin() + at, payload.end(), [](char c) { return c == 0; });
}

uint64_t readUInt64(const QByteArray& bytes, qsizetype at) {
    return uint64_t{mp4ReadUInt32(bytes, at)} << 32 | mp4ReadUInt32(bytes, at + 4);
}

void writeUInt64(QByteArray& bytes, qsizetype at, uint64_t value) {
    bytes.replace(at, 4, mp4UInt32(static_cast<uint32_t>(value >> 32)));
    bytes.replace(at + 4, 4, mp4UInt32(static_cast<uint32_t>(value)));
}

} // namespace

MP4MovieBox::MP4MovieBox(uint32_t type, QByteArray head, bool container)
    : mType(type), mHead(std::move(head)), mContainer(container) {}

MP4MovieBox MP4MovieBox::parse(const QByteArray& bytes) {
    return parse(bytes, 0);
}

MP4MovieBox MP4MovieBox::parse(const QByteArray& bytes, uint32_t parent) {
    if (bytes.size() < 8) {
        damaged("a box shorter than its header");
    }
    const uint32_t size = mp4ReadUInt32(bytes, 0);
    if (size < 8 || size != bytes.size()) {
        damaged("a size the editor cannot follow (64-bit, zero or wrong)");
    }
    const uint32_t type = mp4ReadUInt32(bytes, 4);
    const QByteArray payload = bytes.mid(8);
    if (!isOpened(parent, type)) {
        return MP4MovieBox(type, payload, false);
    }
    qsizetype at = 0;
    if (type == FourCC("meta")) {
        // A full box; some writers leave out the version word.
        at = tiles(payload, 4) ? 4 : tiles(payload, 0) ? 0 : -1;
        if (at < 0) {
            damaged("'meta'");
        }
    } else if (!tiles(payload, 0)) {
        if (type == FourCC("ilst") || type == FourCC("udta")) {
            damaged("the user data");
        }
        damaged("a track");
    }
    MP4MovieBox box(type, payload.left(at), true);
    box.parseChildren(payload, at);
    return box;
}

void MP4MovieBox::parseChildren(const QByteArray& payload, qsizetype at) {
    while (payload.size() - at >= 8) {
        const uint32_t size = mp4ReadUInt32(payload, at);
        mChildren.push_back(parse(payload.mid(at, size), mType));
        at += size;
    }
    mTail = payload.mid(at);
}

uint64_t MP4MovieBox::size() const {
    uint64_t total = 8 + static_cast<uint64_t>(mHead.size()) + static_cast<uint64_t>(mTail.size());
    for (const MP4MovieBox& child : mChildren) {
        total += child.size();
    }
    return total;
}

QByteArray MP4MovieBox::serialized() const {
    if (size() > std::numeric_limits<uint32_t>::max()) {
        throw InternalInconsistencyException("The label makes the movie box too large",
                                             "MP4MovieBox", __LINE__);
    }
    QByteArray out;
    out.reserve(static_cast<qsizetype>(size()));
    appendTo(out);
    return out;
}

void MP4MovieBox::appendTo(QByteArray& out) const {
    out.append(mp4UInt32(static_cast<uint32_t>(size())));
    out.append(mp4UInt32(mType));
    out.append(mHead);
    for (const MP4MovieBox& child : mChildren) {
        child.appendTo(out);
    }
    out.append(mTail);
}

MP4MovieBox* MP4MovieBox::child(uint32_t type) {
    for (MP4MovieBox& box : mChildren) {
        if (box.type() == type) {
            return &box;
        }
    }
    return nullptr;
}

const MP4MovieBox* MP4MovieBox::child(uint32_t type) const {
    return const_cast<MP4MovieBox*>(this)->child(type);
}

MP4MovieBox& MP4MovieBox::childOrAppend(uint32_t type, const QByteArray& head, bool container) {
    if (MP4MovieBox* found = child(type)) {
        return *found;
    }
    mChildren.emplace_back(type, head, container);
    return mChildren.back();
}

void MP4MovieBox::replaceOrAppend(MP4MovieBox box) {
    if (MP4MovieBox* found = child(box.type())) {
        *found = std::move(box);
    } else {
        mChildren.push_back(std::move(box));
    }
}

std::vector<MP4MovieBox*> MP4MovieBox::chunkOffsetTables() {
    std::vector<MP4MovieBox*> tables;
    for (MP4MovieBox& trak : mChildren) {
        if (trak.type() != FourCC("trak")) {
            continue;
        }
        MP4MovieBox* mdia = trak.child(FourCC("mdia"));
        MP4MovieBox* minf = mdia ? mdia->child(FourCC("minf")) : nullptr;
        MP4MovieBox* stbl = minf ? minf->child(FourCC("stbl")) : nullptr;
        MP4MovieBox* table = stbl ? stbl->child(FourCC("stco")) : nullptr;
        if (!table && stbl) {
            table = stbl->child(FourCC("co64"));
        }
        tables.push_back(table); // nullptr: a track without one
    }
    return tables;
}

std::vector<const MP4MovieBox*> MP4MovieBox::chunkOffsetTables() const {
    const auto tables = const_cast<MP4MovieBox*>(this)->chunkOffsetTables();
    return {tables.begin(), tables.end()};
}

bool MP4MovieBox::everyTrackHasChunkOffsets() const {
    const auto tables = chunkOffsetTables();
    return std::none_of(tables.begin(), tables.end(), [](const auto* t) { return !t; });
}

std::vector<uint64_t> MP4MovieBox::chunkOffsets() const {
    std::vector<uint64_t> offsets;
    for (const MP4MovieBox* table : chunkOffsetTables()) {
        if (!table) {
            continue;
        }
        const QByteArray& payload = table->head();
        const bool wide = table->type() == FourCC("co64");
        const qsizetype step = wide ? 8 : 4;
        for (qsizetype at = 8; at + step <= payload.size(); at += step) {
            offsets.push_back(wide ? readUInt64(payload, at) : mp4ReadUInt32(payload, at));
        }
    }
    return offsets;
}

std::vector<const MP4MovieBox*> MP4MovieBox::sampleTables() const {
    std::vector<const MP4MovieBox*> tables;
    for (const MP4MovieBox& trak : mChildren) {
        if (trak.type() == FourCC("trak")) {
            const MP4MovieBox* mdia = trak.child(FourCC("mdia"));
            const MP4MovieBox* minf = mdia ? mdia->child(FourCC("minf")) : nullptr;
            tables.push_back(minf ? minf->child(FourCC("stbl")) : nullptr);
        }
    }
    return tables;
}

namespace {

// The byte size of each of `chunks` chunks, from a sample-to-chunk table
// ('stsc') and a sample-size table ('stsz'); empty when they do not fit
// together.
std::vector<uint64_t> chunkSizes(const QByteArray& stsc, const QByteArray& stsz, size_t chunks) {
    const uint32_t entries = mp4ReadUInt32(stsc, 4);
    const uint32_t fixedSize = mp4ReadUInt32(stsz, 4);
    const uint32_t samples = mp4ReadUInt32(stsz, 8);
    if (stsc.size() < 8 + qsizetype{entries} * 12 || stsz.size() < 12 ||
        (fixedSize == 0 && stsz.size() < 12 + qsizetype{samples} * 4)) {
        return {};
    }
    std::vector<uint64_t> sizes(chunks, 0);
    uint64_t sample = 0;
    for (uint32_t e = 0; e < entries; ++e) {
        const qsizetype at = 8 + qsizetype{e} * 12;
        const uint64_t first = mp4ReadUInt32(stsc, at);
        const uint64_t next = e + 1 < entries ? mp4ReadUInt32(stsc, at + 12) : chunks + 1;
        const uint32_t perChunk = mp4ReadUInt32(stsc, at + 4);
        if (first == 0 || next <= first) {
            return {};
        }
        for (uint64_t chunk = first - 1; chunk < std::min<uint64_t>(next - 1, chunks); ++chunk) {
            for (uint32_t i = 0; i < perChunk && sample < samples; ++i, ++sample) {
                sizes[chunk] +=
                    fixedSize != 0 ? fixedSize : mp4ReadUInt32(stsz, 12 + qsizetype(sample) * 4);
            }
        }
    }
    return sizes;
}

} // namespace

std::vector<MP4MovieBox::ChunkExtent> MP4MovieBox::chunkExtents() const {
    std::vector<ChunkExtent> extents;
    const auto offsets = chunkOffsetTables();
    const auto tables = sampleTables();
    for (size_t track = 0; track < offsets.size(); ++track) {
        const MP4MovieBox* table = offsets[track];
        if (!table) {
            continue;
        }
        const QByteArray& payload = table->head();
        const bool wide = table->type() == FourCC("co64");
        const qsizetype step = wide ? 8 : 4;
        std::vector<uint64_t> starts;
        for (qsizetype at = 8; at + step <= payload.size(); at += step) {
            starts.push_back(wide ? readUInt64(payload, at) : mp4ReadUInt32(payload, at));
        }
        const MP4MovieBox* stbl = tables[track];
        const MP4MovieBox* stsc = stbl ? stbl->child(FourCC("stsc")) : nullptr;
        const MP4MovieBox* stsz = stbl ? stbl->child(FourCC("stsz")) : nullptr;
        const auto sizes = stsc && stsz ? chunkSizes(stsc->head(), stsz->head(), starts.size())
                                        : std::vector<uint64_t>();
        for (size_t i = 0; i < starts.size(); ++i) {
            extents.push_back({starts[i], sizes.empty() ? 0 : sizes[i]});
        }
    }
    return extents;
}

bool MP4MovieBox::shiftNeedsWideChunkOffsets(uint64_t from, int64_t delta) const {
    for (const MP4MovieBox* table : chunkOffsetTables()) {
        if (!table || table->type() != FourCC("stco")) {
            continue;
        }
        const QByteArray& payload = table->head();
        for (qsizetype at = 8; at + 4 <= payload.size(); at += 4) {
            const uint64_t value = mp4ReadUInt32(payload, at);
            if (value >= from &&
                value + static_cast<uint64_t>(delta) > std::numeric_limits<uint32_t>::max()) {
                return true;
            }
        }
    }
    return false;
}

void MP4MovieBox::widenChunkOffsets() {
    for (MP4MovieBox* table : chunkOffsetTables()) {
        if (!table || table->type() != FourCC("stco")) {
            continue;
        }
        const QByteArray& narrow = table->head();
        // Version and flags, then the entry count, then the entries.
        QByteArray wide = narrow.left(8);
        for (qsizetype at = 8; at + 4 <= narrow.size(); at += 4) {
            wide.append(QByteArray(8, 0));
            writeUInt64(wide, wide.size() - 8, mp4ReadUInt32(narrow, at));
        }
        *table = MP4MovieBox(FourCC("co64"), std::move(wide), false);
    }
}

void MP4MovieBox::shiftChunkOffsets(uint64_t from, int64_t delta) {
    for (MP4MovieBox* table : chunkOffsetTables()) {
        if (!table) {
            throw InternalInconsistencyException(
                "A track of this file has no chunk offsets, so its audio cannot be moved",
                "MP4MovieBox", __LINE__);
        }
        QByteArray payload = table->head();
        const bool wide = table->type() == FourCC("co64");
        const qsizetype step = wide ? 8 : 4;
        for (qsizetype at = 8; at + step <= payload.size(); at += step) {
            const uint64_t value = wide ? readUInt64(payload, at) : mp4ReadUInt32(payload, at);
            if (value < from) {
                continue;
            }
            const uint64_t moved = value + static_cast<uint64_t>(delta);
            if (wide) {
                writeUInt64(payload, at, moved);
            } else if (moved > std::numeric_limits<uint32_t>::max()) {
                throw InternalInconsistencyException(
                    "Moving the audio would need 64-bit chunk offsets", "MP4MovieBox", __LINE__);
            } else {
                payload.replace(at, 4, mp4UInt32(static_cast<uint32_t>(moved)));
            }
        }
        table->setHead(std::move(payload));
    }
}

#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

// A 'moov' box held in memory, opened up where a label commit changes it:
// the tracks down to their sample tables and the user data down to the item
// list. Every other box is kept as its bytes, so serialising an unchanged
// tree gives back the bytes it was parsed from. Parsing a damaged box throws
// InternalInconsistencyException.
class MP4MovieBox {
public:
    MP4MovieBox(uint32_t type, QByteArray head, bool container);
    // `bytes` is the whole box, header included.
    static MP4MovieBox parse(const QByteArray& bytes);

    uint32_t type() const { return mType; }
    // The payload before the children (all of it for a box that is not opened).
    const QByteArray& head() const { return mHead; }
    void setHead(QByteArray head) { mHead = std::move(head); }
    std::vector<MP4MovieBox>& children() { return mChildren; }
    const std::vector<MP4MovieBox>& children() const { return mChildren; }

    uint64_t size() const;
    QByteArray serialized() const;

    MP4MovieBox* child(uint32_t type);
    const MP4MovieBox* child(uint32_t type) const;
    // The first child of that type, appended (empty) when there is none.
    MP4MovieBox& childOrAppend(uint32_t type, const QByteArray& head, bool container);
    // Puts `box` in the place of the first child of its type, or appends it.
    void replaceOrAppend(MP4MovieBox box);

    // Every chunk offset of every track, in table order.
    std::vector<uint64_t> chunkOffsets() const;
    struct ChunkExtent {
        uint64_t offset;
        uint64_t size; // 0 when the track's sample tables do not say
    };
    // Where every chunk of every track lies: its offset, and the sizes of the
    // samples the sample-to-chunk table puts in it.
    std::vector<ChunkExtent> chunkExtents() const;
    // Whether every track has a chunk-offset table ('stco' or 'co64').
    bool everyTrackHasChunkOffsets() const;
    // Whether adding `delta` to the chunk offsets at or after `from` would
    // take one in a 32-bit table ('stco') past 4 GiB.
    bool shiftNeedsWideChunkOffsets(uint64_t from, int64_t delta) const;
    // Turns every 32-bit chunk-offset table into a 64-bit one ('co64') with
    // the same offsets; the box grows by four bytes a chunk.
    void widenChunkOffsets();
    // Adds `delta` to every chunk offset at or after `from`, in every track.
    // Throws when a 32-bit table would overflow.
    void shiftChunkOffsets(uint64_t from, int64_t delta);

private:
    static MP4MovieBox parse(const QByteArray& bytes, uint32_t parent);
    void parseChildren(const QByteArray& payload, qsizetype at);
    void appendTo(QByteArray& out) const;
    std::vector<MP4MovieBox*> chunkOffsetTables();
    std::vector<const MP4MovieBox*> chunkOffsetTables() const;
    std::vector<const MP4MovieBox*> sampleTables() const;

    uint32_t mType;
    QByteArray mHead;
    std::vector<MP4MovieBox> mChildren;
    QByteArray mTail; // a container's few trailing zero bytes, kept as they were
    bool mContainer;
};

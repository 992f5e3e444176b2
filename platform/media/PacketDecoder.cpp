#include "platform/media/PacketDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cstring>
#include <string>

namespace {

AVCodecContext* openDecoder(const RecordingJournalHeader& header) {
    const bool aac = header.codec == "aac";
    const AVCodec* codec = avcodec_find_decoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ALAC);
    AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!decoder) {
        return nullptr;
    }
    decoder->sample_rate = header.sampleRate;
    av_channel_layout_default(&decoder->ch_layout, header.channels);
    decoder->bits_per_coded_sample = header.bitsPerRawSample;
    if (!header.extradata.empty()) {
        decoder->extradata = static_cast<uint8_t*>(
            av_mallocz(header.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (decoder->extradata) {
            std::memcpy(decoder->extradata, header.extradata.data(), header.extradata.size());
            decoder->extradata_size = static_cast<int>(header.extradata.size());
        }
    }
    if (avcodec_open2(decoder, codec, nullptr) < 0) {
        avcodec_free_context(&decoder);
    }
    return decoder;
}

// The profile an AAC decoder reports once it decodes with the set-up's own
// configuration: the object type its first five bits give, less one.
int profileOf(const RecordingJournalHeader& header) {
    return header.codec == "aac" && !header.extradata.empty() ? (header.extradata[0] >> 3) - 1
                                                              : FF_PROFILE_UNKNOWN;
}

// A decoder opened for one set-up, with what it was opened as. Bytes that
// are not a packet of the recording can reconfigure a decoder, which a
// flush does not undo: an AAC decoder takes a stream header's rate,
// channels and object type (its profile), and switches to SBR, from what it
// reads. Each of those shows in the context, so a decoder that still shows
// what it was opened with has not been reconfigured.
struct OpenedDecoder {
    std::string setUp;
    AVCodecContext* decoder = nullptr;
    AVChannelLayout layout{};
    int sampleRate = 0;
    int profile = 0;       // as opened
    int streamProfile = 0; // as decoding sets it
    uint64_t lastUse = 0;

    bool open(const RecordingJournalHeader& header, const std::string& forSetUp) {
        close();
        setUp = forSetUp;
        decoder = openDecoder(header);
        if (!decoder || av_channel_layout_copy(&layout, &decoder->ch_layout) < 0) {
            close();
            return false;
        }
        sampleRate = decoder->sample_rate;
        profile = decoder->profile;
        streamProfile = profileOf(header);
        return true;
    }

    bool reconfigured() const {
        const bool profileKept = decoder->profile == profile || decoder->profile == streamProfile;
        return decoder->sample_rate != sampleRate || !profileKept ||
               av_channel_layout_compare(&decoder->ch_layout, &layout) != 0;
    }

    void close() {
        avcodec_free_context(&decoder);
        av_channel_layout_uninit(&layout);
    }
};

// Decoders for the last few set-ups, kept for the next recording of the
// same kind: a folder's recordings usually are, and a journal that lost its
// header is tried with each of the recorder's set-ups in turn. One that may
// have been reconfigured is opened afresh, so a bad journal does not change
// how the next one is judged.
class DecoderCache {
public:
    ~DecoderCache() {
        for (OpenedDecoder& slot : mSlots) {
            slot.close();
        }
    }

    AVCodecContext* decoderFor(const RecordingJournalHeader& header, const std::string& setUp) {
        OpenedDecoder* chosen = &mSlots[0];
        for (OpenedDecoder& slot : mSlots) {
            if (slot.decoder && slot.setUp == setUp) {
                chosen = &slot;
                break;
            }
            if (!slot.decoder || slot.lastUse < chosen->lastUse) {
                chosen = &slot; // the least recently used, unless one fits
            }
        }
        chosen->lastUse = ++mUses;
        if (chosen->decoder && chosen->setUp == setUp && !chosen->reconfigured()) {
            return chosen->decoder;
        }
        return chosen->open(header, setUp) ? chosen->decoder : nullptr;
    }

private:
    static constexpr size_t kSlots = 4;
    OpenedDecoder mSlots[kSlots];
    uint64_t mUses = 0;
};

AVCodecContext* decoderFor(const RecordingJournalHeader& header, const std::string& setUp) {
    thread_local DecoderCache cache;
    return cache.decoderFor(header, setUp);
}

// What the decoder is opened with (the sample size only matters to a
// lossless one).
std::string setUpOf(const RecordingJournalHeader& header) {
    const int bits = header.codec == "aac" ? 0 : header.bitsPerRawSample;
    return header.codec + " " + std::to_string(header.sampleRate) + " " +
           std::to_string(header.channels) + " " + std::to_string(bits) + " " +
           std::string(header.extradata.begin(), header.extradata.end());
}

} // namespace

PacketDecoder::PacketDecoder(const RecordingJournalHeader& header)
    : mHeader(header), mAac(header.codec == "aac"), mSetUp(setUpOf(header)),
      mFrame(av_frame_alloc()), mPacket(av_packet_alloc()) {
    for (unsigned first = 0; first < mStarts.size(); ++first) {
        mStarts[first] = mayStartWith(static_cast<uint8_t>(first));
    }
    mOpened = decoderFor(mHeader, mSetUp) != nullptr;
}

PacketDecoder::~PacketDecoder() {
    av_frame_free(&mFrame);
    av_packet_free(&mPacket);
    av_buffer_unref(&mBuffer);
}

AVCodecContext* PacketDecoder::readyDecoder(uint32_t size, bool afresh) {
    // Asked for every packet: the decoder may have been opened afresh.
    AVCodecContext* decoder = decoderFor(mHeader, mSetUp);
    if (!decoder || !isOpen() || size == 0) {
        return nullptr;
    }
    if (afresh && mDecoded) {
        avcodec_flush_buffers(decoder);
    }
    return decoder;
}

std::optional<bool> PacketDecoder::firstFrameFits(AVCodecContext* decoder, const uint8_t* data,
                                                  uint32_t size) {
    if (!stage(data, size)) {
        return std::nullopt;
    }
    const int sent = avcodec_send_packet(decoder, mPacket);
    // The decoder took its own reference to the buffer.
    mPacket->buf = nullptr;
    mPacket->data = nullptr;
    mPacket->size = 0;
    if (sent < 0 || avcodec_receive_frame(decoder, mFrame) < 0) {
        return std::nullopt;
    }
    const bool fits = mFrame->nb_samples > 0 && mFrame->nb_samples <= mHeader.framesPerPacket &&
                      mFrame->ch_layout.nb_channels == mHeader.channels;
    av_frame_unref(mFrame);
    return fits;
}

bool PacketDecoder::stage(const uint8_t* data, uint32_t size) {
    const size_t needed = size_t{size} + AV_INPUT_BUFFER_PADDING_SIZE;
    // A decoder still holding bytes of the last packet keeps that buffer.
    if (!mBuffer || mBuffer->size < needed || !av_buffer_is_writable(mBuffer)) {
        av_buffer_unref(&mBuffer);
        constexpr uint64_t kMostKept = 1 << 20;
        const size_t kept = std::min(largestPacket(mHeader), kMostKept);
        mBuffer = av_buffer_alloc(std::max(needed, kept + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!mBuffer) {
            return false;
        }
    }
    std::memcpy(mBuffer->data, data, size);
    std::memset(mBuffer->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    mPacket->buf = mBuffer; // lent for the sending only
    mPacket->data = mBuffer->data;
    mPacket->size = static_cast<int>(size);
    return true;
}

bool PacketDecoder::decodesWhole(const uint8_t* data, uint32_t size, bool continuing) {
    AVCodecContext* decoder = readyDecoder(size, !continuing);
    if (!decoder) {
        return false;
    }
    // A packet that failed leaves nothing behind in the decoder; one that
    // decoded leaves the state the next packet goes on from.
    mDecoded = false;
    const std::optional<bool> whole = firstFrameFits(decoder, data, size);
    if (!whole) {
        return false;
    }
    mDecoded = true;
    // A decoder that stopped short of the packet's end decodes the rest as
    // another frame, or fails on it.
    const int rest = avcodec_receive_frame(decoder, mFrame);
    av_frame_unref(mFrame);
    return *whole && rest == AVERROR(EAGAIN);
}

bool PacketDecoder::decodesFirstPacket(const uint8_t* data, uint32_t size) {
    AVCodecContext* decoder = readyDecoder(size, true);
    if (!decoder) {
        return false;
    }
    // Whatever it decodes, the decoder may hold the bytes after the packet.
    mDecoded = true;
    return firstFrameFits(decoder, data, size).value_or(false);
}

bool PacketDecoder::mayStartPacket(const uint8_t* data, uint32_t size) const {
    // A lossless element's instance tag is followed by twelve zero bits.
    return size >= 3 && mStarts[data[0]] && (mAac || (data[1] == 0 && (data[2] >> 5) == 0));
}

bool PacketDecoder::mayStartWith(uint8_t first) const {
    constexpr unsigned kSingleChannel = 0, kChannelPair = 1, kFill = 6;
    const unsigned element = first >> 5;
    const bool channelElement = mHeader.channels == 1   ? element == kSingleChannel
                                : mHeader.channels == 2 ? element == kChannelPair
                                                        : element <= kChannelPair;
    const bool firstInstance = (first >> 1 & 0xf) == 0;
    if (mAac) {
        return (channelElement && firstInstance) || element == kFill;
    }
    return channelElement && firstInstance && (first & 1) == 0;
}

uint64_t PacketDecoder::largestPacket(const RecordingJournalHeader& header) {
    const auto channels = static_cast<uint64_t>(header.channels);
    // An AAC frame holds at most 6144 bits a channel; a lossless one at
    // most its samples verbatim at 32 bits, and its element headers.
    return header.codec == "aac" ? 768 * channels
                                 : uint64_t(header.framesPerPacket) * channels * 4 + 64;
}

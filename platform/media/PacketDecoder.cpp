#include "platform/media/PacketDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cstring>
#include <string>

namespace {

struct OpenedDecoder {
    AVCodecContext* decoder = nullptr;
    AVChannelLayout layout{}; // as opened, to tell when bad input changed it
    int sampleRate = 0;
};

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

// A decoder for the journal's set-up, kept for the next recording of the
// same kind (a folder's recordings usually are). Bytes that are not a
// packet of the recording can reconfigure a decoder (an AAC decoder takes
// its channels from what it reads), which a flush does not undo: such a
// decoder is opened afresh.
AVCodecContext* decoderFor(const RecordingJournalHeader& header, const std::string& setUp) {
    struct Cached {
        OpenedDecoder opened;
        std::string setUp;
        ~Cached() {
            avcodec_free_context(&opened.decoder);
            av_channel_layout_uninit(&opened.layout);
        }
    };
    thread_local Cached cached;
    AVCodecContext* decoder = cached.opened.decoder;
    if (decoder && cached.setUp == setUp && decoder->sample_rate == cached.opened.sampleRate &&
        av_channel_layout_compare(&decoder->ch_layout, &cached.opened.layout) == 0) {
        return decoder;
    }
    avcodec_free_context(&cached.opened.decoder);
    av_channel_layout_uninit(&cached.opened.layout);
    cached.setUp = setUp;
    decoder = openDecoder(header);
    if (decoder && av_channel_layout_copy(&cached.opened.layout, &decoder->ch_layout) < 0) {
        avcodec_free_context(&decoder);
    }
    cached.opened.decoder = decoder;
    cached.opened.sampleRate = decoder ? decoder->sample_rate : 0;
    return decoder;
}

std::string setUpOf(const RecordingJournalHeader& header) {
    return header.codec + " " + std::to_string(header.sampleRate) + " " +
           std::to_string(header.channels) + " " + std::to_string(header.bitsPerRawSample) + " " +
           std::string(header.extradata.begin(), header.extradata.end());
}

} // namespace

PacketDecoder::PacketDecoder(const RecordingJournalHeader& header)
    : mHeader(header), mSetUp(setUpOf(header)), mFrame(av_frame_alloc()),
      mPacket(av_packet_alloc()) {
    mOpened = decoderFor(mHeader, mSetUp) != nullptr;
}

PacketDecoder::~PacketDecoder() {
    av_frame_free(&mFrame);
    av_packet_free(&mPacket);
}

bool PacketDecoder::decodesWhole(const uint8_t* data, uint32_t size, bool continuing) {
    // Asked for every packet: the decoder may have been opened afresh.
    AVCodecContext* decoder = decoderFor(mHeader, mSetUp);
    if (!decoder || !isOpen() || size == 0) {
        return false;
    }
    // A packet that failed leaves nothing behind in the decoder; one that
    // decoded leaves the state the next packet goes on from.
    if (!continuing && mDecoded) {
        avcodec_flush_buffers(decoder);
    }
    mDecoded = false;
    // Sent without a buffer of its own, the packet is copied into one with
    // the padding the decoder wants.
    mPacket->data = const_cast<uint8_t*>(data);
    mPacket->size = static_cast<int>(size);
    if (avcodec_send_packet(decoder, mPacket) < 0 || avcodec_receive_frame(decoder, mFrame) < 0) {
        return false;
    }
    mDecoded = true;
    const bool whole = mFrame->nb_samples > 0 && mFrame->nb_samples <= mHeader.framesPerPacket &&
                       mFrame->ch_layout.nb_channels == mHeader.channels;
    av_frame_unref(mFrame);
    // A decoder that stopped short of the packet's end decodes the rest as
    // another frame, or fails on it.
    const int rest = avcodec_receive_frame(decoder, mFrame);
    av_frame_unref(mFrame);
    return whole && rest == AVERROR(EAGAIN);
}

bool PacketDecoder::mayStartPacket(const uint8_t* data, uint32_t size) const {
    constexpr unsigned kSingleChannel = 0, kChannelPair = 1, kFill = 6;
    if (size < 3) {
        return false;
    }
    const unsigned element = data[0] >> 5;
    const bool channelElement = mHeader.channels == 1   ? element == kSingleChannel
                                : mHeader.channels == 2 ? element == kChannelPair
                                                        : element <= kChannelPair;
    const bool firstInstance = (data[0] >> 1 & 0xf) == 0;
    if (mHeader.codec == "aac") {
        return (channelElement && firstInstance) || element == kFill;
    }
    // A lossless element's instance tag is followed by twelve zero bits.
    return channelElement && firstInstance && (data[0] & 1) == 0 && data[1] == 0 &&
           (data[2] >> 5) == 0;
}

uint64_t PacketDecoder::largestPacket(const RecordingJournalHeader& header) {
    const auto channels = static_cast<uint64_t>(header.channels);
    // An AAC frame holds at most 6144 bits a channel; a lossless one at
    // most its samples verbatim at 32 bits, and its element headers.
    return header.codec == "aac" ? 768 * channels
                                 : uint64_t(header.framesPerPacket) * channels * 4 + 64;
}

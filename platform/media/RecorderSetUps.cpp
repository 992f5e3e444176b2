#include "platform/media/RecorderSetUps.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace {

struct SetUp {
    const char* codec;
    int sampleRate;
    int64_t bitRate; // for two channels; AAC only
    int bits;        // lossless only
};

// The AAC recording qualities: 128 kbit/s at 44100 Hz and 48 kbit/s at
// 22050 Hz, each in mono and in stereo. The decoder tells the two rates
// apart (they use different band tables) but not 44100 Hz from 48000 Hz,
// which the recorder never writes AAC at. Lossless recordings are left out:
// with the rate unlocked they are made at the device's rate, which the
// audio does not show.
constexpr SetUp kSetUps[] = {
    {"aac", 44100, 128000, 0},
    {"aac", 22050, 48000, 0},
};

// What the encoder makes of a set-up: its configuration, packet length and
// priming, as the recorder's journal records them.
bool describe(const SetUp& setUp, int channels, RecordingJournalHeader* header) {
    const bool aac = std::string(setUp.codec) == "aac";
    const AVCodec* encoder = avcodec_find_encoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ALAC);
    AVCodecContext* context = encoder ? avcodec_alloc_context3(encoder) : nullptr;
    if (!context) {
        return false;
    }
    context->sample_rate = setUp.sampleRate;
    av_channel_layout_default(&context->ch_layout, channels);
    context->time_base = AVRational{1, setUp.sampleRate};
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (aac) {
        context->sample_fmt = AV_SAMPLE_FMT_FLTP;
        context->bit_rate = setUp.bitRate;
        context->profile = FF_PROFILE_AAC_LOW;
    } else {
        context->sample_fmt = setUp.bits == 16 ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S32P;
        context->bits_per_raw_sample = setUp.bits == 16 ? 0 : setUp.bits;
    }
    const bool opened = avcodec_open2(context, encoder, nullptr) >= 0;
    if (opened) {
        header->codec = setUp.codec;
        header->sampleRate = context->sample_rate;
        header->channels = channels;
        header->bitsPerRawSample = context->bits_per_raw_sample;
        header->bitRate = context->bit_rate;
        header->framesPerPacket = context->frame_size;
        header->priming = context->initial_padding;
        if (context->extradata && context->extradata_size > 0) {
            header->extradata.assign(context->extradata,
                                     context->extradata + context->extradata_size);
        }
    }
    avcodec_free_context(&context);
    return opened;
}

std::vector<RecordingJournalHeader> describeAll(const std::string& muxer) {
    std::vector<RecordingJournalHeader> headers;
    for (const SetUp& setUp : kSetUps) {
        if ((std::string(setUp.codec) == "alac") != (muxer == "ipod")) {
            continue;
        }
        for (const int channels : {1, 2}) {
            RecordingJournalHeader header;
            header.muxer = muxer;
            if (describe(setUp, channels, &header)) {
                headers.push_back(std::move(header));
            }
        }
    }
    return headers;
}

} // namespace

std::vector<RecordingJournalHeader> RecorderSetUps::forMuxer(const std::string& muxer) {
    // The encoders answer the same every time, and opening one is costly.
    static const std::vector<RecordingJournalHeader> mp4 = describeAll("mp4");
    static const std::vector<RecordingJournalHeader> ipod = describeAll("ipod");
    return muxer == "mp4" ? mp4 : muxer == "ipod" ? ipod : describeAll(muxer);
}

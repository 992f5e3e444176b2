#include "platform/media/AudioTrackReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}


namespace {

std::string describeError(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

} // namespace

std::unique_ptr<AudioTrackReader> AudioTrackReader::open(const std::string& path, int sampleRate,
                                                         int channels, std::string* error) {
    std::unique_ptr<AudioTrackReader> reader(new AudioTrackReader);
    reader->mSampleRate = sampleRate;
    reader->mChannels = channels;
    auto failed = [&](const std::string& what, int status = 0) {
        reader->fail(what, status);
        if (error) {
            *error = reader->mError;
        }
        return nullptr;
    };
    if (sampleRate <= 0 || channels <= 0) {
        return failed("unusable sound format");
    }
    int status = avformat_open_input(&reader->mFormat, path.c_str(), nullptr, nullptr);
    if (status < 0) {
        return failed("cannot open " + path, status);
    }
    status = avformat_find_stream_info(reader->mFormat, nullptr);
    if (status < 0) {
        return failed("cannot read " + path, status);
    }
    const AVCodec* decoder = nullptr;
    reader->mStream = av_find_best_stream(reader->mFormat, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (reader->mStream < 0 || !decoder) {
        return failed(path + " has no sound track");
    }
    reader->mCodec = avcodec_alloc_context3(decoder);
    if (!reader->mCodec) {
        return failed("out of memory");
    }
    avcodec_parameters_to_context(reader->mCodec,
                                  reader->mFormat->streams[reader->mStream]->codecpar);
    status = avcodec_open2(reader->mCodec, decoder, nullptr);
    if (status < 0) {
        return failed("cannot decode the sound of " + path, status);
    }
    if (reader->mCodec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&reader->mCodec->ch_layout, reader->mCodec->ch_layout.nb_channels);
    }
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, channels);
    status = swr_alloc_set_opts2(&reader->mResampler, &outLayout, AV_SAMPLE_FMT_S16, sampleRate,
                                 &reader->mCodec->ch_layout, reader->mCodec->sample_fmt,
                                 reader->mCodec->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&outLayout);
    if (status < 0 || !reader->mResampler) {
        return failed("cannot convert the sound of " + path, status);
    }
    // A mono tape plays at its own level on both sides, not 3 dB down.
    av_opt_set_double(reader->mResampler, "center_mix_level", 1.0, 0);
    status = swr_init(reader->mResampler);
    if (status < 0) {
        return failed("cannot convert the sound of " + path, status);
    }
    reader->mFrame = av_frame_alloc();
    reader->mPacket = av_packet_alloc();
    if (!reader->mFrame || !reader->mPacket) {
        return failed("out of memory");
    }
    return reader;
}

AudioTrackReader::~AudioTrackReader() {
    av_frame_free(&mFrame);
    av_packet_free(&mPacket);
    swr_free(&mResampler);
    avcodec_free_context(&mCodec);
    avformat_close_input(&mFormat);
}

int AudioTrackReader::fail(const std::string& what, int ffmpegError) {
    mError = ffmpegError ? what + ": " + describeError(ffmpegError) : what;
    return -1;
}

int AudioTrackReader::read(int16_t* samples, int frames) {
    if (frames <= 0 || !mError.empty()) {
        return mError.empty() ? 0 : -1;
    }
    for (;;) {
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(samples)};
        if (mDrained) {
            // The decoder is empty: flush the resampler's tail.
            const int got = swr_convert(mResampler, out, frames, nullptr, 0);
            return got < 0 ? fail("cannot convert the sound", got) : got;
        }
        // What the resampler holds comes first. An input of no samples (not
        // a null one, which would flush it) hands that out.
        const uint8_t* none[AV_NUM_DATA_POINTERS] = {reinterpret_cast<const uint8_t*>(samples)};
        int got = swr_convert(mResampler, out, frames, none, 0);
        if (got != 0) {
            return got < 0 ? fail("cannot convert the sound", got) : got;
        }
        int status = avcodec_receive_frame(mCodec, mFrame);
        if (status == 0) {
            got = swr_convert(mResampler, out, frames,
                              const_cast<const uint8_t**>(mFrame->extended_data),
                              mFrame->nb_samples);
            av_frame_unref(mFrame);
            if (got < 0) {
                return fail("cannot convert the sound", got);
            }
            if (got > 0) {
                return got;
            }
            continue;
        }
        if (status == AVERROR_EOF) {
            mDrained = true;
            continue;
        }
        if (status != AVERROR(EAGAIN)) {
            return fail("cannot decode the sound", status);
        }
        if (mInputEnded) {
            mDrained = true;
            continue;
        }
        status = av_read_frame(mFormat, mPacket);
        if (status == AVERROR_EOF) {
            mInputEnded = true;
            avcodec_send_packet(mCodec, nullptr);
            continue;
        }
        if (status < 0) {
            return fail("cannot read the sound", status);
        }
        if (mPacket->stream_index == mStream) {
            status = avcodec_send_packet(mCodec, mPacket);
            av_packet_unref(mPacket);
            if (status < 0 && status != AVERROR(EAGAIN)) {
                return fail("cannot decode the sound", status);
            }
        } else {
            av_packet_unref(mPacket);
        }
    }
}

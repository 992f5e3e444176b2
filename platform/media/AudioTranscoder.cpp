#include "platform/media/AudioTranscoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::string describeError(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// Frames handed at once to encoders that take any number.
constexpr int kVariableFrameSize = 4096;

// The rate of `supported` (zero-terminated) nearest to `rate`; the higher
// one on a tie.
int nearestRate(const int* supported, int rate) {
    int best = supported[0];
    for (const int* candidate = supported; *candidate; ++candidate) {
        const int distance = std::abs(*candidate - rate);
        const int bestDistance = std::abs(best - rate);
        if (distance < bestDistance || (distance == bestDistance && *candidate > best)) {
            best = *candidate;
        }
    }
    return best;
}

bool takesFormat(const AVCodec* encoder, AVSampleFormat format) {
    if (!encoder->sample_fmts) {
        return true;
    }
    for (const AVSampleFormat* candidate = encoder->sample_fmts; *candidate != AV_SAMPLE_FMT_NONE;
         ++candidate) {
        if (*candidate == format) {
            return true;
        }
    }
    return false;
}

} // namespace

AudioTranscoder::AudioTranscoder(std::string source, std::string destination,
                                 AudioTranscodeSettings settings)
    : mSource(std::move(source)), mDestination(std::move(destination)),
      mSettings(std::move(settings)) {}

AudioTranscoder::~AudioTranscoder() {
    close();
}

bool AudioTranscoder::fail(const std::string& what, int ffmpegError) {
    if (mError.empty()) {
        mError = ffmpegError ? what + ": " + describeError(ffmpegError) : what;
    }
    return false;
}

bool AudioTranscoder::run(const ProgressBlock& progress) {
    const bool whole = openSource() && openDestination() && convert(progress);
    if (!whole) {
        close();
        // Only a file this conversion made is ever removed.
        if (mCreatedFile) {
            std::remove(mDestination.c_str());
            mCreatedFile = false;
        }
    }
    return whole;
}

bool AudioTranscoder::openSource() {
    int status = avformat_open_input(&mInput, mSource.c_str(), nullptr, nullptr);
    if (status < 0) {
        return fail("cannot open " + mSource, status);
    }
    status = avformat_find_stream_info(mInput, nullptr);
    if (status < 0) {
        return fail("cannot read " + mSource, status);
    }
    const AVCodec* decoder = nullptr;
    mStream = av_find_best_stream(mInput, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (mStream < 0 || !decoder) {
        return fail(mSource + " has no sound track");
    }
    mDecoder = avcodec_alloc_context3(decoder);
    if (!mDecoder) {
        return fail("out of memory");
    }
    avcodec_parameters_to_context(mDecoder, mInput->streams[mStream]->codecpar);
    // One core does the whole conversion.
    mDecoder->thread_count = 1;
    status = avcodec_open2(mDecoder, decoder, nullptr);
    if (status < 0) {
        return fail("cannot decode the sound of " + mSource, status);
    }
    if (mDecoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&mDecoder->ch_layout, mDecoder->ch_layout.nb_channels);
    }
    // Lossy sources decode to float: 16 bits hold all they have.
    const AVSampleFormat format = av_get_packed_sample_fmt(mDecoder->sample_fmt);
    if (format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_DBL) {
        mSourceDepth = 16;
    } else if (mDecoder->bits_per_raw_sample > 0) {
        mSourceDepth = mDecoder->bits_per_raw_sample;
    } else {
        mSourceDepth = av_get_bytes_per_sample(format) * 8;
    }
    const AVStream* stream = mInput->streams[mStream];
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        mSourceLength =
            av_rescale_q(stream->duration, stream->time_base, AVRational{1, mDecoder->sample_rate});
    }
    mDecoded = av_frame_alloc();
    mPacket = av_packet_alloc();
    return (mDecoded && mPacket) || fail("out of memory");
}

bool AudioTranscoder::openEncoder() {
    const bool deep = mSourceDepth > 16;
    std::string name = mSettings.encoder;
    if (name == "pcm") {
        name = deep ? "pcm_s24le" : "pcm_s16le";
    }
    const AVCodec* encoder = avcodec_find_encoder_by_name(name.c_str());
    if (!encoder) {
        return fail("this FFmpeg has no " + name + " encoder");
    }
    mEncoder = avcodec_alloc_context3(encoder);
    if (!mEncoder) {
        return fail("out of memory");
    }
    if (name == "flac") {
        mEncoder->sample_fmt = deep ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
        mEncoder->bits_per_raw_sample = deep ? 24 : 16;
    } else if (takesFormat(encoder, mDecoder->sample_fmt)) {
        mEncoder->sample_fmt = mDecoder->sample_fmt;
    } else {
        mEncoder->sample_fmt = encoder->sample_fmts[0];
    }
    mEncoder->sample_rate = encoder->supported_samplerates
                                ? nearestRate(encoder->supported_samplerates, mDecoder->sample_rate)
                                : mDecoder->sample_rate;
    av_channel_layout_copy(&mEncoder->ch_layout, &mDecoder->ch_layout);
    mEncoder->bit_rate = mSettings.bitRate;
    mEncoder->time_base = AVRational{1, mEncoder->sample_rate};
    mEncoder->thread_count = 1;
    if (mOutput->oformat->flags & AVFMT_GLOBALHEADER) {
        mEncoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    const int status = avcodec_open2(mEncoder, encoder, nullptr);
    return status >= 0 || fail("cannot start the " + name + " encoder", status);
}

bool AudioTranscoder::openResampler() {
    const bool same = mEncoder->sample_fmt == mDecoder->sample_fmt &&
                      mEncoder->sample_rate == mDecoder->sample_rate &&
                      av_channel_layout_compare(&mEncoder->ch_layout, &mDecoder->ch_layout) == 0;
    if (!same) {
        int status = swr_alloc_set_opts2(&mResampler, &mEncoder->ch_layout, mEncoder->sample_fmt,
                                         mEncoder->sample_rate, &mDecoder->ch_layout,
                                         mDecoder->sample_fmt, mDecoder->sample_rate, 0, nullptr);
        if (status >= 0 && mResampler) {
            status = swr_init(mResampler);
        }
        if (status < 0 || !mResampler) {
            return fail("cannot convert the sound", status);
        }
    }
    const int frameSize = mEncoder->frame_size > 0 ? mEncoder->frame_size : kVariableFrameSize;
    mFifo =
        av_audio_fifo_alloc(mEncoder->sample_fmt, mEncoder->ch_layout.nb_channels, frameSize * 4);
    mEncoded = av_frame_alloc();
    if (!mFifo || !mEncoded) {
        return fail("out of memory");
    }
    mEncoded->format = mEncoder->sample_fmt;
    mEncoded->sample_rate = mEncoder->sample_rate;
    mEncoded->nb_samples = frameSize;
    av_channel_layout_copy(&mEncoded->ch_layout, &mEncoder->ch_layout);
    const int status = av_frame_get_buffer(mEncoded, 0);
    return status >= 0 || fail("out of memory", status);
}

bool AudioTranscoder::openDestination() {
    int status = avformat_alloc_output_context2(&mOutput, nullptr, mSettings.container.c_str(),
                                                mDestination.c_str());
    if (status < 0 || !mOutput) {
        return fail("cannot make a " + mSettings.container + " file", status);
    }
    if (!openEncoder() || !openResampler()) {
        return false;
    }
    AVStream* stream = avformat_new_stream(mOutput, nullptr);
    if (!stream) {
        return fail("out of memory");
    }
    status = avcodec_parameters_from_context(stream->codecpar, mEncoder);
    if (status < 0) {
        return fail("cannot describe the sound track", status);
    }
    stream->time_base = mEncoder->time_base;

    // Created here, never over an existing file.
    const int created = ::open(mDestination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (created < 0) {
        return fail("cannot create " + mDestination, AVERROR(errno));
    }
    ::close(created);
    mCreatedFile = true;
    status = avio_open(&mOutput->pb, mDestination.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) {
        return fail("cannot create " + mDestination, status);
    }
    mFileOpen = true;
    AVDictionary* options = nullptr;
    // The tags are written afterwards, in the format's own way.
    av_dict_set(&options, "id3v2_version", "0", 0);
    status = avformat_write_header(mOutput, &options);
    av_dict_free(&options);
    return status >= 0 || fail("cannot start " + mDestination, status);
}

bool AudioTranscoder::convert(const ProgressBlock& progress) {
    const AVStream* source = mInput->streams[mStream];
    double duration = source->duration != AV_NOPTS_VALUE
                          ? source->duration * av_q2d(source->time_base)
                          : mInput->duration / double(AV_TIME_BASE);
    bool inputEnded = false;
    while (!inputEnded) {
        int status = av_read_frame(mInput, mPacket);
        if (status == AVERROR_EOF) {
            inputEnded = true;
            status = avcodec_send_packet(mDecoder, nullptr);
        } else if (status < 0) {
            return fail("cannot read " + mSource, status);
        } else if (mPacket->stream_index != mStream) {
            av_packet_unref(mPacket);
            continue;
        } else {
            if (progress && duration > 0 && mPacket->pts != AV_NOPTS_VALUE) {
                if (!progress(std::min(1.0, mPacket->pts * av_q2d(source->time_base) / duration))) {
                    mStopped = true;
                    return fail("the conversion was stopped");
                }
            }
            status = avcodec_send_packet(mDecoder, mPacket);
            av_packet_unref(mPacket);
        }
        if (status < 0 && status != AVERROR(EAGAIN) && status != AVERROR_EOF) {
            return fail("cannot decode the sound of " + mSource, status);
        }
        if (!decodeAvailable()) {
            return false;
        }
    }
    // The resampler's tail, the last short frame, the encoder's delay.
    if ((mResampler && !resample(nullptr)) || !encodeFrames(true) || !encode(nullptr)) {
        return false;
    }
    int status = av_write_trailer(mOutput);
    if (status < 0) {
        return fail("cannot finish " + mDestination, status);
    }
    if (mOutput->pb->error < 0) {
        return fail("cannot write " + mDestination, mOutput->pb->error);
    }
    status = avio_closep(&mOutput->pb);
    mFileOpen = false;
    if (status < 0) {
        return fail("cannot write " + mDestination, status);
    }
    if (progress) {
        progress(1.0);
    }
    return true;
}

bool AudioTranscoder::decodeAvailable() {
    for (;;) {
        const int status = avcodec_receive_frame(mDecoder, mDecoded);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
            return true;
        }
        if (status < 0) {
            return fail("cannot decode the sound of " + mSource, status);
        }
        // The last packet's padding, beyond the source's length, is not sound.
        if (mSourceLength >= 0 && mSamplesDecoded + mDecoded->nb_samples > mSourceLength) {
            mDecoded->nb_samples =
                static_cast<int>(std::max<int64_t>(0, mSourceLength - mSamplesDecoded));
        }
        mSamplesDecoded += mDecoded->nb_samples;
        const bool converted =
            mDecoded->nb_samples == 0 || (resample(mDecoded) && encodeFrames(false));
        av_frame_unref(mDecoded);
        if (!converted) {
            return false;
        }
    }
}

// Puts a decoded frame (none: the resampler's tail) into the queue of
// samples waiting for the encoder, in the encoder's format.
bool AudioTranscoder::resample(const AVFrame* frame) {
    if (!mResampler) {
        if (av_audio_fifo_write(mFifo, reinterpret_cast<void**>(frame->extended_data),
                                frame->nb_samples) < frame->nb_samples) {
            return fail("out of memory");
        }
        return true;
    }
    const int input = frame ? frame->nb_samples : 0;
    const int capacity = swr_get_out_samples(mResampler, input);
    if (capacity > mConvertedCapacity) {
        if (mConverted) {
            av_freep(&mConverted[0]);
        }
        av_freep(&mConverted);
        if (av_samples_alloc_array_and_samples(&mConverted, nullptr,
                                               mEncoder->ch_layout.nb_channels, capacity,
                                               mEncoder->sample_fmt, 0) < 0) {
            mConvertedCapacity = 0;
            return fail("out of memory");
        }
        mConvertedCapacity = capacity;
    }
    const int got =
        swr_convert(mResampler, mConverted, mConvertedCapacity,
                    frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr, input);
    if (got < 0) {
        return fail("cannot convert the sound", got);
    }
    if (got > 0 && av_audio_fifo_write(mFifo, reinterpret_cast<void**>(mConverted), got) < got) {
        return fail("out of memory");
    }
    return true;
}

bool AudioTranscoder::encodeFrames(bool flush) {
    const int frameSize = mEncoder->frame_size > 0 ? mEncoder->frame_size : kVariableFrameSize;
    while (av_audio_fifo_size(mFifo) >= frameSize || (flush && av_audio_fifo_size(mFifo) > 0)) {
        const int count = std::min(frameSize, av_audio_fifo_size(mFifo));
        int status = av_frame_make_writable(mEncoded);
        if (status < 0) {
            return fail("out of memory", status);
        }
        mEncoded->nb_samples = count;
        if (av_audio_fifo_read(mFifo, reinterpret_cast<void**>(mEncoded->data), count) < count) {
            return fail("cannot convert the sound");
        }
        mEncoded->pts = mSamplesEncoded;
        mSamplesEncoded += count;
        if (!encode(mEncoded)) {
            return false;
        }
    }
    return true;
}

bool AudioTranscoder::encode(AVFrame* frame) {
    int status = avcodec_send_frame(mEncoder, frame);
    if (status < 0) {
        return fail("cannot encode the sound", status);
    }
    AVStream* stream = mOutput->streams[0];
    for (;;) {
        status = avcodec_receive_packet(mEncoder, mPacket);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
            return true;
        }
        if (status < 0) {
            return fail("cannot encode the sound", status);
        }
        av_packet_rescale_ts(mPacket, mEncoder->time_base, stream->time_base);
        mPacket->stream_index = stream->index;
        status = av_write_frame(mOutput, mPacket);
        av_packet_unref(mPacket);
        if (status < 0 || mOutput->pb->error < 0) {
            return fail("cannot write " + mDestination, status < 0 ? status : mOutput->pb->error);
        }
    }
}

void AudioTranscoder::close() {
    if (mOutput && mFileOpen) {
        avio_closep(&mOutput->pb);
        mFileOpen = false;
    }
    if (mConverted) {
        av_freep(&mConverted[0]);
    }
    av_freep(&mConverted);
    mConvertedCapacity = 0;
    if (mFifo) {
        av_audio_fifo_free(mFifo);
        mFifo = nullptr;
    }
    swr_free(&mResampler);
    av_frame_free(&mDecoded);
    av_frame_free(&mEncoded);
    av_packet_free(&mPacket);
    avcodec_free_context(&mDecoder);
    avcodec_free_context(&mEncoder);
    if (mOutput) {
        avformat_free_context(mOutput);
        mOutput = nullptr;
    }
    avformat_close_input(&mInput);
}

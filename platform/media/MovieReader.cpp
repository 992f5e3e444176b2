#include "platform/media/MovieReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <memory>

namespace {

std::string describeError(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

struct Decoder {
    AVCodecContext* codec = nullptr;
    int stream = -1;
    ~Decoder() { avcodec_free_context(&codec); }
};

bool openDecoder(AVFormatContext* format, AVMediaType type, Decoder* decoder) {
    const AVCodec* codec = nullptr;
    decoder->stream = av_find_best_stream(format, type, -1, -1, &codec, 0);
    if (decoder->stream < 0 || !codec) {
        decoder->stream = -1;
        return false;
    }
    decoder->codec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder->codec, format->streams[decoder->stream]->codecpar);
    return avcodec_open2(decoder->codec, codec, nullptr) >= 0;
}

} // namespace

bool MovieReader::read(const std::string& path, MovieInfo* info, std::string* error,
                       const FrameVisitor& visitFrame) {
    *info = MovieInfo{};
    AVFormatContext* format = nullptr;
    int status = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    if (status < 0) {
        *error = "cannot open " + path + ": " + describeError(status);
        return false;
    }
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> closer(
        format, [](AVFormatContext* f) { avformat_close_input(&f); });
    if ((status = avformat_find_stream_info(format, nullptr)) < 0) {
        *error = "cannot read " + path + ": " + describeError(status);
        return false;
    }
    info->container = format->iformat->name;
    Decoder video, audio;
    if (openDecoder(format, AVMEDIA_TYPE_VIDEO, &video)) {
        info->videoCodec = avcodec_get_name(video.codec->codec_id);
        info->width = video.codec->width;
        info->height = video.codec->height;
        const AVRational rate = format->streams[video.stream]->avg_frame_rate;
        info->framesPerSecond = rate.den ? av_q2d(rate) : 0;
    }
    if (openDecoder(format, AVMEDIA_TYPE_AUDIO, &audio)) {
        info->audioCodec = avcodec_get_name(audio.codec->codec_id);
        const char* profile = av_get_profile_name(audio.codec->codec, audio.codec->profile);
        info->audioProfile = profile ? profile : "";
        info->sampleRate = audio.codec->sample_rate;
        info->channels = audio.codec->ch_layout.nb_channels;
    }

    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<uint8_t> luma;
    auto drain = [&](Decoder& decoder) {
        while (avcodec_receive_frame(decoder.codec, frame) == 0) {
            if (decoder.stream == video.stream) {
                const AVRational base = format->streams[video.stream]->time_base;
                const int64_t pts = frame->best_effort_timestamp;
                info->framePresentationTimes.push_back(
                    info->framesPerSecond > 0
                        ? std::llround(pts * av_q2d(base) * info->framesPerSecond)
                        : pts);
                if (visitFrame) {
                    luma.resize(static_cast<size_t>(frame->width) * frame->height);
                    for (int row = 0; row < frame->height; ++row) {
                        std::copy(frame->data[0] + static_cast<ptrdiff_t>(row) * frame->linesize[0],
                                  frame->data[0] + static_cast<ptrdiff_t>(row) * frame->linesize[0] +
                                      frame->width,
                                  luma.begin() + static_cast<ptrdiff_t>(row) * frame->width);
                    }
                    visitFrame(info->videoFrames, luma, frame->width, frame->height);
                }
                ++info->videoFrames;
            } else {
                info->audioFrames += frame->nb_samples;
                if (frame->format == AV_SAMPLE_FMT_FLTP) {
                    for (int channel = 0; channel < frame->ch_layout.nb_channels; ++channel) {
                        const float* samples = reinterpret_cast<const float*>(frame->extended_data[channel]);
                        for (int i = 0; i < frame->nb_samples; ++i) {
                            info->audioPeak = std::max(info->audioPeak,
                                                       static_cast<double>(std::fabs(samples[i])));
                        }
                    }
                }
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        Decoder* decoder = packet->stream_index == video.stream && video.codec ? &video
                           : packet->stream_index == audio.stream && audio.codec ? &audio
                                                                                 : nullptr;
        if (decoder) {
            avcodec_send_packet(decoder->codec, packet);
            drain(*decoder);
        }
        av_packet_unref(packet);
    }
    for (Decoder* decoder : {&video, &audio}) {
        if (decoder->codec) {
            avcodec_send_packet(decoder->codec, nullptr);
            drain(*decoder);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    if (info->framesPerSecond > 0) {
        info->videoDuration = info->videoFrames / info->framesPerSecond;
    }
    if (info->sampleRate > 0) {
        info->audioDuration = static_cast<double>(info->audioFrames) / info->sampleRate;
    }
    return true;
}

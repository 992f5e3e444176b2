#include "platform/media/MovieWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

std::string describeError(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// Rows converted beyond a changed band on each side, so that the chroma
// filter sees the same neighbours as in a whole frame and no seam appears.
constexpr int kBandMargin = 8;

// RGB rows to limited-range YUV with the BT.709 matrix, the colours the
// stream is tagged with, so that players following the tags show the
// painted colours.
SwsContext* newRGBToYUVScaler(int width, int height) {
    SwsContext* scaler =
        sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_YUV420P,
                       SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (scaler) {
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    }
    return scaler;
}

} // namespace

std::unique_ptr<MovieWriter> MovieWriter::create(const std::string& path,
                                                 const MovieSettings& settings,
                                                 std::string* error) {
    std::unique_ptr<MovieWriter> writer(new MovieWriter);
    writer->mPath = path;
    if (!writer->open(settings)) {
        if (error) {
            *error = writer->mError;
        }
        writer->abandon();
        return nullptr;
    }
    return writer;
}

MovieWriter::~MovieWriter() {
    if (!mFinished) {
        abandon();
    }
    close();
}

bool MovieWriter::fail(const std::string& what, int ffmpegError) {
    if (mError.empty()) {
        mError = ffmpegError ? what + ": " + describeError(ffmpegError) : what;
    }
    return false;
}

bool MovieWriter::open(const MovieSettings& settings) {
    mSettings = settings;
    if (settings.width <= 0 || settings.height <= 0 || settings.width % 2 || settings.height % 2 ||
        settings.framesPerSecond <= 0 || settings.sampleRate <= 0 || settings.channels <= 0) {
        return fail("unusable movie settings");
    }
    int status = avformat_alloc_output_context2(&mFormat, nullptr, "mov", mPath.c_str());
    if (status < 0 || !mFormat) {
        return fail("cannot make a QuickTime movie", status);
    }
    if (!openVideo() || !openAudio()) {
        return false;
    }
    status = avio_open(&mFormat->pb, mPath.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) {
        return fail("cannot create " + mPath, status);
    }
    mFileOpen = true;
    mCreatedFile = true;
    status = avformat_write_header(mFormat, nullptr);
    if (status < 0) {
        return fail("cannot start the movie", status);
    }
    mHeaderWritten = true;
    mPacket = av_packet_alloc();
    return mPacket != nullptr || fail("out of memory");
}

bool MovieWriter::openVideo() {
    const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
    if (!encoder) {
        return fail("this FFmpeg has no H.264 encoder (libx264)");
    }
    mVideoStream = avformat_new_stream(mFormat, nullptr);
    mVideoCodec = avcodec_alloc_context3(encoder);
    if (!mVideoStream || !mVideoCodec) {
        return fail("out of memory");
    }
    mVideoCodec->width = mSettings.width;
    mVideoCodec->height = mSettings.height;
    mVideoCodec->pix_fmt = AV_PIX_FMT_YUV420P;
    mVideoCodec->time_base = AVRational{1, mSettings.framesPerSecond};
    mVideoCodec->framerate = AVRational{mSettings.framesPerSecond, 1};
    mVideoCodec->gop_size = mSettings.maximumKeyFrameInterval;
    mVideoCodec->color_range = AVCOL_RANGE_MPEG;
    mVideoCodec->colorspace = AVCOL_SPC_BT709;
    mVideoCodec->color_primaries = AVCOL_PRI_BT709;
    mVideoCodec->color_trc = AVCOL_TRC_BT709;
    mVideoCodec->thread_count = 0;
    // The picture is a still with small moving parts: a fast preset loses
    // little there, and a constant quality keeps the still parts clean
    // (they are coded once and then skipped).
    av_opt_set(mVideoCodec->priv_data, "preset", "veryfast", 0);
    av_opt_set(mVideoCodec->priv_data, "crf", "20", 0);
    if (mFormat->oformat->flags & AVFMT_GLOBALHEADER) {
        mVideoCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int status = avcodec_open2(mVideoCodec, encoder, nullptr);
    if (status < 0) {
        return fail("cannot start the H.264 encoder", status);
    }
    status = avcodec_parameters_from_context(mVideoStream->codecpar, mVideoCodec);
    if (status < 0) {
        return fail("cannot describe the picture track", status);
    }
    mVideoStream->time_base = mVideoCodec->time_base;
    mVideoStream->avg_frame_rate = mVideoCodec->framerate;

    mPicture = av_frame_alloc();
    if (!mPicture) {
        return fail("out of memory");
    }
    mPicture->format = AV_PIX_FMT_YUV420P;
    mPicture->width = mSettings.width;
    mPicture->height = mSettings.height;
    status = av_frame_get_buffer(mPicture, 0);
    if (status < 0) {
        return fail("out of memory", status);
    }
    mScaler = newRGBToYUVScaler(mSettings.width, mSettings.height);
    return mScaler != nullptr || fail("cannot convert the picture's colours");
}

bool MovieWriter::openAudio() {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!encoder) {
        return fail("this FFmpeg has no AAC encoder");
    }
    mAudioStream = avformat_new_stream(mFormat, nullptr);
    mAudioCodec = avcodec_alloc_context3(encoder);
    if (!mAudioStream || !mAudioCodec) {
        return fail("out of memory");
    }
    mAudioCodec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    mAudioCodec->sample_rate = mSettings.sampleRate;
    av_channel_layout_default(&mAudioCodec->ch_layout, mSettings.channels);
    mAudioCodec->bit_rate = mSettings.audioBitRate;
    mAudioCodec->profile = FF_PROFILE_AAC_LOW;
    mAudioCodec->time_base = AVRational{1, mSettings.sampleRate};
    if (mFormat->oformat->flags & AVFMT_GLOBALHEADER) {
        mAudioCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int status = avcodec_open2(mAudioCodec, encoder, nullptr);
    if (status < 0) {
        return fail("cannot start the AAC encoder", status);
    }
    status = avcodec_parameters_from_context(mAudioStream->codecpar, mAudioCodec);
    if (status < 0) {
        return fail("cannot describe the sound track", status);
    }
    mAudioStream->time_base = mAudioCodec->time_base;
    mFifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, mSettings.channels, mAudioCodec->frame_size * 4);
    mSoundFrame = av_frame_alloc();
    if (!mFifo || !mSoundFrame) {
        return fail("out of memory");
    }
    mSoundFrame->format = AV_SAMPLE_FMT_FLTP;
    mSoundFrame->sample_rate = mSettings.sampleRate;
    mSoundFrame->nb_samples = mAudioCodec->frame_size;
    av_channel_layout_copy(&mSoundFrame->ch_layout, &mAudioCodec->ch_layout);
    status = av_frame_get_buffer(mSoundFrame, 0);
    return status >= 0 || fail("out of memory", status);
}

bool MovieWriter::encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame) {
    int status = avcodec_send_frame(codec, frame);
    if (status < 0) {
        return fail("cannot encode the movie", status);
    }
    for (;;) {
        status = avcodec_receive_packet(codec, mPacket);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
            return true;
        }
        if (status < 0) {
            return fail("cannot encode the movie", status);
        }
        av_packet_rescale_ts(mPacket, codec->time_base, stream->time_base);
        mPacket->stream_index = stream->index;
        status = av_interleaved_write_frame(mFormat, mPacket);
        if (status < 0) {
            return fail("cannot write " + mPath, status);
        }
        if (mFormat->pb->error < 0) {
            return fail("cannot write " + mPath, mFormat->pb->error);
        }
    }
}

bool MovieWriter::convertRows(const uint8_t* pixels, int bytesPerRow, int top, int bottom) {
    if (top <= 0 && bottom >= mSettings.height) {
        const uint8_t* source[1] = {pixels};
        const int stride[1] = {bytesPerRow};
        sws_scale(mScaler, source, stride, 0, mSettings.height, mPicture->data,
                  mPicture->linesize);
        return true;
    }
    // Convert the band with a margin into a scratch frame, then keep only
    // the band's rows (whole chroma rows: even boundaries).
    top = std::max(0, top) & ~1;
    bottom = std::min(mSettings.height, (bottom + 1) & ~1);
    if (bottom <= top) {
        return true;
    }
    const int from = std::max(0, top - kBandMargin);
    const int to = std::min(mSettings.height, bottom + kBandMargin);
    const int height = to - from;
    if (!mBandScaler || height != mBandHeight) {
        sws_freeContext(mBandScaler);
        mBandScaler = newRGBToYUVScaler(mSettings.width, height);
        mBandHeight = height;
        if (!mBandScaler) {
            return fail("cannot convert the picture's colours");
        }
    }
    const int lumaStride = mPicture->linesize[0];
    const int chromaStride = mPicture->linesize[1];
    std::vector<uint8_t> luma(static_cast<size_t>(lumaStride) * height);
    std::vector<uint8_t> chromaU(static_cast<size_t>(chromaStride) * (height / 2));
    std::vector<uint8_t> chromaV(chromaU.size());
    uint8_t* target[3] = {luma.data(), chromaU.data(), chromaV.data()};
    const int targetStride[3] = {lumaStride, chromaStride, chromaStride};
    const uint8_t* source[1] = {pixels + static_cast<ptrdiff_t>(from) * bytesPerRow};
    const int stride[1] = {bytesPerRow};
    sws_scale(mBandScaler, source, stride, 0, height, target, targetStride);
    std::copy(luma.begin() + static_cast<ptrdiff_t>(top - from) * lumaStride,
              luma.begin() + static_cast<ptrdiff_t>(bottom - from) * lumaStride,
              mPicture->data[0] + static_cast<ptrdiff_t>(top) * lumaStride);
    for (int plane = 1; plane < 3; ++plane) {
        const std::vector<uint8_t>& chroma = plane == 1 ? chromaU : chromaV;
        std::copy(chroma.begin() + static_cast<ptrdiff_t>((top - from) / 2) * chromaStride,
                  chroma.begin() + static_cast<ptrdiff_t>((bottom - from) / 2) * chromaStride,
                  mPicture->data[plane] + static_cast<ptrdiff_t>(top / 2) * chromaStride);
    }
    return true;
}

bool MovieWriter::appendVideoFrame(const uint8_t* pixels, int bytesPerRow, int64_t index,
                                   int changedTop, int changedBottom) {
    if (failed() || mVideoFinished || !pixels || bytesPerRow < mSettings.width * 4) {
        return fail(mVideoFinished ? "the picture track is finished" : "no picture");
    }
    // The encoder may still hold the last frame; writing into a shared one
    // would change what it encodes.
    int status = av_frame_make_writable(mPicture);
    if (status < 0) {
        return fail("out of memory", status);
    }
    const bool whole = mVideoFrames == 0 || changedTop < 0 || changedBottom < 0;
    if (!convertRows(pixels, bytesPerRow, whole ? 0 : changedTop,
                     whole ? mSettings.height : changedBottom)) {
        return false;
    }
    mPicture->pts = index;
    if (!encode(mVideoCodec, mVideoStream, mPicture)) {
        return false;
    }
    ++mVideoFrames;
    return true;
}

bool MovieWriter::appendAudio(const int16_t* samples, int frames) {
    if (failed() || mAudioFinished) {
        return fail("the sound track is finished");
    }
    if (frames <= 0) {
        return true;
    }
    const int channels = mSettings.channels;
    std::vector<std::vector<float>> planes(channels, std::vector<float>(frames));
    std::vector<void*> pointers(channels);
    for (int channel = 0; channel < channels; ++channel) {
        float* plane = planes[channel].data();
        for (int frame = 0; frame < frames; ++frame) {
            plane[frame] = samples[frame * channels + channel] * (1.0f / 32768.0f);
        }
        pointers[channel] = plane;
    }
    if (av_audio_fifo_write(mFifo, pointers.data(), frames) < frames) {
        return fail("out of memory");
    }
    mSamplesIn += frames;
    return encodeAudioFrames(false);
}

bool MovieWriter::encodeAudioFrames(bool flush) {
    const int frameSize = mAudioCodec->frame_size;
    while (av_audio_fifo_size(mFifo) >= frameSize || (flush && av_audio_fifo_size(mFifo) > 0)) {
        const int count = std::min(frameSize, av_audio_fifo_size(mFifo));
        int status = av_frame_make_writable(mSoundFrame);
        if (status < 0) {
            return fail("out of memory", status);
        }
        mSoundFrame->nb_samples = count;
        if (av_audio_fifo_read(mFifo, reinterpret_cast<void**>(mSoundFrame->data), count) < count) {
            return fail("cannot read back the sound");
        }
        mSoundFrame->pts = mSamplesEncoded;
        mSamplesEncoded += count;
        if (!encode(mAudioCodec, mAudioStream, mSoundFrame)) {
            return false;
        }
    }
    return true;
}

bool MovieWriter::finishVideo() {
    if (mVideoFinished || failed()) {
        return !failed();
    }
    mVideoFinished = true;
    return encode(mVideoCodec, mVideoStream, nullptr);
}

bool MovieWriter::finishAudio() {
    if (mAudioFinished || failed()) {
        return !failed();
    }
    mAudioFinished = true;
    return encodeAudioFrames(true) && encode(mAudioCodec, mAudioStream, nullptr);
}

bool MovieWriter::finish() {
    if (mFinished) {
        return !failed();
    }
    bool ok = finishVideo() && finishAudio();
    if (ok) {
        const int status = av_write_trailer(mFormat);
        if (status < 0) {
            ok = fail("cannot finish " + mPath, status);
        } else if (mFormat->pb->error < 0) {
            ok = fail("cannot write " + mPath, mFormat->pb->error);
        }
    }
    if (ok && mFileOpen) {
        avio_flush(mFormat->pb);
        if (mFormat->pb->error < 0) {
            ok = fail("cannot write " + mPath, mFormat->pb->error);
        }
        const int status = avio_closep(&mFormat->pb);
        mFileOpen = false;
        if (ok && status < 0) {
            ok = fail("cannot write " + mPath, status);
        }
    }
    if (!ok) {
        abandon();
        return false;
    }
    mFinished = true;
    return true;
}

void MovieWriter::abandon() {
    if (mFormat && mFileOpen) {
        avio_closep(&mFormat->pb);
        mFileOpen = false;
    }
    mFinished = true;
    // Only a file this writer made is ever removed.
    if (mCreatedFile) {
        std::remove(mPath.c_str());
        mCreatedFile = false;
    }
    if (mError.empty()) {
        mError = "the movie was abandoned";
    }
}

void MovieWriter::close() {
    if (mFormat && mFileOpen) {
        avio_closep(&mFormat->pb);
        mFileOpen = false;
    }
    avcodec_free_context(&mVideoCodec);
    avcodec_free_context(&mAudioCodec);
    av_frame_free(&mPicture);
    av_frame_free(&mSoundFrame);
    av_packet_free(&mPacket);
    if (mFifo) {
        av_audio_fifo_free(mFifo);
        mFifo = nullptr;
    }
    sws_freeContext(mScaler);
    sws_freeContext(mBandScaler);
    mScaler = mBandScaler = nullptr;
    if (mFormat) {
        avformat_free_context(mFormat);
        mFormat = nullptr;
    }
}

double MovieWriter::audioTime() const {
    return static_cast<double>(mSamplesIn) / mSettings.sampleRate;
}

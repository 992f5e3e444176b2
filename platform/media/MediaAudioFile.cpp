#include "platform/media/MediaAudioFile.h"

#include "platform/media/Mp4Boxes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

constexpr uint32_t kDefaultStereoAACBitRate = 128000;

thread_local std::string tLastError;
std::atomic<bool> gCrashSafeWriting{true};
std::atomic<bool> gJournalKeptAfterFinishing{false};

std::function<void(const char*)>& stepObserver() {
    static std::function<void(const char*)> observer;
    return observer;
}

void step(const char* name) {
    if (stepObserver()) {
        stepObserver()(name);
    }
}

// FFmpeg reports problems through our statuses; its own chatter stays quiet.
const bool gQuietFFmpeg = [] {
    av_log_set_level(AV_LOG_FATAL);
    return true;
}();
constexpr int kAACPrerollPackets = 4; // decoder state converges well within this

std::string ffmpegErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof(text));
    return text;
}

// A recording made without a name gets it with its first bytes; someone
// else's file may have taken the name by then.
std::string nameTaken(const std::string& path) {
    return path + " was taken by another file before the recording began; nothing was recorded";
}

OSStatus statusForOpenError(int error) {
    switch (error) {
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
        return kAudioFileFileNotFoundError;
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EROFS):
    case AVERROR(EBUSY):
    case AVERROR(EEXIST):
    case AVERROR(ELOOP):
    case AVERROR(EINVAL):
        return kAudioFilePermissionsError;
    case AVERROR(ENOSPC):
        return kAudioFileDiskFullError;
    default:
        return kAudioFileInvalidFileError;
    }
}

OSStatus statusForWriteError(int error) {
    return error == AVERROR(ENOSPC) || error == AVERROR(EDQUOT) || error == AVERROR(EFBIG)
               ? kAudioFileDiskFullError
               : kAudioFileUnspecifiedError;
}

// How much of the coming audio is written before the next checkpoint can
// notice a full disk, and how much room the index takes per packet.
constexpr double kSecondsWrittenAhead = 3.0;
constexpr uint64_t kIndexBytesPerPacket = 12;
constexpr uint64_t kIndexBytesFixed = 64 * 1024;
// Audio synced to the disk and journalled at least this often (in seconds of
// audio): each checkpoint costs two syncs and a journal write, and what was
// written since the last one is what a crash can cost. Recovery accepts
// several seconds of audio past the journal, well above this.
constexpr double kCheckpointInterval = 1.0;

bool isFloatNonInterleaved(const AudioStreamBasicDescription& format) {
    const bool nonInterleaved = (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0 ||
                                format.mChannelsPerFrame == 1;
    return format.mFormatID == kAudioFormatLinearPCM &&
           (format.mFormatFlags & kAudioFormatFlagIsFloat) && nonInterleaved &&
           format.mBitsPerChannel == 32;
}

AudioStreamBasicDescription clientFormatFor(uint32_t channels, double rate) {
    AudioStreamBasicDescription format{};
    format.mSampleRate = rate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    format.mBytesPerPacket = 4;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = 4;
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = 32;
    return format;
}

uint32_t alacFlagsForBits(int bits) {
    switch (bits) {
    case 16:
        return kAppleLosslessFormatFlag_16BitSourceData;
    case 20:
        return kAppleLosslessFormatFlag_20BitSourceData;
    case 24:
        return kAppleLosslessFormatFlag_24BitSourceData;
    case 32:
        return kAppleLosslessFormatFlag_32BitSourceData;
    default:
        return 0;
    }
}

uint32_t formatIDForCodec(const AVCodecParameters* parameters) {
    switch (parameters->codec_id) {
    case AV_CODEC_ID_AAC:
        return kAudioFormatMPEG4AAC;
    case AV_CODEC_ID_ALAC:
        return kAudioFormatAppleLossless;
    case AV_CODEC_ID_MP3:
        return FourCC(".mp3");
    default: {
        const uint32_t tag = parameters->codec_tag; // FFmpeg keeps tags little-endian
        return (tag & 0xFF) << 24 | (tag & 0xFF00) << 8 | (tag >> 8 & 0xFF00) | tag >> 24;
    }
    }
}

int64_t scaled(int64_t value, int64_t from, int64_t to) {
    if (from <= 0 || from == to) {
        return value;
    }
    return av_rescale(value, to, from);
}

} // namespace

// Opening and closing

OSStatus MediaAudioFile::create(const std::string& path, uint32_t fileType,
                                const AudioStreamBasicDescription& format,
                                std::unique_ptr<MediaAudioFile>* file, bool erase) {
    if (!file) {
        return kAudio_ParamError;
    }
    file->reset();
    if (fileType != kAudioFileM4AType && fileType != kAudioFileMPEG4Type) {
        return kAudioFileUnsupportedFileTypeError;
    }
    if ((format.mFormatID != kAudioFormatAppleLossless &&
         format.mFormatID != kAudioFormatMPEG4AAC) ||
        format.mChannelsPerFrame < 1 || format.mChannelsPerFrame > 8 || format.mSampleRate < 0 ||
        !std::isfinite(format.mSampleRate)) {
        return kAudioFileUnsupportedDataFormatError;
    }
    std::unique_ptr<MediaAudioFile> made(new MediaAudioFile);
    made->mPath = path;
    made->mWriting = true;
    made->mFileType = fileType;
    made->mFileFormat = format;
    made->mFileFormat.mFramesPerPacket = format.mFormatID == kAudioFormatMPEG4AAC ? 1024 : 4096;
    made->mClientFormat = clientFormatFor(format.mChannelsPerFrame, format.mSampleRate);
    // Creating (and erasing) the file now reports a bad path at once.
    if (const int error = made->mOutput.open(path, erase)) {
        made->mClosed = true; // nothing to finish
        const std::string why = error == EBUSY    ? path + " is being recorded by another process"
                                : error == EEXIST ? path + " exists"
                                : error == EINVAL || error == ELOOP
                                    ? path + " is a link or not a plain file"
                                    : "cannot create " + path;
        return made->fail(statusForOpenError(AVERROR(error)), why,
                          error == EBUSY || error == EEXIST || error == EINVAL || error == ELOOP
                              ? 0
                              : AVERROR(error));
    }
    made->mStartedAt = static_cast<int64_t>(std::time(nullptr));
    *file = std::move(made);
    return kAudioHardwareNoError;
}

OSStatus MediaAudioFile::open(const std::string& path, std::unique_ptr<MediaAudioFile>* file) {
    if (!file) {
        return kAudio_ParamError;
    }
    file->reset();
    std::unique_ptr<MediaAudioFile> made(new MediaAudioFile);
    const OSStatus status = made->openForReading(path);
    if (status == kAudioHardwareNoError) {
        *file = std::move(made);
    }
    return status;
}

MediaAudioFile::~MediaAudioFile() {
    close();
}

OSStatus MediaAudioFile::close() {
    if (mClosed) {
        return kAudioHardwareNoError;
    }
    mClosed = true;
    OSStatus status = kAudioHardwareNoError;
    if (mWriting) {
        status = finishWriting();
    }
    if (mFormat) {
        if (mWriting) {
            mFormat->pb = nullptr; // closed below
            avformat_free_context(mFormat);
        } else {
            avformat_close_input(&mFormat);
        }
        mFormat = nullptr;
    }
    mOutput.close();
    avcodec_free_context(&mCodec);
    swr_free(&mResampler);
    if (mFifo) {
        av_audio_fifo_free(mFifo);
        mFifo = nullptr;
    }
    av_frame_free(&mFrame);
    av_packet_free(&mPacket);
    reserveConverted(0, 0, AV_SAMPLE_FMT_NONE);
    return status;
}

// Grows the conversion buffer to `frames` (never shrinks it); frees it for 0 frames.
bool MediaAudioFile::reserveConverted(int channels, int frames, int sampleFormat) {
    if (frames > 0 && frames <= mConvertedCapacity) {
        return true;
    }
    if (mConverted) {
        av_freep(&mConverted[0]);
        av_freep(&mConverted);
    }
    mConvertedCapacity = 0;
    if (frames <= 0) {
        return true;
    }
    if (av_samples_alloc_array_and_samples(&mConverted, nullptr, channels, frames,
                                           static_cast<AVSampleFormat>(sampleFormat), 0) < 0) {
        return false;
    }
    mConvertedCapacity = frames;
    return true;
}

OSStatus MediaAudioFile::fail(OSStatus status, const std::string& what, int ffmpegError) {
    mLastError = ffmpegError ? what + ": " + ffmpegErrorText(ffmpegError) : what;
    tLastError = mLastError;
    return status;
}

const std::string& MediaAudioFile::lastErrorOnThisThread() {
    return tLastError;
}

void MediaAudioFile::setCrashSafeWriting(bool safe) {
    gCrashSafeWriting = safe;
}

void MediaAudioFile::setStepObserver(std::function<void(const char*)> observer) {
    stepObserver() = std::move(observer);
}

void MediaAudioFile::setJournalKeptAfterFinishing(bool kept) {
    gJournalKeptAfterFinishing = kept;
}

std::string MediaAudioFile::currentPath() const {
    if (mWriting && !mClosed) {
        const std::string path = mOutput.currentPath();
        return path.empty() ? mPath : path;
    }
    return mPath;
}

OSStatus MediaAudioFile::setClientFormat(const AudioStreamBasicDescription& format) {
    if (!isFloatNonInterleaved(format) || format.mSampleRate <= 0 ||
        format.mChannelsPerFrame != mFileFormat.mChannelsPerFrame) {
        return fail(kExtAudioFileError_InvalidDataFormat,
                    "the client format must be float, one buffer per file channel");
    }
    if (mWriting && mStarted) {
        return fail(kExtAudioFileError_InvalidOperationOrder,
                    "the client format cannot change once writing began");
    }
    if (!mWriting && format.mSampleRate != mFileFormat.mSampleRate) {
        return fail(kExtAudioFileError_InvalidDataFormat,
                    "files are read at their own sample rate");
    }
    mClientFormat = clientFormatFor(format.mChannelsPerFrame, format.mSampleRate);
    return kAudioHardwareNoError;
}

// Writing

OSStatus MediaAudioFile::setEncodeBitRate(uint32_t bitsPerSecond) {
    if (!mWriting) {
        return kAudioConverterErr_PropertyNotSupported;
    }
    if (mStarted) {
        return fail(kExtAudioFileError_InvalidOperationOrder,
                    "the bit rate cannot change once writing began");
    }
    mBitRate = bitsPerSecond;
    return kAudioHardwareNoError;
}

uint32_t MediaAudioFile::encodeBitRate() const {
    if (mWriting) {
        if (mStarted) {
            return static_cast<uint32_t>(mCodec->bit_rate);
        }
        if (mFileFormat.mFormatID != kAudioFormatMPEG4AAC) {
            return mBitRate;
        }
        return mBitRate ? mBitRate : kDefaultStereoAACBitRate * mFileFormat.mChannelsPerFrame / 2;
    }
    return mBitRate;
}

OSStatus MediaAudioFile::startEncoding() {
    step("start");
    const bool aac = mFileFormat.mFormatID == kAudioFormatMPEG4AAC;
    const int channels = static_cast<int>(mFileFormat.mChannelsPerFrame);
    if (mFileFormat.mSampleRate <= 0) {
        mFileFormat.mSampleRate = mClientFormat.mSampleRate; // the recording device's rate
    }
    const int rate = static_cast<int>(std::lround(mFileFormat.mSampleRate));
    if (rate <= 0) {
        return fail(kAudioFileUnsupportedDataFormatError, "no sample rate for the file");
    }
    const AVCodec* encoder = avcodec_find_encoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ALAC);
    int result = avformat_alloc_output_context2(
        &mFormat, nullptr, mFileType == kAudioFileM4AType ? "ipod" : "mp4", mPath.c_str());
    if (!encoder || result < 0) {
        return fail(kAudioFileUnsupportedDataFormatError, "no MPEG-4 encoder", result);
    }
    mFormat->pb = mOutput.context();
    mCodec = avcodec_alloc_context3(encoder);
    mCodec->sample_rate = rate;
    av_channel_layout_default(&mCodec->ch_layout, channels);
    mCodec->time_base = AVRational{1, rate};
    if (aac) {
        mCodec->sample_fmt = AV_SAMPLE_FMT_FLTP;
        mCodec->bit_rate = encodeBitRate();
        mCodec->profile = FF_PROFILE_AAC_LOW;
    } else if ((mFileFormat.mFormatFlags & 0x7) == kAppleLosslessFormatFlag_16BitSourceData) {
        mCodec->sample_fmt = AV_SAMPLE_FMT_S16P;
    } else {
        // 20-, 24- and 32-bit sources (and none given) are kept at 24 bits,
        // the most this encoder stores.
        mCodec->sample_fmt = AV_SAMPLE_FMT_S32P;
        mCodec->bits_per_raw_sample = 24;
        mFileFormat.mFormatFlags =
            (mFileFormat.mFormatFlags & ~0x7u) | kAppleLosslessFormatFlag_24BitSourceData;
    }
    if (mFormat->oformat->flags & AVFMT_GLOBALHEADER) {
        mCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVDictionary* encoderOptions = nullptr;
    if (aac) {
        // Without noise substitution the decoded file is the same whichever
        // frame decoding starts from, so seeks land on exactly the samples a
        // straight read gives.
        av_dict_set(&encoderOptions, "aac_pns", "0", 0);
    }
    result = avcodec_open2(mCodec, encoder, &encoderOptions);
    av_dict_free(&encoderOptions);
    if (result < 0) {
        return fail(kAudioFileUnsupportedDataFormatError, "the encoder refused the format", result);
    }
    AVStream* stream = avformat_new_stream(mFormat, nullptr);
    avcodec_parameters_from_context(stream->codecpar, mCodec);
    stream->time_base = mCodec->time_base;
    mStreamIndex = stream->index;

    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "movie_timescale", rate, 0); // exact edit-list durations
    result = avformat_write_header(mFormat, &options);
    av_dict_free(&options);
    if (result < 0) {
        return mOutput.error() == EEXIST
                   ? fail(statusForOpenError(AVERROR(EEXIST)), nameTaken(mPath))
                   : fail(statusForWriteError(result), "cannot write " + mPath, result);
    }
    mPriming = mCodec->initial_padding;
    mFileFormat.mFramesPerPacket = static_cast<uint32_t>(mCodec->frame_size);
    if (const OSStatus status = beginJournal(); status != kAudioHardwareNoError) {
        return status;
    }

    AVChannelLayout clientLayout;
    av_channel_layout_default(&clientLayout, channels);
    result = swr_alloc_set_opts2(
        &mResampler, &mCodec->ch_layout, mCodec->sample_fmt, rate, &clientLayout,
        AV_SAMPLE_FMT_FLTP, static_cast<int>(std::lround(mClientFormat.mSampleRate)), 0, nullptr);
    av_channel_layout_uninit(&clientLayout);
    if (result < 0 || (result = swr_init(mResampler)) < 0) {
        return fail(kAudioFileUnsupportedDataFormatError, "cannot convert to the file's rate",
                    result);
    }
    mFifo = av_audio_fifo_alloc(mCodec->sample_fmt, channels, mCodec->frame_size * 4);
    mFrame = av_frame_alloc();
    mPacket = av_packet_alloc();
    mFrame->nb_samples = mCodec->frame_size;
    mFrame->format = mCodec->sample_fmt;
    mFrame->sample_rate = rate;
    av_channel_layout_copy(&mFrame->ch_layout, &mCodec->ch_layout);
    if (!mFifo || av_frame_get_buffer(mFrame, 0) < 0 || !mPacket) {
        return fail(kAudioFileUnspecifiedError, "out of memory");
    }
    mStarted = true;
    return kAudioHardwareNoError;
}

OSStatus MediaAudioFile::write(uint32_t frames, const AudioBufferList* data) {
    if (!mWriting || mClosed) {
        return kAudioFileNotOpenError;
    }
    if (mWriteFailure) {
        return mWriteFailure;
    }
    if (!mStarted) {
        if (const OSStatus status = startEncoding(); status != kAudioHardwareNoError) {
            mStartFailure = status;
            return status;
        }
    }
    if (frames == 0) {
        return kAudioHardwareNoError;
    }
    const uint32_t channels = mClientFormat.mChannelsPerFrame;
    if (!data || data->mNumberBuffers != channels) {
        return fail(kAudio_ParamError, "one buffer per channel expected");
    }
    const uint8_t* planes[8] = {};
    for (uint32_t channel = 0; channel < channels; ++channel) {
        const AudioBuffer& buffer = data->mBuffers[channel];
        if (!buffer.mData || buffer.mDataByteSize < frames * sizeof(float)) {
            return fail(kAudio_ParamError, "a buffer holds fewer frames than written");
        }
        planes[channel] = static_cast<const uint8_t*>(buffer.mData);
    }
    const int capacity = swr_get_out_samples(mResampler, static_cast<int>(frames));
    if (!reserveConverted(static_cast<int>(channels), capacity, mCodec->sample_fmt)) {
        return fail(kAudioFileUnspecifiedError, "out of memory");
    }
    const int converted =
        swr_convert(mResampler, mConverted, capacity, planes, static_cast<int>(frames));
    if (converted < 0 ||
        av_audio_fifo_write(mFifo, reinterpret_cast<void**>(mConverted), converted) < converted) {
        return fail(kAudioFileUnspecifiedError, "cannot convert the frames", converted);
    }
    if (const OSStatus status = encodeFrames(false); status != kAudioHardwareNoError) {
        return status;
    }
    const double rate = mFileFormat.mSampleRate;
    if (static_cast<double>(mFramesEncoded - mFramesAtCheckpoint) >= rate * kCheckpointInterval) {
        return checkpoint();
    }
    return kAudioHardwareNoError;
}

// The frames a rate conversion still holds at the end.
OSStatus MediaAudioFile::drainResampler() {
    for (;;) {
        const int capacity = std::max(mConvertedCapacity, 0);
        if (capacity == 0) {
            return kAudioHardwareNoError; // nothing was ever written
        }
        const int converted = swr_convert(mResampler, mConverted, capacity, nullptr, 0);
        if (converted < 0) {
            return fail(kAudioFileUnspecifiedError, "cannot convert the frames", converted);
        }
        if (converted == 0) {
            return kAudioHardwareNoError;
        }
        av_audio_fifo_write(mFifo, reinterpret_cast<void**>(mConverted), converted);
    }
}

OSStatus MediaAudioFile::encodeFrames(bool flush) {
    const int frameSize = mCodec->frame_size;
    while (av_audio_fifo_size(mFifo) >= frameSize || (flush && av_audio_fifo_size(mFifo) > 0)) {
        const int count = std::min(frameSize, av_audio_fifo_size(mFifo));
        if (av_frame_make_writable(mFrame) < 0) {
            return fail(kAudioFileUnspecifiedError, "out of memory");
        }
        mFrame->nb_samples = count;
        av_audio_fifo_read(mFifo, reinterpret_cast<void**>(mFrame->data), count);
        mFrame->pts = mFramesEncoded;
        mFramesEncoded += count;
        const int sent = avcodec_send_frame(mCodec, mFrame);
        if (sent < 0) {
            return fail(kAudioFileUnspecifiedError, "the encoder failed", sent);
        }
        if (const OSStatus status = writePackets(); status != kAudioHardwareNoError) {
            return status;
        }
    }
    if (flush) {
        avcodec_send_frame(mCodec, nullptr);
        return writePackets();
    }
    return kAudioHardwareNoError;
}

OSStatus MediaAudioFile::writePackets() {
    AVStream* stream = mFormat->streams[mStreamIndex];
    for (;;) {
        const int received = avcodec_receive_packet(mCodec, mPacket);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            return kAudioHardwareNoError;
        }
        if (received < 0) {
            return fail(kAudioFileUnspecifiedError, "the encoder failed", received);
        }
        av_packet_rescale_ts(mPacket, mCodec->time_base, stream->time_base);
        mPacket->stream_index = mStreamIndex;
        mMaxPacketSize = std::max(mMaxPacketSize, static_cast<uint32_t>(mPacket->size));
        ++mPacketsWritten;
        mUnsyncedPackets.push_back(static_cast<uint32_t>(mPacket->size));
        const int written = av_write_frame(mFormat, mPacket);
        av_packet_unref(mPacket);
        if (written < 0 || mOutput.error()) {
            return failWriting(mOutput.error() ? mOutput.error() : AVUNERROR(written),
                               "cannot write " + mPath);
        }
    }
}

OSStatus MediaAudioFile::finishWriting() {
    if (mStartFailure) {
        // Nothing was recorded: what the failed start left goes.
        mOutput.discard();
        mJournal.remove();
        return mStartFailure;
    }
    OSStatus status = mStarted ? kAudioHardwareNoError : startEncoding();
    if (status == kAudioHardwareNoError) {
        status = drainResampler();
    }
    if (status == kAudioHardwareNoError) {
        status = encodeFrames(true);
    }
    // Every packet is in the journal before the index goes after them, so
    // that whatever stops the finishing leaves nothing but the index to redo.
    if (status == kAudioHardwareNoError) {
        status = journalWrittenPackets();
    }
    step("trailer");
    if (status == kAudioHardwareNoError) {
        const int result = av_write_trailer(mFormat);
        avio_flush(mOutput.context());
        if (result < 0 || mOutput.error()) {
            status = failWriting(mOutput.error() ? mOutput.error() : AVUNERROR(result),
                                 "cannot finish " + mPath);
        }
    }
    // Exactly the written frames play, and an AAC file names its nominal rate.
    const uint32_t nominalBitRate = mFileFormat.mFormatID == kAudioFormatMPEG4AAC && mCodec
                                        ? static_cast<uint32_t>(mCodec->bit_rate)
                                        : 0;
    const int fileRate = static_cast<int>(std::lround(mFileFormat.mSampleRate));
    // By the descriptor: the folder may have been renamed meanwhile.
    step("timing");
    if (status == kAudioHardwareNoError && mPacketsWritten > 0 &&
        !correctMp4AudioTrackTiming(mOutput.descriptor(), mFramesEncoded, fileRate,
                                    nominalBitRate)) {
        status = fail(kAudioFileInvalidFileError, "cannot finish " + mPath);
    }
    if (status != kAudioHardwareNoError) {
        // What reached the disk stays, and so does the journal: the
        // recording is finished by recovery once the problem is gone.
        mOutput.close();
        return status;
    }
    if (!mCrashSafe) {
        mOutput.close();
        return kAudioHardwareNoError;
    }
    step("cut");
    if (const int error = mOutput.finish()) {
        return failWriting(error, "cannot finish " + mPath);
    }
    step("journal");
    if (gJournalKeptAfterFinishing) {
        // Whoever labels the file removes it; until then recovery labels
        // a finished file that a crash left without one.
        mJournal.keep();
    } else {
        mJournal.remove();
    }
    return kAudioHardwareNoError;
}

OSStatus MediaAudioFile::failWriting(int error, const std::string& what) {
    const OSStatus status =
        fail(statusForWriteError(AVERROR(error)), what, error ? AVERROR(error) : 0);
    if (!mWriteFailure) {
        mWriteFailure = status;
    }
    return status;
}

// The journal starts once the muxer has written the file's header: from
// then on the audio can be found again. A file with our header and no
// journal (a kill, or a power cut, just before the journal) is an empty
// leftover that the next check removes.
OSStatus MediaAudioFile::beginJournal() {
    mCrashSafe = gCrashSafeWriting;
    if (!mCrashSafe) {
        return kAudioHardwareNoError;
    }

    RecordingJournalHeader header;
    header.codec = mCodec->codec_id == AV_CODEC_ID_AAC ? "aac" : "alac";
    header.muxer = mFileType == kAudioFileM4AType ? "ipod" : "mp4";
    header.sampleRate = mCodec->sample_rate;
    header.channels = mCodec->ch_layout.nb_channels;
    header.bitsPerRawSample = mCodec->bits_per_raw_sample;
    header.bitRate = mCodec->bit_rate;
    header.framesPerPacket = mCodec->frame_size;
    header.priming = mCodec->initial_padding;
    if (mCodec->extradata && mCodec->extradata_size > 0) {
        header.extradata.assign(mCodec->extradata, mCodec->extradata + mCodec->extradata_size);
    }
    header.startedAt = mStartedAt;
    if (!takeFileHeader(&header)) {
        return fail(kAudioFileUnspecifiedError, "cannot read back " + mPath);
    }
    // Named first, so that the journal is made beside our own file and never
    // beside one that took the name meanwhile.
    if (const int error = mOutput.name()) {
        return error == EEXIST ? fail(statusForOpenError(AVERROR(EEXIST)), nameTaken(mPath))
                               : failWriting(error, "cannot write " + mPath);
    }
    step("named");
    if (const int error = mJournal.create(currentPath(), header)) {
        return failWriting(error, "cannot write the journal of " + mPath);
    }
    step("header");
    if (const int error = mOutput.sync()) {
        return failWriting(error, "cannot write " + mPath);
    }
    if (const int error = mOutput.reserve(reservationBytes(), reservationBytes())) {
        return failWriting(error, "no room to record " + mPath);
    }
    return kAudioHardwareNoError;
}

// The file's bytes before the audio, as the muxer wrote them: still in the
// output's buffer, or already in the file.
bool MediaAudioFile::takeFileHeader(RecordingJournalHeader* header) {
    AVIOContext* io = mOutput.context();
    const int64_t end = avio_tell(io);
    if (end <= 0) {
        return false;
    }
    header->dataOffset = static_cast<uint64_t>(end);
    header->fileHeader.resize(header->dataOffset);
    const auto buffered = static_cast<uint64_t>(io->buf_ptr - io->buffer);
    if (mOutput.end() == 0 && buffered == header->dataOffset) {
        std::memcpy(header->fileHeader.data(), io->buffer, buffered);
        return true;
    }
    avio_flush(io);
    const Mp4BoxReader reader(mOutput.descriptor(), false);
    return !mOutput.error() && reader.read(0, header->fileHeader.data(), header->fileHeader.size());
}

// Makes everything written so far durable and lists its packets in the journal.
OSStatus MediaAudioFile::journalWrittenPackets() {
    if (!mCrashSafe) {
        mUnsyncedPackets.clear();
        return kAudioHardwareNoError;
    }
    if (const int error = mOutput.sync()) {
        return failWriting(error, "cannot write " + mPath);
    }
    const int journalled = mJournal.append(mUnsyncedPackets);
    mUnsyncedPackets.clear();
    if (journalled) {
        return failWriting(journalled, "cannot write the journal of " + mPath);
    }
    return kAudioHardwareNoError;
}

// Makes everything written so far durable and findable, and makes sure the
// file can still be finished after the next stretch of audio.
OSStatus MediaAudioFile::checkpoint() {
    mFramesAtCheckpoint = mFramesEncoded;
    if (const OSStatus status = journalWrittenPackets(); status != kAudioHardwareNoError) {
        return status;
    }
    if (!mCrashSafe) {
        return kAudioHardwareNoError;
    }
    // Reserved a second stretch ahead, so that the disk is asked again only
    // every few checkpoints.
    if (const int error = mOutput.reserve(reservationBytes(), reservationBytes())) {
        return failWriting(error, "no room left to record " + mPath);
    }
    return kAudioHardwareNoError;
}

// Room for the coming seconds of audio at the encoder's largest packets,
// and for the index of every packet so far and of those.
uint64_t MediaAudioFile::reservationBytes() const {
    const double rate = mFileFormat.mSampleRate > 0 ? mFileFormat.mSampleRate : 48000;
    const int perPacket = std::max(mCodec ? mCodec->frame_size : 0, 1);
    const auto channels = static_cast<uint64_t>(mFileFormat.mChannelsPerFrame);
    const bool aac = mFileFormat.mFormatID == kAudioFormatMPEG4AAC;
    // AAC allows at most 6144 bits per channel in a packet; ALAC stores at
    // most 32 bits a sample plus a little framing.
    const uint64_t largestPacket = aac ? 768 * channels : perPacket * channels * 4 + 64;
    const auto packetsAhead =
        static_cast<uint64_t>(std::ceil(kSecondsWrittenAhead * rate / perPacket));
    return packetsAhead * largestPacket + (mPacketsWritten + packetsAhead) * kIndexBytesPerPacket +
           kIndexBytesFixed;
}

// Reading

OSStatus MediaAudioFile::openForReading(const std::string& path) {
    mPath = path;
    AVDictionary* options = nullptr;
    // Priming and the playing length come from our own reading of the edit list.
    av_dict_set(&options, "ignore_editlist", "1", 0);
    int result = avformat_open_input(&mFormat, path.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        return fail(statusForOpenError(result), "cannot open " + path, result);
    }
    if (!std::strstr(mFormat->iformat->name, "mp4")) {
        return fail(kAudioFileUnsupportedFileTypeError, path + " is not an MPEG-4 file");
    }
    if ((result = avformat_find_stream_info(mFormat, nullptr)) < 0) {
        return fail(kAudioFileInvalidFileError, "cannot read " + path, result);
    }
    const AVCodec* decoder = nullptr;
    mStreamIndex = av_find_best_stream(mFormat, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (mStreamIndex < 0 || !decoder) {
        return fail(kAudioFileUnsupportedDataFormatError, path + " has no audio we can decode");
    }
    AVStream* stream = mFormat->streams[mStreamIndex];
    const AVCodecParameters* parameters = stream->codecpar;
    const int channels = parameters->ch_layout.nb_channels;
    if (parameters->sample_rate <= 0 || channels < 1 || channels > 8) {
        return fail(kAudioFileUnsupportedDataFormatError, path + " has an unusable audio format");
    }
    mCodec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(mCodec, parameters);
    mCodec->pkt_timebase = stream->time_base;
    if ((result = avcodec_open2(mCodec, decoder, nullptr)) < 0) {
        return fail(kAudioFileUnsupportedDataFormatError, "cannot decode " + path, result);
    }

    const int rate = parameters->sample_rate;
    const auto track = readMp4AudioTrackInfo(path);
    if (!track || track->sampleCount == 0) {
        return fail(kAudioFileInvalidFileError, path + " has no readable audio track");
    }
    const int64_t mediaRate = track->mediaTimescale ? track->mediaTimescale : rate;
    const int64_t total = scaled(static_cast<int64_t>(track->totalSampleDuration), mediaRate, rate);
    mPacketCount = track->sampleCount;
    mFramesPerPacket = static_cast<uint32_t>(scaled(track->firstSampleDelta, mediaRate, rate));
    if (mFramesPerPacket == 0) {
        mFramesPerPacket = static_cast<uint32_t>(std::max(parameters->frame_size, 0));
    }
    mPriming = 0;
    mValidFrames = total;
    if (track->hasEdit) {
        mPriming = std::clamp<int64_t>(scaled(track->editMediaTime, mediaRate, rate), 0, total);
        const int64_t edit = scaled(static_cast<int64_t>(track->editDuration),
                                    track->movieTimescale ? track->movieTimescale : rate, rate);
        mValidFrames = std::clamp<int64_t>(edit, 0, total - mPriming);
    }
    const int64_t packed = static_cast<int64_t>(mPacketCount) * mFramesPerPacket;
    mRemainder = std::max<int64_t>(0, (packed >= total ? packed : total) - mPriming - mValidFrames);
    mBitRate = track->esdsAvgBitrate
                   ? track->esdsAvgBitrate
                   : static_cast<uint32_t>(std::max<int64_t>(0, parameters->bit_rate));

    mFileFormat = AudioStreamBasicDescription{};
    mFileFormat.mSampleRate = rate;
    mFileFormat.mFormatID = formatIDForCodec(parameters);
    mFileFormat.mChannelsPerFrame = static_cast<uint32_t>(channels);
    mFileFormat.mFramesPerPacket = mFramesPerPacket;
    if (parameters->codec_id == AV_CODEC_ID_ALAC) {
        const int bits =
            track->alacBitDepth ? track->alacBitDepth : parameters->bits_per_raw_sample;
        mFileFormat.mFormatFlags = alacFlagsForBits(bits);
    }
    mClientFormat = clientFormatFor(static_cast<uint32_t>(channels), rate);

    AVChannelLayout clientLayout;
    av_channel_layout_default(&clientLayout, channels);
    AVChannelLayout fileLayout;
    av_channel_layout_default(&fileLayout, channels);
    result = swr_alloc_set_opts2(&mResampler, &clientLayout, AV_SAMPLE_FMT_FLTP, rate, &fileLayout,
                                 mCodec->sample_fmt, rate, 0, nullptr);
    av_channel_layout_uninit(&clientLayout);
    av_channel_layout_uninit(&fileLayout);
    if (result < 0 || (result = swr_init(mResampler)) < 0) {
        return fail(kAudioFileUnsupportedDataFormatError, "cannot convert " + path, result);
    }
    mFifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, 8192);
    mFrame = av_frame_alloc();
    mPacket = av_packet_alloc();
    if (!mFifo || !mFrame || !mPacket) {
        return fail(kAudioFileUnspecifiedError, "out of memory");
    }
    mSkipUntil = mPriming;
    return kAudioHardwareNoError;
}

void MediaAudioFile::appendDecoded(const AVFrame* frame) {
    const AVStream* stream = mFormat->streams[mStreamIndex];
    const int rate = static_cast<int>(mFileFormat.mSampleRate);
    int64_t start = mNextMediaSample;
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
        start = av_rescale_q(frame->best_effort_timestamp, stream->time_base, AVRational{1, rate});
    }
    const int count = frame->nb_samples;
    mNextMediaSample = start + count;
    const int skip = static_cast<int>(std::clamp<int64_t>(mSkipUntil - start, 0, count));
    if (skip == count) {
        return;
    }
    if (!reserveConverted(frame->ch_layout.nb_channels, count, AV_SAMPLE_FMT_FLTP)) {
        return;
    }
    const int converted = swr_convert(mResampler, mConverted, count,
                                      const_cast<const uint8_t**>(frame->extended_data), count);
    if (converted <= skip) {
        return;
    }
    void* planes[8];
    for (int channel = 0; channel < frame->ch_layout.nb_channels && channel < 8; ++channel) {
        planes[channel] = reinterpret_cast<float*>(mConverted[channel]) + skip;
    }
    av_audio_fifo_write(mFifo, planes, converted - skip);
}

OSStatus MediaAudioFile::decodeMore() {
    for (;;) {
        const int received = avcodec_receive_frame(mCodec, mFrame);
        if (received >= 0) {
            appendDecoded(mFrame);
            av_frame_unref(mFrame);
            return kAudioHardwareNoError;
        }
        if (received == AVERROR_EOF) {
            mDecoderDrained = true;
            return kAudioHardwareNoError;
        }
        if (received != AVERROR(EAGAIN)) {
            return fail(kAudioFileInvalidFileError, "cannot decode " + mPath, received);
        }
        if (mInputEnded) {
            mDecoderDrained = true; // nothing more will come
            return kAudioHardwareNoError;
        }
        const int read = av_read_frame(mFormat, mPacket);
        if (read < 0) {
            mInputEnded = true;
            avcodec_send_packet(mCodec, nullptr);
            continue;
        }
        if (mPacket->stream_index == mStreamIndex) {
            // A damaged packet is skipped; the rest of the file still plays.
            avcodec_send_packet(mCodec, mPacket);
        }
        av_packet_unref(mPacket);
    }
}

OSStatus MediaAudioFile::read(uint32_t* frames, AudioBufferList* data) {
    if (!frames) {
        return kAudio_ParamError;
    }
    if (mWriting || mClosed || !data || data->mNumberBuffers != mClientFormat.mChannelsPerFrame) {
        *frames = 0;
        return mWriting || mClosed ? kAudioFileNotOpenError : kAudio_ParamError;
    }
    int64_t wanted = std::min<int64_t>(*frames, mValidFrames - mPosition);
    void* planes[8] = {};
    for (uint32_t channel = 0; channel < data->mNumberBuffers; ++channel) {
        const AudioBuffer& buffer = data->mBuffers[channel];
        wanted = std::min<int64_t>(wanted, buffer.mDataByteSize / sizeof(float));
        planes[channel] = buffer.mData;
        if (!buffer.mData) {
            wanted = 0;
        }
    }
    wanted = std::max<int64_t>(wanted, 0);
    while (av_audio_fifo_size(mFifo) < wanted && !mDecoderDrained) {
        if (const OSStatus status = decodeMore(); status != kAudioHardwareNoError) {
            *frames = 0;
            return status;
        }
    }
    const int got = std::min<int>(static_cast<int>(wanted), av_audio_fifo_size(mFifo));
    if (got > 0) {
        av_audio_fifo_read(mFifo, planes, got);
    }
    for (uint32_t channel = 0; channel < data->mNumberBuffers; ++channel) {
        data->mBuffers[channel].mDataByteSize = static_cast<uint32_t>(got * sizeof(float));
    }
    mPosition += got;
    *frames = static_cast<uint32_t>(got);
    return kAudioHardwareNoError;
}

// A new decoder starts exactly as the first one did, whatever state (such as
// a noise generator) the old one had.
OSStatus MediaAudioFile::restartDecoder() {
    const AVStream* stream = mFormat->streams[mStreamIndex];
    const AVCodec* decoder = mCodec->codec;
    avcodec_free_context(&mCodec);
    mCodec = avcodec_alloc_context3(decoder);
    if (!mCodec) {
        return fail(kAudioFileUnspecifiedError, "out of memory");
    }
    avcodec_parameters_to_context(mCodec, stream->codecpar);
    mCodec->pkt_timebase = stream->time_base;
    if (const int result = avcodec_open2(mCodec, decoder, nullptr); result < 0) {
        return fail(kAudioFileUnsupportedDataFormatError, "cannot decode " + mPath, result);
    }
    return kAudioHardwareNoError;
}

OSStatus MediaAudioFile::seek(int64_t frame) {
    if (mWriting || mClosed) {
        return kAudioFileNotOpenError;
    }
    if (frame < 0 || frame > mValidFrames) {
        return fail(kExtAudioFileError_InvalidSeek, "no such frame in " + mPath);
    }
    const int64_t target = frame + mPriming;
    const int64_t perPacket = std::max<uint32_t>(mFramesPerPacket, 1);
    const int preroll = mCodec->codec_id == AV_CODEC_ID_ALAC ? 0 : kAACPrerollPackets;
    const int64_t startPacket = std::max<int64_t>(0, target / perPacket - preroll);
    const int64_t startSample = startPacket * perPacket;
    const AVStream* stream = mFormat->streams[mStreamIndex];
    const int rate = static_cast<int>(mFileFormat.mSampleRate);
    const int64_t timestamp = av_rescale_q(startSample, AVRational{1, rate}, stream->time_base);
    if (av_seek_frame(mFormat, mStreamIndex, timestamp, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(mFormat, mStreamIndex, 0, AVSEEK_FLAG_BACKWARD) < 0) {
        return fail(kExtAudioFileError_InvalidSeek, "cannot seek in " + mPath);
    }
    if (const OSStatus status = restartDecoder(); status != kAudioHardwareNoError) {
        return status;
    }
    av_audio_fifo_reset(mFifo);
    mInputEnded = false;
    mDecoderDrained = false;
    mSkipUntil = target;
    mNextMediaSample = startSample;
    mPosition = frame;
    return kAudioHardwareNoError;
}

// Reports

uint64_t MediaAudioFile::packetCount() const {
    return mWriting ? mPacketsWritten : mPacketCount;
}

uint32_t MediaAudioFile::framesPerPacket() const {
    return mWriting ? mFileFormat.mFramesPerPacket : mFramesPerPacket;
}

AudioFilePacketTableInfo MediaAudioFile::packetTableInfo() const {
    if (mWriting) {
        const int64_t packed = static_cast<int64_t>(mPacketsWritten) * framesPerPacket();
        return {mFramesEncoded, static_cast<int32_t>(mPriming),
                static_cast<int32_t>(std::max<int64_t>(0, packed - mPriming - mFramesEncoded))};
    }
    return {mValidFrames, static_cast<int32_t>(mPriming), static_cast<int32_t>(mRemainder)};
}

AudioConverterPrimeInfo MediaAudioFile::primeInfo() const {
    const AudioFilePacketTableInfo table = packetTableInfo();
    return {static_cast<uint32_t>(table.mPrimingFrames),
            static_cast<uint32_t>(table.mRemainderFrames)};
}

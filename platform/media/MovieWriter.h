#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

// What a movie is made of. The picture is H.264 (libx264), the sound AAC-LC
// (Debian's FFmpeg has no HE-AAC encoder), in a QuickTime container.
struct MovieSettings {
    int width = 1280;
    int height = 720;
    int framesPerSecond = 24;
    int maximumKeyFrameInterval = 1000;
    int sampleRate = 44100;
    int channels = 2;
    int audioBitRate = 128000;
};

// Writes one QuickTime movie on FFmpeg from 32-bit RGB frames (Qt's RGB32:
// 0xffRRGGBB words, the first byte of each pixel unused) and 16-bit
// interleaved samples at the movie's rate. The frames are converted to
// limited-range YUV with the BT.709 matrix and tagged BT.709, so players that
// follow the tags show the colours that were painted.
//
// The picture track expects frames that mostly repeat (a still picture with
// a small moving part): the encoder is tuned for that, and a caller that
// knows which rows changed since the last frame says so, and only those rows
// are converted to the encoder's colour format.
//
// Any failure (a full disk, an encoder error) is remembered; later calls
// fail the same way and do nothing. A movie that is not finished
// successfully is removed by `abandon` or on destruction: no half movie is
// ever left behind.
//
// Not thread-safe: one thread at a time.
class MovieWriter {
public:
    static std::unique_ptr<MovieWriter> create(const std::string& path, const MovieSettings& settings,
                                               std::string* error);
    ~MovieWriter();

    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // Frame `index` shows at index / framesPerSecond seconds. `pixels` are
    // `height` rows of `bytesPerRow` bytes. Only rows `changedTop` up to
    // (not including) `changedBottom` differ from the previous frame; -1
    // means the whole frame changed. The first frame is always whole.
    bool appendVideoFrame(const uint8_t* pixels, int bytesPerRow, int64_t index,
                          int changedTop = -1, int changedBottom = -1);
    // `frames` frames of `channels` interleaved samples each.
    bool appendAudio(const int16_t* samples, int frames);

    // Marks a track complete; flushes its encoder.
    bool finishVideo();
    bool finishAudio();
    // Finishes both tracks and closes the file; true when the movie is whole.
    bool finish();
    // Stops writing and removes the file.
    void abandon();

    bool failed() const { return !mError.empty(); }
    const std::string& lastError() const { return mError; }
    const std::string& path() const { return mPath; }
    // Seconds of sound accepted so far.
    double audioTime() const;
    int64_t videoFramesWritten() const { return mVideoFrames; }

private:
    MovieWriter() = default;
    bool open(const MovieSettings& settings);
    bool openVideo();
    bool openAudio();
    bool convertRows(const uint8_t* pixels, int bytesPerRow, int top, int bottom);
    bool encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame);
    bool encodeAudioFrames(bool flush);
    bool fail(const std::string& what, int ffmpegError = 0);
    void close();

    std::string mPath;
    std::string mError;
    MovieSettings mSettings;
    AVFormatContext* mFormat = nullptr;
    AVCodecContext* mVideoCodec = nullptr;
    AVCodecContext* mAudioCodec = nullptr;
    AVStream* mVideoStream = nullptr;
    AVStream* mAudioStream = nullptr;
    AVFrame* mPicture = nullptr;  // the previous frame in YUV, updated in place
    AVFrame* mSoundFrame = nullptr;
    AVPacket* mPacket = nullptr;
    AVAudioFifo* mFifo = nullptr;
    SwsContext* mScaler = nullptr;     // whole frames
    SwsContext* mBandScaler = nullptr; // the band of changed rows
    int mBandHeight = 0;
    int64_t mVideoFrames = 0;
    int64_t mSamplesIn = 0;      // frames of sound accepted
    int64_t mSamplesEncoded = 0; // frames of sound handed to the encoder
    bool mHeaderWritten = false;
    bool mVideoFinished = false;
    bool mAudioFinished = false;
    bool mFinished = false;
    bool mFileOpen = false;
    bool mCreatedFile = false;
};

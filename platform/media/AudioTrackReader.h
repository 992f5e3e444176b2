#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// Reads the first sound track of a media file as 16-bit interleaved
// samples at a chosen rate and channel count (resampled and mixed as
// needed; a mono tape comes out on both channels). The encoder's priming
// and padding are left out, as the file's edit list says.
class AudioTrackReader {
public:
    // Nothing when the file cannot be read or holds no sound (`error` says why).
    static std::unique_ptr<AudioTrackReader> open(const std::string& path, int sampleRate,
                                                  int channels, std::string* error);
    ~AudioTrackReader();

    AudioTrackReader(const AudioTrackReader&) = delete;
    AudioTrackReader& operator=(const AudioTrackReader&) = delete;

    // Up to `frames` frames into `samples`; 0 at the end, -1 on a failure.
    int read(int16_t* samples, int frames);
    const std::string& lastError() const { return mError; }
    int channels() const { return mChannels; }

private:
    AudioTrackReader() = default;
    bool decodeMore();
    int fail(const std::string& what, int ffmpegError = 0);

    std::string mError;
    AVFormatContext* mFormat = nullptr;
    AVCodecContext* mCodec = nullptr;
    SwrContext* mResampler = nullptr;
    AVFrame* mFrame = nullptr;
    AVPacket* mPacket = nullptr;
    int mStream = -1;
    int mSampleRate = 0;
    int mChannels = 0;
    bool mInputEnded = false;
    bool mDrained = false;
};

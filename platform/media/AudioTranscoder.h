#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// What a sound file is converted to: an FFmpeg muxer and encoder by name.
struct AudioTranscodeSettings {
    std::string container; // "mp3", "ogg", "flac", "wav"
    // "libmp3lame", "libopus", "flac", or "pcm": 16-bit PCM, 24-bit when the
    // source has more than 16 bits (so does "flac").
    std::string encoder;
    int64_t bitRate = 0; // bits a second; 0 for the lossless ones
};

// Converts the sound track of one file into a new file of another format
// with FFmpeg: decoded, converted to what the encoder takes (sample format,
// and the nearest rate it supports when it does not take the source's),
// encoded and written, as long as the source says it is (the encoder's
// padding of its last packet is left out). Nothing else of the source (tags,
// pictures) is carried over.
//
// One conversion per object, on the calling thread. A conversion that fails
// or is stopped removes the file it made.
class AudioTranscoder {
public:
    // Called now and then with the share done (0 to 1); false stops the
    // conversion.
    using ProgressBlock = std::function<bool(double progress)>;

    AudioTranscoder(std::string source, std::string destination, AudioTranscodeSettings settings);
    ~AudioTranscoder();

    AudioTranscoder(const AudioTranscoder&) = delete;
    AudioTranscoder& operator=(const AudioTranscoder&) = delete;

    // True when the new file is whole. `destination` must not exist: it is
    // created, never replaced.
    bool run(const ProgressBlock& progress = {});
    bool wasStopped() const { return mStopped; }
    const std::string& lastError() const { return mError; }

private:
    bool openSource();
    bool openDestination();
    bool openEncoder();
    bool openResampler();
    bool convert(const ProgressBlock& progress);
    bool decodeAvailable();
    bool resample(const AVFrame* frame);
    bool encodeFrames(bool flush);
    bool encode(AVFrame* frame);
    bool fail(const std::string& what, int ffmpegError = 0);
    void close();

    std::string mSource;
    std::string mDestination;
    AudioTranscodeSettings mSettings;
    std::string mError;
    bool mStopped = false;
    bool mCreatedFile = false;
    bool mFileOpen = false;

    AVFormatContext* mInput = nullptr;
    AVFormatContext* mOutput = nullptr;
    AVCodecContext* mDecoder = nullptr;
    AVCodecContext* mEncoder = nullptr;
    SwrContext* mResampler = nullptr;
    AVAudioFifo* mFifo = nullptr;
    AVFrame* mDecoded = nullptr;
    AVFrame* mEncoded = nullptr;
    AVPacket* mPacket = nullptr;
    int mStream = -1;
    int mSourceDepth = 16;          // bits a sample of the source carries
    int64_t mSamplesEncoded = 0;    // frames handed to the encoder
    int64_t mSamplesDecoded = 0;    // frames of the source taken so far
    int64_t mSourceLength = -1;     // the source's frames, when it says
    uint8_t** mConverted = nullptr; // resampler output, `mConvertedCapacity` frames
    int mConvertedCapacity = 0;
};

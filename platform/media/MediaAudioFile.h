#pragma once

#include "platform/media/AudioFileTypes.h"
#include "platform/media/RecordingJournal.h"
#include "platform/media/RecordingOutput.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct SwrContext;

// One MPEG-4 audio file on FFmpeg, written (encoded) or read (decoded).
// Toward its user it speaks 32-bit float, one buffer per channel, at the
// client format's rate.
//
// Writing: ALAC or AAC-LC. The encoder starts with the first write, so the
// bit rate and the client format can be set until then. Closing flushes the
// encoder, writes the 'moov' box after the audio, and corrects what FFmpeg's
// muxer leaves imprecise: the edit list's duration (so exactly the written
// frames play) and, for AAC, the nominal bit rate in the 'esds'.
//
// A file being written survives a crash: after every second of audio, the
// audio is synced to the disk and its packets are listed in a journal beside the
// file (see RecordingJournal), from which an interrupted recording is
// finished later. Disk space for finishing is reserved ahead, so a full disk
// (or the file size limit) stops the writing while the file can still be
// finished; every write after such a failure fails the same way.
//
// Reading: frames count from the first frame after the encoder's priming, as
// the edit list says; reads after a seek to frame n give exactly the samples
// a straight read gives from n.
class MediaAudioFile {
public:
    // Creates the file; an existing one is emptied when `erase` is set and
    // refused (kAudioFilePermissionsError, "exists") when not.
    static OSStatus create(const std::string& path, uint32_t fileType,
                           const AudioStreamBasicDescription& format,
                           std::unique_ptr<MediaAudioFile>* file, bool erase = true);
    static OSStatus open(const std::string& path, std::unique_ptr<MediaAudioFile>* file);
    ~MediaAudioFile();

    // Finishes a file being written; returns the first failure of that.
    OSStatus close();
    bool isWriting() const { return mWriting; }

    AudioStreamBasicDescription fileFormat() const { return mFileFormat; }
    AudioStreamBasicDescription clientFormat() const { return mClientFormat; }
    OSStatus setClientFormat(const AudioStreamBasicDescription& format);

    // Writing. `frames` float frames in one buffer per channel.
    OSStatus write(uint32_t frames, const AudioBufferList* data);
    OSStatus setEncodeBitRate(uint32_t bitsPerSecond);
    uint32_t encodeBitRate() const;

    // Reading. `*frames` is how many were wanted and, after, how many came.
    OSStatus read(uint32_t* frames, AudioBufferList* data);
    OSStatus seek(int64_t frame);
    int64_t tell() const { return mPosition; }

    uint64_t packetCount() const;
    uint32_t framesPerPacket() const;
    // Frames that play, and the encoder's priming and remainder around them.
    AudioFilePacketTableInfo packetTableInfo() const;
    AudioConverterPrimeInfo primeInfo() const;
    uint32_t maximumPacketSize() const { return mMaxPacketSize; }
    // Why the last failing call failed, in words.
    const std::string& lastError() const { return mLastError; }
    // The same for the last failure of any file on the calling thread,
    // including files that could not be created or opened.
    static const std::string& lastErrorOnThisThread();
    // Files created afterwards keep (or, for measuring what it costs, skip)
    // the journal, the syncing and the reservation that make a recording
    // survive a crash. On by default.
    static void setCrashSafeWriting(bool safe);
    // Files finished afterwards keep their journal until whoever labels
    // them removes it (RecordingJournal::removeFinished), so that a crash
    // between finishing and labelling leaves a file that recovery labels.
    // Off by default: the journal goes when the file is finished.
    static void setJournalKeptAfterFinishing(bool kept);
    // Called with a step's name before each step of finishing a recording;
    // for tests that stop the finishing part way.
    static void setStepObserver(std::function<void(const char* step)> observer);
    // Where the file is now: a file being written is followed by its
    // descriptor, whatever happened to its folder.
    std::string currentPath() const;

private:
    MediaAudioFile() = default;

    OSStatus startEncoding();
    bool reserveConverted(int channels, int frames, int sampleFormat);
    OSStatus drainResampler();
    OSStatus encodeFrames(bool flush);
    OSStatus writePackets();
    OSStatus finishWriting();
    OSStatus beginJournal();
    bool takeFileHeader(struct RecordingJournalHeader* header);
    OSStatus checkpoint();
    OSStatus journalWrittenPackets();
    uint64_t reservationBytes() const;
    OSStatus failWriting(int error, const std::string& what);
    OSStatus fail(OSStatus status, const std::string& what, int ffmpegError = 0);

    OSStatus openForReading(const std::string& path);
    OSStatus decodeMore();
    OSStatus restartDecoder();
    void appendDecoded(const AVFrame* frame);

    std::string mPath;
    bool mWriting = false;
    bool mClosed = false;
    uint32_t mFileType = 0;
    AudioStreamBasicDescription mFileFormat{};
    AudioStreamBasicDescription mClientFormat{};
    std::string mLastError;

    AVFormatContext* mFormat = nullptr;
    AVCodecContext* mCodec = nullptr;
    SwrContext* mResampler = nullptr;
    AVAudioFifo* mFifo = nullptr;
    AVFrame* mFrame = nullptr;
    AVPacket* mPacket = nullptr;
    int mStreamIndex = -1;

    // Writing
    bool mStarted = false;
    uint32_t mBitRate = 0;
    uint8_t** mConverted = nullptr; // resampler output, grown as needed
    int mConvertedCapacity = 0;
    int64_t mFramesEncoded = 0; // at the file's rate: the frames that will play
    uint64_t mPacketsWritten = 0;
    uint32_t mMaxPacketSize = 0;
    int64_t mPriming = 0;
    RecordingOutput mOutput;
    RecordingJournal mJournal;
    std::vector<uint32_t> mUnsyncedPackets; // written since the last checkpoint
    int64_t mFramesAtCheckpoint = 0;
    int64_t mStartedAt = 0;
    bool mCrashSafe = true;
    OSStatus mWriteFailure = 0; // the first failure of writing; nothing is written after it
    OSStatus mStartFailure = 0; // the encoder or the file could not start: no recording

    // Reading
    int64_t mValidFrames = 0;
    int64_t mRemainder = 0;
    uint64_t mPacketCount = 0;
    uint32_t mFramesPerPacket = 0;
    int64_t mPosition = 0;  // next frame a read delivers
    int64_t mSkipUntil = 0; // media sample where delivery starts after a seek
    int64_t mNextMediaSample = 0;
    bool mInputEnded = false;
    bool mDecoderDrained = false;
};

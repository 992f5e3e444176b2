#pragma once

#include "audio/format/VELKAudioStreamBasicDescription.h"
#include "audio/hardware/VELKAudioDevice.h"
#include "platform/media/AudioFileTypes.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// The option key under which a caller may hand a playback file a preferred
// client format (kept, not used to choose the format).
extern const char* const kVELKExtendedAudioFileClientDataFormatKey;

using VELKExtendedAudioFileOptions =
    std::map<std::string, std::shared_ptr<VELKAudioStreamBasicDescription>>;

// The engine's handle on one audio file, opened for recording (a new file,
// encoded) or for playback (an existing file, decoded). Toward the engine it
// speaks the client format: 32-bit float, one buffer per channel. Failed
// platform calls raise NSXException; a file that cannot be opened never
// yields an object.
class VELKExtendedAudioFile {
public:
    // A new recording; an existing file is emptied first, or, without
    // `replaceExisting`, refused.
    static std::shared_ptr<VELKExtendedAudioFile>
    forRecording(const std::string& filename,
                 const std::shared_ptr<VELKAudioStreamBasicDescription>& streamDescription,
                 uint64_t bitrate, const std::shared_ptr<VELKAudioDevice>& audioDevice,
                 bool replaceExisting = true);
    static std::shared_ptr<VELKExtendedAudioFile>
    forPlayback(const std::string& filename, const VELKExtendedAudioFileOptions& options = {});

    // Closes the file (finishing one being recorded) without reporting.
    ~VELKExtendedAudioFile();
    VELKExtendedAudioFile(const VELKExtendedAudioFile&) = delete;
    VELKExtendedAudioFile& operator=(const VELKExtendedAudioFile&) = delete;

    // Closes the file; raises when a recording could not be finished.
    // Afterwards `filename` is where a recording's file is now.
    void closeFile();
    bool isOpen() const { return mAudioFile != nullptr; }

    void setClientDataFormatForRecordingWithDevice(const VELKAudioDevice* device);
    void setClientDataFormatForPlayback();
    AudioStreamBasicDescription clientDataFormat() const;
    AudioStreamBasicDescription fileDataFormat() const;
    std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription() const;
    std::shared_ptr<VELKAudioStreamBasicDescription> fileStreamDescription() const;

    // Playable frames.
    int64_t frameCount() const;
    // Milliseconds at the client rate.
    double estimatedDuration() const;
    AudioConverterPrimeInfo primeInfo() const;
    int64_t primeOffset() const;
    uint64_t bitrate() const;
    // A mono file gets half the rate; only the low 32 bits take effect.
    void setBitrate(uint64_t bitrate);
    uint32_t maxPacketSize() const;

    void seekToFrame(int64_t frame);

    // For the file reader and writer. Reads `*framesRead` frames (from
    // `startFrame` backwards when reversed, else from the current position);
    // a failed read delivers 0 frames.
    void readIntoAudioBufferList(AudioBufferList* bufferList, int64_t startFrame,
                                 uint32_t* framesRead);
    // The same in the direction given, whatever `reverse` says meanwhile.
    void readIntoAudioBufferList(AudioBufferList* bufferList, int64_t startFrame,
                                 uint32_t* framesRead, bool reverse);
    // Writes `*framesWritten` frames; raises on failure.
    void writeAudioBufferList(AudioBufferList* bufferList, uint32_t* framesWritten);

    ExtAudioFileRef audioFile() const { return mAudioFile; }
    std::string filename() const;
    bool reverse() const { return mReverse.load(); }
    // May be called while another thread reads; a read in progress keeps the
    // direction it began with.
    void setReverse(bool reverse) { mReverse.store(reverse); }
    std::shared_ptr<VELKAudioStreamBasicDescription> preferredClientDataFormat() const {
        return mPreferredClientDataFormat;
    }

    bool isEqual(const VELKExtendedAudioFile& other) const;

    // Turns each buffer's samples around, keeping the channel order within
    // each frame of a multi-channel buffer.
    static void reverseBufferList(AudioBufferList* bufferList);

private:
    explicit VELKExtendedAudioFile(std::string filename);
    AudioConverterRef converter() const;

    ExtAudioFileRef mAudioFile = nullptr;
    std::shared_ptr<VELKAudioStreamBasicDescription> mPreferredClientDataFormat;
    mutable std::mutex mFilenameLock;
    std::string mFilename;
    std::atomic<bool> mReverse{false};
    mutable std::recursive_mutex mReadLock; // reads and seeks
};

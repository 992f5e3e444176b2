#pragma once

#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/hardware/VELKAudioDevice.h"
#include "audio/realtime/VELKAudioFileStreamer.h"
#include "audio/units/VELKInputAudioUnit.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class VELKExtendedAudioFileRecorder;

// Told on the main thread (through MainQueue).
class VELKExtendedAudioFileRecorderDelegate {
public:
    virtual ~VELKExtendedAudioFileRecorderDelegate() = default;
    virtual void audioFileRecorderDidStop(VELKExtendedAudioFileRecorder*) {}
    // Recording stopped by itself: the disk is full, the file cannot be
    // written, or the input device went away. Everything captured up to then
    // is in the file; `reason` says what happened, in words.
    virtual void audioFileRecorderDidFail(VELKExtendedAudioFileRecorder*,
                                          const std::string& /*reason*/) {}
};

// Records from one input device into one file opened for recording. Start
// and stop may alternate (pause and resume); the frame count runs on across
// them. The file stays open until its owner closes it.
//
// When the file cannot be written (a full disk) or the input device goes
// away, recording stops by itself, everything captured until then is
// written, and the delegate hears `audioFileRecorderDidFail`, then
// `audioFileRecorderDidStop`. Such a recorder does not start again.
class VELKExtendedAudioFileRecorder
    : public VELKAudioUnitDelegate,
      public std::enable_shared_from_this<VELKExtendedAudioFileRecorder> {
public:
    // `recordChannels`: zero-based device channels, one per file channel.
    static std::shared_ptr<VELKExtendedAudioFileRecorder>
    withFile(std::shared_ptr<VELKExtendedAudioFile> file, std::shared_ptr<VELKAudioDevice> device,
             std::optional<std::vector<int32_t>> recordChannels = std::nullopt);
    ~VELKExtendedAudioFileRecorder() override;

    // Raises NSXException when the input cannot start (it has gone); the
    // writer is then stopped again and the file can be closed.
    void startRecording();
    // Stops capture, then writes every captured frame (the last partial
    // buffer on the calling thread, after the worker's pending buffers).
    void stopRecording();
    bool isFileRecording() const;

    int64_t currentFrame() const { return mCurrentFrame.load(std::memory_order_relaxed); }
    void setCurrentFrame(int64_t frame) { mCurrentFrame.store(frame); }
    double currentTime() const;

    VELKExtendedAudioFileRecorderDelegate* delegate() const { return mDelegate; }
    void setDelegate(VELKExtendedAudioFileRecorderDelegate* delegate) { mDelegate = delegate; }
    std::shared_ptr<VELKExtendedAudioFile> recordFile() const { return mRecordFile; }
    VELKInputAudioUnit* inputAudioUnit() const { return mInputAudioUnit.get(); }
    VELKAudioFileWriter* audioFileWriter() const { return mAudioFileWriter.get(); }

    void audioUnitDidStop(VELKAudioUnit* unit) override;
    void notifyDelegateOfStop();

    // Whether recording stopped by itself, and why.
    bool didFail() const { return !mFailureReason.empty(); }
    const std::string& failureReason() const { return mFailureReason; }

private:
    VELKExtendedAudioFileRecorder() = default;
    // On the main thread: capture ended without being asked to.
    void stopAfterFailure(const std::string& reason);
    void inputDidStop();

    std::shared_ptr<VELKExtendedAudioFile> mRecordFile;
    std::unique_ptr<VELKInputAudioUnit> mInputAudioUnit;
    std::shared_ptr<VELKAudioFileWriter> mAudioFileWriter;
    std::atomic<int64_t> mCurrentFrame{0};
    double mClientSampleRate = 0;
    VELKExtendedAudioFileRecorderDelegate* mDelegate = nullptr;
    bool mRecording = false; // between startRecording and stopRecording (main thread)
    std::string mFailureReason;
};

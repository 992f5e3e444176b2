#include "audio/recorder/VELKExtendedAudioFileRecorder.h"

#include "audio/format/InternalInconsistencyException.h"
#include "platform/audio/MainQueue.h"

namespace {
constexpr uint32_t kWriterBuffers = 3;
constexpr uint32_t kWriterBufferFrames = 32768;
} // namespace

std::shared_ptr<VELKExtendedAudioFileRecorder>
VELKExtendedAudioFileRecorder::withFile(std::shared_ptr<VELKExtendedAudioFile> file,
                                        std::shared_ptr<VELKAudioDevice> device,
                                        std::optional<std::vector<int32_t>> recordChannels) {
    std::shared_ptr<VELKExtendedAudioFileRecorder> recorder(new VELKExtendedAudioFileRecorder);
    recorder->mRecordFile = std::move(file);
    const auto description = recorder->mRecordFile->streamDescription();
    if (recordChannels && recordChannels->size() != description->channelsPerFrame()) {
        throw InternalInconsistencyException(
            "Invalid parameter not satisfying: !inChannels || ( [inChannels count] == [[file "
            "streamDescription] channelsPerFrame] )",
            "VELKExtendedAudioFileRecorder", __LINE__);
    }
    recorder->mClientSampleRate = description->sampleRate();
    recorder->mInputAudioUnit =
        std::make_unique<VELKInputAudioUnit>(description, std::move(device), recordChannels);
    recorder->mInputAudioUnit->setDelegate(recorder.get());
    recorder->mAudioFileWriter = std::make_shared<VELKAudioFileWriter>(
        kWriterBuffers, kWriterBufferFrames, *description, recorder->mRecordFile);
    std::weak_ptr<VELKExtendedAudioFileRecorder> weak = recorder;
    recorder->mAudioFileWriter->setFailureHandler([weak](const std::string& reason) {
        MainQueue::post([weak, reason] {
            if (auto self = weak.lock()) {
                self->stopAfterFailure(reason);
            }
        });
    });
    VELKAudioFileWriter* writer = recorder->mAudioFileWriter.get();
    std::atomic<int64_t>* count = &recorder->mCurrentFrame;
    // Real-time: copies the slice into the ring and counts it.
    recorder->mInputAudioUnit->setInputProcessingBlock(
        [writer, count](AudioUnitRenderActionFlags*, const AudioTimeStamp*, uint32_t,
                        uint32_t frames, AudioBufferList* data) {
            VELKAudioBufferQueueCopyFrom(writer, data, frames);
            count->fetch_add(frames, std::memory_order_relaxed);
        });
    return recorder;
}

VELKExtendedAudioFileRecorder::~VELKExtendedAudioFileRecorder() {
    if (mInputAudioUnit) {
        mInputAudioUnit->setDelegate(nullptr);
        mInputAudioUnit.reset(); // stops capture before the writer goes
    }
    if (mAudioFileWriter) {
        mAudioFileWriter->teardownWorkerThread();
    }
    mAudioFileWriter.reset();
}

void VELKExtendedAudioFileRecorder::startRecording() {
    if (didFail()) {
        return;
    }
    mAudioFileWriter->start();
    try {
        mInputAudioUnit->start();
    } catch (...) {
        // No input (it went while the recording was paused): the writer
        // stops again, so the file can be finished as it is.
        mAudioFileWriter->stop();
        throw;
    }
    mRecording = true;
}

void VELKExtendedAudioFileRecorder::stopRecording() {
    mRecording = false;
    mInputAudioUnit->stop();
    mAudioFileWriter->stop();
}

void VELKExtendedAudioFileRecorder::stopAfterFailure(const std::string& reason) {
    if (didFail()) {
        return;
    }
    mFailureReason = reason;
    const bool wasRecording = mRecording;
    if (mAudioFileWriter->running()) {
        stopRecording(); // writes what was captured, as far as the file takes it
    }
    if (mDelegate) {
        mDelegate->audioFileRecorderDidFail(this, reason);
    }
    if (wasRecording && !mInputAudioUnit->isRunning()) {
        // Capture ended without our stop: no other notice of it comes.
        notifyDelegateOfStop();
    }
}

// On the main thread, after the input unit reported that it stopped.
void VELKExtendedAudioFileRecorder::inputDidStop() {
    if (mRecording && !mInputAudioUnit->isRunning()) {
        stopAfterFailure("the input device went away");
        return;
    }
    notifyDelegateOfStop();
}

bool VELKExtendedAudioFileRecorder::isFileRecording() const {
    return mInputAudioUnit->isRunning();
}

double VELKExtendedAudioFileRecorder::currentTime() const {
    return mClientSampleRate > 0 ? static_cast<double>(currentFrame()) / mClientSampleRate * 1000.0
                                 : 0.0;
}

// On the audio-unit service's thread.
void VELKExtendedAudioFileRecorder::audioUnitDidStop(VELKAudioUnit*) {
    std::weak_ptr<VELKExtendedAudioFileRecorder> weak = weak_from_this();
    MainQueue::post([weak] {
        if (auto recorder = weak.lock()) {
            recorder->inputDidStop();
        }
    });
}

void VELKExtendedAudioFileRecorder::notifyDelegateOfStop() {
    if (mDelegate) {
        mDelegate->audioFileRecorderDidStop(this);
    }
}

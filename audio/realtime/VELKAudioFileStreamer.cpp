#include "audio/realtime/VELKAudioFileStreamer.h"

#include "audio/format/InternalInconsistencyException.h"
#include "audio/format/NSXException.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

VELKAudioFileStreamer::VELKAudioFileStreamer(
    uint32_t bufferCount, uint32_t numFrames,
    const VELKAudioStreamBasicDescription& streamDescription,
    std::shared_ptr<VELKExtendedAudioFile> audioFile)
    : VELKAudioBufferQueue(bufferCount, numFrames, streamDescription),
      mAudioFile(std::move(audioFile)) {}

VELKAudioFileStreamer::~VELKAudioFileStreamer() {
    // The worker may be inside processBuffer of this object: it ends first.
    if (hasWorker()) {
        std::fprintf(stderr, "WARNING - QUEUE WORKER NOT TORN DOWN\n");
        teardownWorkerThread();
    }
}

void VELKAudioFileStreamer::start() {
    throw InternalInconsistencyException("Abstract base class", "VELKAudioFileStreamer", __LINE__);
}

void VELKAudioFileStreamer::stop() {
    throw InternalInconsistencyException("Abstract base class", "VELKAudioFileStreamer", __LINE__);
}

std::shared_ptr<VELKExtendedAudioFile> VELKAudioFileStreamer::audioFile() const {
    std::lock_guard lock(mFileLock);
    return mAudioFile;
}

void VELKAudioFileStreamer::setAudioFile(std::shared_ptr<VELKExtendedAudioFile> file) {
    std::lock_guard lock(mFileLock);
    mAudioFile = std::move(file);
}

// Reader

void VELKAudioFileReader::start() {
    setErrorCount(0);
    setEndOfStream(false);
    prime();
    setRunning(true);
    startWorker();
}

void VELKAudioFileReader::stop() {
    stopWorker();
    setRunning(false);
}

void VELKAudioFileReader::processBuffer(SQueueableAudioBuffer* buffer) {
    SAudioBufferSetEmpty(&buffer->mBuffer);
    // The file read may change byte sizes: it works on a copy of the header.
    AudioBufferList* list = VELKAudioBufferListCopy(buffer->mBuffer.mBufferList);
    const std::shared_ptr<VELKExtendedAudioFile> file = audioFile();
    const VELKLoopRange range = loopRange();
    const bool looping = mLooping.load();
    const int64_t loopEnd = range.location + range.length;
    int64_t current = mCurrentFrame.load();

    auto frames = static_cast<uint32_t>(mBufferSizeFrames);
    if (looping && !file->reverse() && current + frames > loopEnd) {
        frames = static_cast<uint32_t>(std::max<int64_t>(loopEnd - current, 0));
    }
    file->readIntoAudioBufferList(list, current, &frames);
    std::free(list);
    buffer->mFileStartFrame = current;

    try {
        if (frames > 0) {
            if (file->reverse()) {
                current -= frames;
                if (looping && current == range.location) {
                    current = loopEnd;
                    file->seekToFrame(current);
                }
            } else {
                current += frames;
                if (looping && current == loopEnd) {
                    current = range.location;
                    file->seekToFrame(current);
                }
            }
        } else if (looping) {
            current = file->reverse() ? loopEnd : range.location;
            file->seekToFrame(current);
        }
    } catch (const NSXException& exception) {
        std::fprintf(stderr, "(ERROR) VELKAudioFileReader : %s\n", exception.reason().c_str());
    }
    mCurrentFrame.store(current);
    buffer->mBuffer.mEndFrame = frames;
    buffer->mBuffer.mReachedEndOfStream = !looping && frames == 0;
}

int64_t VELKAudioFileReader::currentFrame() const {
    if (running()) {
        const SQueueableAudioBuffer* current = buffer(static_cast<uint32_t>(currentBufferIndex()));
        const int64_t offset = current->mBuffer.mStartFrame;
        return audioFile()->reverse() ? current->mFileStartFrame - offset
                                      : current->mFileStartFrame + offset;
    }
    return mCurrentFrame.load();
}

void VELKAudioFileReader::setCurrentFrame(int64_t frame) {
    const bool wasRunning = running();
    // The output may go on pulling: it hears silence while the ring refills.
    suspendRenderSide();
    if (wasRunning) {
        stop();
    }
    waitForPendingBuffers(); // no refill may run while the file moves
    try {
        mCurrentFrame.store(frame);
        audioFile()->seekToFrame(frame);
        if (wasRunning) {
            start();
        }
    } catch (...) {
        resumeRenderSide();
        throw;
    }
    resumeRenderSide();
}

bool VELKAudioFileReader::reverse() const {
    return audioFile()->reverse();
}

void VELKAudioFileReader::setReverse(bool reverse) {
    audioFile()->setReverse(reverse);
}

VELKLoopRange VELKAudioFileReader::loopRange() const {
    std::lock_guard lock(mLoopLock);
    return mLoopRange;
}

void VELKAudioFileReader::setLoopRange(VELKLoopRange range) {
    std::lock_guard lock(mLoopLock);
    mLoopRange = range;
}

// Writer

void VELKAudioFileWriter::start() {
    setErrorCount(0);
    setRunning(true);
}

void VELKAudioFileWriter::stop() {
    flush();
    setRunning(false);
}

void VELKAudioFileWriter::processBuffer(SQueueableAudioBuffer* buffer) {
    uint32_t frames = SAudioBufferFrameCount(&buffer->mBuffer);
    if (frames == 0 || mWriteFailed.load()) {
        SAudioBufferSetEmpty(&buffer->mBuffer);
        return;
    }
    AudioBufferList* list = VELKAudioBufferListCopy(buffer->mBuffer.mBufferList);
    std::string failure;
    try {
        audioFile()->writeAudioBufferList(list, &frames);
    } catch (const NSXException& exception) {
        failure = exception.error().localizedDescription();
    } catch (const std::exception& exception) {
        failure = exception.what();
    }
    std::free(list);
    SAudioBufferSetEmpty(&buffer->mBuffer);
    // A worker has nobody to raise to: remember it and tell the recorder.
    if (!failure.empty() && !mWriteFailed.exchange(true)) {
        {
            std::lock_guard lock(mErrorLock);
            mWriteError = failure;
        }
        std::fprintf(stderr, "(ERROR) VELKAudioFileWriter : %s\n", failure.c_str());
        if (mFailureHandler) {
            mFailureHandler(failure);
        }
    }
}

std::string VELKAudioFileWriter::writeError() const {
    std::lock_guard lock(mErrorLock);
    return mWriteError;
}

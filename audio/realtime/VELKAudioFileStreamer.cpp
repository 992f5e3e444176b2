#include "audio/realtime/VELKAudioFileStreamer.h"

#include "audio/format/InternalInconsistencyException.h"
#include "audio/format/NSXException.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

VELKAudioFileStreamer::VELKAudioFileStreamer(
    uint32_t bufferCount, uint32_t numFrames,
    const VELKAudioStreamBasicDescription& streamDescription,
    std::shared_ptr<VELKExtendedAudioFile> audioFile)
    : VELKAudioBufferQueue(bufferCount, numFrames, streamDescription),
      mAudioFile(std::move(audioFile)) {}

VELKAudioFileStreamer::~VELKAudioFileStreamer() {
    teardownForgottenWorker();
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

VELKAudioFileReader::VELKAudioFileReader(uint32_t bufferCount, uint32_t numFrames,
                                         const VELKAudioStreamBasicDescription& streamDescription,
                                         std::shared_ptr<VELKExtendedAudioFile> audioFile)
    : VELKAudioFileStreamer(bufferCount, numFrames, streamDescription, std::move(audioFile)) {
    suspendRenderSide(); // the ring holds nothing to play before the first start
}

VELKAudioFileReader::~VELKAudioFileReader() {
    teardownForgottenWorker();
}

void VELKAudioFileReader::start() {
    if (running()) {
        stop();
    }
    setErrorCount(0);
    setEndOfStream(false);
    mFailed.store(false);
    prime();
    setRunning(true);
    startWorker();
    resumeRenderSide();
}

void VELKAudioFileReader::stop() {
    suspendRenderSide();
    stopWorker();
    waitForPendingBuffers(); // no refill moves the position after this
    if (running()) {
        mCurrentFrame.store(frameReachedByRenderSide());
        mFileAtCurrentFrame.store(false); // the file stands where the reading got to
    }
    setRunning(false);
}

void VELKAudioFileReader::processBuffer(SQueueableAudioBuffer* buffer) {
    SAudioBufferSetEmpty(&buffer->mBuffer);
    buffer->mFileStartFrame = mCurrentFrame.load();
    if (!mFailed.load()) {
        try {
            fillBuffer(buffer);
            return;
        } catch (const std::exception& exception) {
            noteFailure(exception.what());
        }
    }
    // Nothing more can be read until the next start: the stream ends here.
    buffer->mBuffer.mEndFrame = 0;
    buffer->mBuffer.mReachedEndOfStream = true;
}

namespace {

struct FreeBufferList {
    void operator()(AudioBufferList* list) const { std::free(list); }
};

} // namespace

void VELKAudioFileReader::fillBuffer(SQueueableAudioBuffer* buffer) {
    const std::shared_ptr<VELKExtendedAudioFile> file = audioFile();
    // One direction for the whole refill, whatever the owner sets meanwhile.
    const bool reverse = file->reverse();
    const VELKLoopRange range = loopRange();
    const bool looping = mLooping.load();
    const int64_t loopEnd = range.location + range.length;
    int64_t current = mCurrentFrame.load();
    buffer->mFileStartFrame = current;
    buffer->mReverse = reverse;

    auto frames = static_cast<uint32_t>(mBufferSizeFrames);
    if (looping && !reverse && current + frames > loopEnd) {
        frames = static_cast<uint32_t>(std::max<int64_t>(loopEnd - current, 0));
    }
    if (!reverse && !mFileAtCurrentFrame.load()) {
        file->seekToFrame(current);
    }
    mFileAtCurrentFrame.store(false);
    // The file read may change byte sizes: it works on a copy of the header.
    const std::unique_ptr<AudioBufferList, FreeBufferList> list(
        VELKAudioBufferListCopy(buffer->mBuffer.mBufferList));
    file->readIntoAudioBufferList(list.get(), current, &frames, reverse);
    mFileAtCurrentFrame.store(!reverse);

    if (frames > 0) {
        if (reverse) {
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
                mFileAtCurrentFrame.store(true);
            }
        }
    } else if (looping) {
        current = reverse ? loopEnd : range.location;
        file->seekToFrame(current);
        mFileAtCurrentFrame.store(true);
    }
    mCurrentFrame.store(current);
    buffer->mBuffer.mEndFrame = frames;
    buffer->mBuffer.mReachedEndOfStream = !looping && frames == 0;
}

void VELKAudioFileReader::noteFailure(const std::string& reason) {
    {
        std::lock_guard lock(mFailureLock);
        mFailureReason = reason;
    }
    mFailed.store(true);
    std::fprintf(stderr, "(ERROR) VELKAudioFileReader : %s\n", reason.c_str());
}

std::string VELKAudioFileReader::failureReason() const {
    std::lock_guard lock(mFailureLock);
    return mFailureReason;
}

int64_t VELKAudioFileReader::frameReachedByRenderSide() const {
    const SQueueableAudioBuffer* current = buffer(static_cast<uint32_t>(currentBufferIndex()));
    const int64_t offset = current->mBuffer.mStartFrame;
    return current->mReverse ? current->mFileStartFrame - offset
                             : current->mFileStartFrame + offset;
}

int64_t VELKAudioFileReader::currentFrame() const {
    return running() ? frameReachedByRenderSide() : mCurrentFrame.load();
}

void VELKAudioFileReader::setCurrentFrame(int64_t frame) {
    const bool wasRunning = running();
    stop(); // the render side takes nothing and no refill runs while the file moves
    try {
        audioFile()->seekToFrame(frame);
    } catch (...) {
        // Refused: the reader goes on from where it was.
        mFileAtCurrentFrame.store(false);
        if (wasRunning) {
            start();
        }
        throw;
    }
    mCurrentFrame.store(frame);
    mFileAtCurrentFrame.store(true);
    if (wasRunning) {
        start();
    }
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

VELKAudioFileWriter::~VELKAudioFileWriter() {
    teardownForgottenWorker();
}

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

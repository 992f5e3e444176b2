// The file's real-time interface: the reads and writes of the file reader and
// writer. They run on those workers' threads, never on an I/O thread.

#include "audio/file/VELKAudioFileErrors.h"
#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/format/InternalInconsistencyException.h"

#include <algorithm>

void VELKExtendedAudioFile::readIntoAudioBufferList(AudioBufferList* bufferList, int64_t startFrame,
                                                    uint32_t* framesRead) {
    readIntoAudioBufferList(bufferList, startFrame, framesRead, mReverse.load());
}

void VELKExtendedAudioFile::readIntoAudioBufferList(AudioBufferList* bufferList, int64_t startFrame,
                                                    uint32_t* framesRead, bool reverse) {
    if (!framesRead) {
        throw InternalInconsistencyException("Invalid parameter not satisfying: ioNumFrames",
                                             "VELKExtendedAudioFile_AudioUnit", __LINE__);
    }
    std::lock_guard lock(mReadLock);
    uint32_t count = *framesRead;
    if (reverse) {
        int64_t begin = startFrame - count;
        if (begin < 0) {
            count = static_cast<uint32_t>(std::max<int64_t>(startFrame, 0));
            begin = 0;
        }
        seekToFrame(begin);
    }
    if (count == 0) {
        *framesRead = 0;
        return;
    }
    if (!mAudioFile || ExtAudioFileRead(mAudioFile, &count, bufferList) != 0) {
        count = 0;
    }
    if (reverse) {
        reverseBufferList(bufferList);
    }
    *framesRead = count;
}

void VELKExtendedAudioFile::reverseBufferList(AudioBufferList* bufferList) {
    for (uint32_t b = 0; b < bufferList->mNumberBuffers; ++b) {
        AudioBuffer& buffer = bufferList->mBuffers[b];
        auto* samples = static_cast<float*>(buffer.mData);
        const size_t count = buffer.mDataByteSize / sizeof(float);
        std::reverse(samples, samples + count);
        const uint32_t channels = buffer.mNumberChannels;
        if (channels > 1) {
            for (size_t frame = 0; frame + channels <= count; frame += channels) {
                std::reverse(samples + frame, samples + frame + channels);
            }
        }
    }
}

void VELKExtendedAudioFile::writeAudioBufferList(AudioBufferList* bufferList,
                                                 uint32_t* framesWritten) {
    if (!framesWritten) {
        throw InternalInconsistencyException("Invalid parameter not satisfying: oNumFrames",
                                             "VELKExtendedAudioFile_AudioUnit", __LINE__);
    }
    const uint32_t frames = *framesWritten;
    const uint32_t bytesPerFrame = clientDataFormat().mBytesPerFrame;
    for (uint32_t b = 0; b < bufferList->mNumberBuffers; ++b) {
        bufferList->mBuffers[b].mDataByteSize = frames * bytesPerFrame;
    }
    VELKThrowIfAudioFileError(ExtAudioFileWrite(mAudioFile, frames, bufferList));
}

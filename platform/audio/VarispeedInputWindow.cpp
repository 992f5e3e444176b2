#include "platform/audio/VarispeedInputWindow.h"

#include <algorithm>
#include <cstring>

void VarispeedInputWindow::allocate(uint32_t channels, uint32_t capacityFrames) {
    mChannels = channels;
    mCapacity = capacityFrames;
    mSamples.assign(static_cast<size_t>(capacityFrames) * channels, 0.0f);
    clear();
}

void VarispeedInputWindow::clear() {
    mOffset = 0;
    mFirst = 0;
    mCount = 0;
}

// Real-time: no allocation, no locks.
void VarispeedInputWindow::forgetBefore(int64_t index) {
    const int64_t dropped = std::clamp<int64_t>(index - mFirst, 0, mCount);
    mFirst += dropped;
    mOffset += static_cast<size_t>(dropped);
    mCount -= static_cast<uint32_t>(dropped);
    if (mCount == 0) {
        mOffset = 0;
    }
}

// Real-time: no allocation, no locks. Held frames move to the front when the
// tail is short of room.
uint32_t VarispeedInputWindow::reserve(uint32_t frames) {
    if (mOffset + mCount + frames > mCapacity && mOffset > 0) {
        std::memmove(mSamples.data(), mSamples.data() + mOffset * mChannels,
                     static_cast<size_t>(mCount) * mChannels * sizeof(float));
        mOffset = 0;
    }
    return std::min(frames, mCapacity - mCount - static_cast<uint32_t>(mOffset));
}

// Real-time: no allocation, no locks.
void VarispeedInputWindow::appendPlanar(const AudioBufferList* list, uint32_t frames) {
    float* out = mSamples.data() + (mOffset + mCount) * mChannels;
    for (uint32_t c = 0; c < mChannels; ++c) {
        const auto* in = static_cast<const float*>(list->mBuffers[c].mData);
        for (uint32_t i = 0; i < frames; ++i) {
            out[static_cast<size_t>(i) * mChannels + c] = in[i];
        }
    }
    mCount += frames;
}

// Real-time: no allocation, no locks.
void VarispeedInputWindow::copyPlanar(int64_t index, uint32_t frames, AudioBufferList* list) const {
    const float* in = frame(index);
    for (uint32_t c = 0; c < mChannels; ++c) {
        auto* out = static_cast<float*>(list->mBuffers[c].mData);
        for (uint32_t i = 0; i < frames; ++i) {
            out[i] = in[static_cast<size_t>(i) * mChannels + c];
        }
    }
}

#include "audio/dsp/VELKVocalRemoverStage.h"

#include "audio/format/NSXException.h"

#include <algorithm>
#include <cstring>

namespace {
// Slices are processed in pieces of at most a hop, so the remover's queues
// never need more room than this.
constexpr uint32_t kPiece = 1024;
constexpr uint64_t kQueueLength = 16384;
} // namespace

VELKVocalRemoverStage::VELKVocalRemoverStage(double sampleRate, uint32_t channels)
    : mChannels(channels) {
    if (channels < 2 || !(sampleRate >= 2.0 && sampleRate <= 1e6)) {
        NSXThrowErrstr("a vocal remover needs two channels or more at a sample rate it can use");
    }
    mRemover = SVocalRemoverCreate(static_cast<uint32_t>(sampleRate), channels, kQueueLength);
    mIn = new const float*[channels];
    mOut = new float*[channels];
    if (!mRemover) {
        delete[] mIn;
        delete[] mOut;
        NSXThrowErrstr("the vocal remover could not be made");
    }
    mSilenceToGo = latency();
}

VELKVocalRemoverStage::~VELKVocalRemoverStage() {
    SVocalRemoverDestroy(mRemover);
    delete[] mIn;
    delete[] mOut;
}

void VELKVocalRemoverStage::setEnabled(bool enabled) {
    SVocalRemoverSetBypass(mRemover, !enabled);
}

bool VELKVocalRemoverStage::enabled() const {
    return !SVocalRemoverIsBypassed(mRemover);
}

uint32_t VELKVocalRemoverStage::latency() const {
    return SVocalRemoverLatency(mRemover);
}

int64_t VELKVocalRemoverStage::framesBehind() const {
    return std::min<int64_t>(mPassed.load(std::memory_order_acquire), latency());
}

void VELKVocalRemoverStage::requestReset() {
    mPassed.store(0, std::memory_order_release);
    mResetRequested.store(true, std::memory_order_release);
}

// Real-time: no allocation, no locks.
void VELKVocalRemoverStage::beginSlice() {
    if (!mResetRequested.exchange(false, std::memory_order_acq_rel)) {
        return;
    }
    SVocalRemoverReset(mRemover);
    mSilenceToGo = latency();
    mDrainRemaining = -1;
    mPassed.store(0, std::memory_order_release);
}

// Real-time: no allocation, no locks.
void VELKVocalRemoverStage::beginDrain() {
    if (mDrainRemaining < 0) {
        mDrainRemaining = latency();
    }
}

// Real-time: no allocation, no locks.
void VELKVocalRemoverStage::process(AudioBufferList* data, uint32_t frames) {
    beginSlice();
    if (!data || data->mNumberBuffers != mChannels) {
        return;
    }
    for (uint32_t c = 0; c < mChannels; ++c) {
        if (data->mBuffers[c].mNumberChannels != 1 ||
            data->mBuffers[c].mDataByteSize < frames * sizeof(float)) {
            return;
        }
    }
    // The stream out is the remover's output after `latency` frames of
    // silence. The remover has all but the last 2048 frames of its input
    // ready, so with that delay it is never short.
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(kPiece, frames - done);
        const uint32_t silence = std::min(n, mSilenceToGo);
        for (uint32_t c = 0; c < mChannels; ++c) {
            auto* samples = static_cast<float*>(data->mBuffers[c].mData) + done;
            mIn[c] = samples;
            mOut[c] = samples + silence;
        }
        // The input is taken in before any output is written.
        SVocalRemoverProcess(mRemover, mIn, n, mOut, n - silence);
        for (uint32_t c = 0; c < mChannels; ++c) {
            std::memset(static_cast<float*>(data->mBuffers[c].mData) + done, 0,
                        silence * sizeof(float));
        }
        mSilenceToGo -= silence;
        done += n;
    }
    mPassed.fetch_add(frames, std::memory_order_acq_rel);
    if (mDrainRemaining > 0) {
        mDrainRemaining = std::max<int64_t>(mDrainRemaining - frames, 0);
    }
}

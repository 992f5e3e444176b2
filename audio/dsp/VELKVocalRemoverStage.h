#pragma once

#include "audio/dsp/SVocalRemover.h"
#include "platform/audio/AudioUnitTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>

// The vocal remover as a stage of a playback chain: it processes each
// rendered slice in place and delays the stream by exactly its latency
// (4096 frames), starting with that much silence, so the output never runs
// short whatever the slice sizes. Turned off, it stays in the chain with the
// same delay and passes the sound whole, so switching is seamless.
//
// The owner's thread creates it, switches it and asks for resets; the
// render thread processes. Only the remover's own first two channels decide
// what is centred; a stage needs two channels or more.
class VELKVocalRemoverStage {
public:
    // Raises NSXException when it cannot be made (too few channels, a
    // nonsense rate, no memory).
    VELKVocalRemoverStage(double sampleRate, uint32_t channels);
    ~VELKVocalRemoverStage();
    VELKVocalRemoverStage(const VELKVocalRemoverStage&) = delete;
    VELKVocalRemoverStage& operator=(const VELKVocalRemoverStage&) = delete;

    void setEnabled(bool enabled);
    bool enabled() const;
    uint32_t channels() const { return mChannels; }
    uint32_t latency() const;
    // How far the stage's output is behind its input, in frames: the
    // latency once it has taken that many frames since the last reset.
    int64_t framesBehind() const;
    // Starts afresh at the next slice (after a seek, or before a start):
    // what is in the stage is dropped.
    void requestReset();

    // Real-time: no allocation, no locks. Carries out a requested reset; call
    // it at the start of each slice (process calls it too).
    void beginSlice();
    // Real-time: no allocation, no locks. Processes `frames` frames of
    // non-interleaved float buffers in place; a list of another shape passes
    // untouched.
    void process(AudioBufferList* data, uint32_t frames);
    // Real-time: no allocation, no locks. The input has ended: from now on
    // the stage plays out what it holds (the caller gives it silence).
    void beginDrain();
    bool draining() const { return mDrainRemaining >= 0; }
    // Everything the stage held has come out.
    bool drained() const { return mDrainRemaining == 0; }

private:
    SVocalRemover* mRemover = nullptr;
    uint32_t mChannels = 0;
    const float** mIn = nullptr;
    float** mOut = nullptr;
    uint32_t mSilenceToGo = 0;    // leading silence still to give after a reset
    int64_t mDrainRemaining = -1; // -1: not draining
    std::atomic<bool> mResetRequested{true};
    std::atomic<int64_t> mPassed{0};
};

#pragma once

#include "audio/dsp/SBufferQueue.h"

#include <atomic>
#include <cstdint>

// Removes centre-panned sound inside a frequency band (by default 150 Hz to
// 3600 Hz, where voices are) from blocks of float channel buffers.
//
// Every hop of 1024 samples, a frame of the last 2048 input samples is
// zero-padded to 4096 and transformed. Inside the band each channel is
// replaced by half the difference of the first two channels, so whatever is
// equal in both cancels; outside the band the frame passes unchanged. The
// frames are Hann-windowed (the window's halves sum to 1 at this hop) and
// overlap-added. It also keeps an averaged power spectrum per channel for a
// display.
//
// Samples wait in per-channel queues: a call may return fewer processed
// samples than it was given (none at first), and a stream that takes out
// what it puts in sees its input delayed, never more than the latency.
// Everything is made at creation; processing allocates nothing.
struct SVocalRemoverFFT; // the transforms and their work arrays

struct SVocalRemoverSplitComplex {
    float* realp;
    float* imagp;
};

struct SVocalRemover {
    uint32_t mSampleRate;
    uint32_t mChannelCount;
    SVocalRemoverFFT* mFFTSetup;
    uint32_t mFFTSize;     // 4096; also the reported latency
    uint32_t mLog2FFTSize; // 12
    uint32_t mHopSize;     // 1024
    uint32_t mWindowSize;  // 2048
    float* mScratch;       // 4096: inverse-transform output
    float* mWindow;        // 2048
    // Per channel. Spectra are packed: bin 0 holds DC (real) and Nyquist
    // (imaginary), and are scaled by 2 (a forward transform followed by the
    // inverse one gives the input times 2 × 4096).
    SVocalRemoverSplitComplex* mBandSpectrum; // 2048 + 2048: the bins in the band
    SVocalRemoverSplitComplex* mFullSpectrum; // 2048 + 2048: the rest
    float** mFrame;                           // 4096: the time-domain work frame
    float** mOverlap;                         // 1024: second half of the last windowed frame
    float* mPowerScratch;                     // 2048
    uint64_t mFrameCounter;                   // spectra averaged so far
    float** mAveragedSpectrum;                // 2048
    SBufferQueue** mInputQueue;               // samples waiting for analysis
    SBufferQueue** mOutputQueue;              // processed samples ready
    // Set from any thread, read by the processing.
    std::atomic<double> mLowFrequency;  // Hz, default 150
    std::atomic<double> mHighFrequency; // Hz, default 3600
    std::atomic<bool> mBypass;          // default off
};

// `queueLength` samples per channel for the input and output queues: one
// call may give at most queueLength − 2048 samples. Returns null when the
// sample rate is below 2 Hz, there are no channels, the queues are too short
// to hold a frame, or memory runs out.
SVocalRemover* SVocalRemoverCreate(uint32_t sampleRate, uint32_t channelCount,
                                   uint64_t queueLength);
void SVocalRemoverDestroy(SVocalRemover* self);
bool SVocalRemoverInitialize(SVocalRemover* self, uint32_t sampleRate, uint32_t channelCount,
                             uint64_t queueLength);
void SVocalRemoverDealloc(SVocalRemover* self);

// Appends `inLength` samples of every channel, processes every whole hop
// that is ready and moves up to `outLength` processed samples per channel
// into `outChannels` (which may be the input arrays). Returns `outLength`
// even when fewer samples were ready: the rest of the output is left as it
// was, and the caller can tell how many came by SVocalRemoverReady before
// the call. Giving more than the input queue has room for, or letting
// more than the output queue holds pile up, is a programming error.
// Real-time: no allocation, no locks.
uint32_t SVocalRemoverProcess(SVocalRemover* self, const float* const* inChannels,
                              uint32_t inLength, float* const* outChannels, uint32_t outLength);
// Processed samples per channel waiting to be taken.
uint64_t SVocalRemoverReady(const SVocalRemover* self);
// Starts afresh, as after a seek: drops the overlap and the waiting samples.
// The averaged spectrum stays (it only feeds a display).
// Real-time: no allocation, no locks.
void SVocalRemoverReset(SVocalRemover* self);
// Copies each channel's averaged power spectrum (2048 bins from 0 Hz up to
// below the Nyquist frequency) when `length` is exactly 2048 and returns it;
// any other length copies nothing and returns 0.
uint32_t SVocalRemoverGetSpectrum(const SVocalRemover* self, float* const* destination,
                                  uint32_t length);

void SVocalRemoverSetLowFrequency(SVocalRemover* self, double hertz);
double SVocalRemoverLowFrequency(const SVocalRemover* self);
void SVocalRemoverSetHighFrequency(SVocalRemover* self, double hertz);
double SVocalRemoverHighFrequency(const SVocalRemover* self);
// Bypassed, the frames pass whole (the output is the input delayed); the
// spectrum is still averaged.
void SVocalRemoverSetBypass(SVocalRemover* self, bool bypass);
bool SVocalRemoverIsBypassed(const SVocalRemover* self);
uint32_t SVocalRemoverChannelCount(const SVocalRemover* self);
uint32_t SVocalRemoverLatency(const SVocalRemover* self);        // 4096 samples
uint32_t SVocalRemoverSpectrumLength(const SVocalRemover* self); // 2048 bins

#include "audio/dsp/SVocalRemover.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace {

constexpr uint32_t kFFTSize = 4096;
constexpr uint32_t kLog2FFTSize = 12;
constexpr uint32_t kHopSize = 1024;
constexpr uint32_t kWindowSize = 2048;
constexpr uint32_t kBins = kFFTSize / 2; // packed bins, and the spectrum length
// A forward and an inverse transform multiply by 2 × 4096.
constexpr float kInverseScale = 1.0f / 8192.0f;
constexpr float kPowerScale = 0.5f / 4096.0f;
constexpr float kAveragingWeight = 5.0f;

// FFTW's planner is not thread-safe; running a plan is.
std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

// The real transforms in the packed convention the remover's scale factors
// are written for: bins 1…2047 of the forward transform times 2, and bin 0
// carrying 2 × DC in its real part and 2 × Nyquist in its imaginary part.
// FFTW computes the plain transform with the Nyquist bin apart; these
// convert on the way in and out.
struct SVocalRemoverFFT {
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;
    float* timeIn = nullptr;           // 4096
    fftwf_complex* spectrum = nullptr; // 2049
    float* timeOut = nullptr;          // 4096
};

namespace {

SVocalRemoverFFT* createFFT() {
    auto* fft = new (std::nothrow) SVocalRemoverFFT;
    if (!fft) {
        return nullptr;
    }
    fft->timeIn = fftwf_alloc_real(kFFTSize);
    fft->spectrum = fftwf_alloc_complex(kBins + 1);
    fft->timeOut = fftwf_alloc_real(kFFTSize);
    if (fft->timeIn && fft->spectrum && fft->timeOut) {
        std::lock_guard<std::mutex> lock(plannerMutex());
        fft->forward = fftwf_plan_dft_r2c_1d(kFFTSize, fft->timeIn, fft->spectrum, FFTW_MEASURE);
        fft->inverse = fftwf_plan_dft_c2r_1d(kFFTSize, fft->spectrum, fft->timeOut, FFTW_MEASURE);
    }
    return fft;
}

void destroyFFT(SVocalRemoverFFT* fft) {
    if (!fft) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(plannerMutex());
        if (fft->forward) {
            fftwf_destroy_plan(fft->forward);
        }
        if (fft->inverse) {
            fftwf_destroy_plan(fft->inverse);
        }
    }
    fftwf_free(fft->timeIn);
    fftwf_free(fft->spectrum);
    fftwf_free(fft->timeOut);
    delete fft;
}

// Real-time: no allocation, no locks.
void forwardTransform(SVocalRemoverFFT* fft, const float* time, SVocalRemoverSplitComplex out) {
    std::memcpy(fft->timeIn, time, kFFTSize * sizeof(float));
    fftwf_execute(fft->forward);
    const fftwf_complex* bins = fft->spectrum;
    out.realp[0] = 2.0f * bins[0][0];
    out.imagp[0] = 2.0f * bins[kBins][0];
    for (uint32_t k = 1; k < kBins; ++k) {
        out.realp[k] = 2.0f * bins[k][0];
        out.imagp[k] = 2.0f * bins[k][1];
    }
}

// Into the transform's own output array, times `scale`.
// Real-time: no allocation, no locks.
const float* inverseTransform(SVocalRemoverFFT* fft, SVocalRemoverSplitComplex in, float scale) {
    fftwf_complex* bins = fft->spectrum;
    bins[0][0] = in.realp[0];
    bins[0][1] = 0.0f;
    bins[kBins][0] = in.imagp[0];
    bins[kBins][1] = 0.0f;
    for (uint32_t k = 1; k < kBins; ++k) {
        bins[k][0] = in.realp[k];
        bins[k][1] = in.imagp[k];
    }
    fftwf_execute(fft->inverse);
    float* time = fft->timeOut;
    for (uint32_t i = 0; i < kFFTSize; ++i) {
        time[i] *= scale;
    }
    return time;
}

// The packed bin for a frequency, from 1 (bin 0 is DC and Nyquist, which
// are never in the band) to 2048.
uint32_t binOf(double hertz, uint32_t nyquist) {
    double bin = std::rint(hertz / nyquist * kBins);
    if (!(bin >= 1.0)) { // also NaN
        bin = 1.0;
    }
    return static_cast<uint32_t>(std::min<double>(bin, kBins));
}

float* allocFloats(size_t count) {
    return static_cast<float*>(std::calloc(count, sizeof(float)));
}

template <typename T>
T* allocArray(size_t count) {
    return static_cast<T*>(std::calloc(count, sizeof(T)));
}

// Real-time: no allocation, no locks.
void processFrame(SVocalRemover* self) {
    const uint32_t channels = self->mChannelCount;
    SVocalRemoverFFT* fft = self->mFFTSetup;

    // Analyse each channel's frame and fold its power into the average.
    for (uint32_t c = 0; c < channels; ++c) {
        float* frame = self->mFrame[c];
        std::memset(frame, 0, kFFTSize * sizeof(float));
        SBufferQueueRead(self->mInputQueue[c], frame, kWindowSize);
        const SVocalRemoverSplitComplex full = self->mFullSpectrum[c];
        forwardTransform(fft, frame, full);
        float* power = self->mPowerScratch;
        for (uint32_t k = 0; k < kBins; ++k) {
            power[k] =
                (full.realp[k] * full.realp[k] + full.imagp[k] * full.imagp[k]) * kPowerScale;
        }
        float* average = self->mAveragedSpectrum[c];
        if (self->mFrameCounter == 0) {
            for (uint32_t k = 0; k < kBins; ++k) {
                average[k] += power[k];
            }
        } else {
            for (uint32_t k = 0; k < kBins; ++k) {
                average[k] = (average[k] * kAveragingWeight + power[k]) / (kAveragingWeight + 1.0f);
            }
        }
    }
    // Once per frame, so every channel's first spectrum starts its average.
    ++self->mFrameCounter;

    if (self->mBypass.load(std::memory_order_relaxed)) {
        for (uint32_t c = 0; c < channels; ++c) {
            std::memset(self->mFrame[c], 0, kWindowSize * sizeof(float));
        }
    } else {
        const uint32_t nyquist = self->mSampleRate / 2;
        const uint32_t high = binOf(self->mHighFrequency.load(std::memory_order_relaxed), nyquist);
        const uint32_t low = binOf(self->mLowFrequency.load(std::memory_order_relaxed), nyquist);
        // Take the band out of each channel's spectrum and hear it alone.
        for (uint32_t c = 0; c < channels; ++c) {
            const SVocalRemoverSplitComplex band = self->mBandSpectrum[c];
            const SVocalRemoverSplitComplex full = self->mFullSpectrum[c];
            std::memset(band.realp, 0, kBins * sizeof(float));
            std::memset(band.imagp, 0, kBins * sizeof(float));
            for (uint32_t k = low; k < high; ++k) {
                band.realp[k] = full.realp[k];
                band.imagp[k] = full.imagp[k];
                full.realp[k] = 0.0f;
                full.imagp[k] = 0.0f;
            }
            const float* time = inverseTransform(fft, band, kInverseScale);
            std::memcpy(self->mFrame[c], time, kFFTSize * sizeof(float));
        }
        // In the band, every channel becomes half the difference of the
        // first two: what both share cancels.
        float* first = self->mFrame[0];
        const float* second = channels >= 2 ? self->mFrame[1] : nullptr;
        for (uint32_t i = 0; i < kWindowSize; ++i) {
            const float s = (second ? first[i] - second[i] : first[i]) * 0.5f;
            for (uint32_t c = 0; c < channels; ++c) {
                self->mFrame[c][i] = s;
            }
        }
    }

    for (uint32_t c = 0; c < channels; ++c) {
        float* frame = self->mFrame[c];
        // Everything outside the band (everything, when bypassed) comes back
        // as it was. Only the windowed first half of the frame is used.
        const float* time = inverseTransform(fft, self->mFullSpectrum[c], kInverseScale);
        float* scratch = self->mScratch;
        std::memcpy(scratch, time, kFFTSize * sizeof(float));
        for (uint32_t i = 0; i < kWindowSize; ++i) {
            frame[i] = (frame[i] + scratch[i]) * self->mWindow[i];
        }
        float* overlap = self->mOverlap[c];
        for (uint32_t i = 0; i < kHopSize; ++i) {
            frame[i] += overlap[i];
        }
        SBufferQueueAppend(self->mOutputQueue[c], frame, kHopSize);
        std::memcpy(overlap, frame + kHopSize, kHopSize * sizeof(float));
        SBufferQueueAdvance(self->mInputQueue[c], kHopSize);
    }
}

} // namespace

SVocalRemover* SVocalRemoverCreate(uint32_t sampleRate, uint32_t channelCount,
                                   uint64_t queueLength) {
    auto* self = new (std::nothrow) SVocalRemover{};
    if (!self) {
        return nullptr;
    }
    if (!SVocalRemoverInitialize(self, sampleRate, channelCount, queueLength)) {
        SVocalRemoverDealloc(self);
        delete self;
        return nullptr;
    }
    return self;
}

void SVocalRemoverDestroy(SVocalRemover* self) {
    if (!self) {
        return;
    }
    SVocalRemoverDealloc(self);
    delete self;
}

bool SVocalRemoverInitialize(SVocalRemover* self, uint32_t sampleRate, uint32_t channelCount,
                             uint64_t queueLength) {
    // A frame needs more than a window's samples waiting, and one hop more
    // to come out.
    if (sampleRate < 2 || channelCount == 0 || queueLength <= kWindowSize) {
        return false;
    }
    self->mSampleRate = sampleRate;
    self->mChannelCount = channelCount;
    self->mFFTSize = kFFTSize;
    self->mLog2FFTSize = kLog2FFTSize;
    self->mHopSize = kHopSize;
    self->mWindowSize = kWindowSize;
    self->mLowFrequency.store(150.0);
    self->mHighFrequency.store(3600.0);
    self->mBypass.store(false);
    self->mFrameCounter = 0;

    self->mFFTSetup = createFFT();
    if (!self->mFFTSetup || !self->mFFTSetup->forward || !self->mFFTSetup->inverse) {
        return false;
    }
    self->mScratch = allocFloats(kFFTSize);
    self->mWindow = allocFloats(kWindowSize);
    self->mPowerScratch = allocFloats(kBins);
    self->mBandSpectrum = allocArray<SVocalRemoverSplitComplex>(channelCount);
    self->mFullSpectrum = allocArray<SVocalRemoverSplitComplex>(channelCount);
    self->mFrame = allocArray<float*>(channelCount);
    self->mOverlap = allocArray<float*>(channelCount);
    self->mAveragedSpectrum = allocArray<float*>(channelCount);
    self->mInputQueue = allocArray<SBufferQueue*>(channelCount);
    self->mOutputQueue = allocArray<SBufferQueue*>(channelCount);
    if (!self->mScratch || !self->mWindow || !self->mPowerScratch || !self->mBandSpectrum ||
        !self->mFullSpectrum || !self->mFrame || !self->mOverlap || !self->mAveragedSpectrum ||
        !self->mInputQueue || !self->mOutputQueue) {
        return false;
    }
    for (uint32_t c = 0; c < channelCount; ++c) {
        self->mBandSpectrum[c] = {allocFloats(kBins), allocFloats(kBins)};
        self->mFullSpectrum[c] = {allocFloats(kBins), allocFloats(kBins)};
        self->mFrame[c] = allocFloats(kFFTSize);
        self->mOverlap[c] = allocFloats(kHopSize);
        self->mAveragedSpectrum[c] = allocFloats(kBins);
        self->mInputQueue[c] = SBufferQueueCreate(queueLength);
        self->mOutputQueue[c] = SBufferQueueCreate(queueLength);
        if (!self->mBandSpectrum[c].realp || !self->mBandSpectrum[c].imagp ||
            !self->mFullSpectrum[c].realp || !self->mFullSpectrum[c].imagp || !self->mFrame[c] ||
            !self->mOverlap[c] || !self->mAveragedSpectrum[c] || !self->mInputQueue[c] ||
            !self->mOutputQueue[c]) {
            return false;
        }
    }
    // The periodic Hann window: at a hop of half its length its two
    // overlapping halves add up to exactly 1, so what passes the frames
    // unchanged comes out at its own level.
    for (uint32_t i = 0; i < kWindowSize; ++i) {
        self->mWindow[i] = static_cast<float>(
            0.5 * (1.0 - std::cos(2.0 * M_PI * i / static_cast<double>(kWindowSize))));
    }
    return true;
}

void SVocalRemoverDealloc(SVocalRemover* self) {
    destroyFFT(self->mFFTSetup);
    self->mFFTSetup = nullptr;
    for (uint32_t c = 0; c < self->mChannelCount; ++c) {
        if (self->mBandSpectrum) {
            std::free(self->mBandSpectrum[c].realp);
            std::free(self->mBandSpectrum[c].imagp);
        }
        if (self->mFullSpectrum) {
            std::free(self->mFullSpectrum[c].realp);
            std::free(self->mFullSpectrum[c].imagp);
        }
        if (self->mFrame) {
            std::free(self->mFrame[c]);
        }
        if (self->mOverlap) {
            std::free(self->mOverlap[c]);
        }
        if (self->mAveragedSpectrum) {
            std::free(self->mAveragedSpectrum[c]);
        }
        if (self->mInputQueue) {
            SBufferQueueDestroy(self->mInputQueue[c]);
        }
        if (self->mOutputQueue) {
            SBufferQueueDestroy(self->mOutputQueue[c]);
        }
    }
    std::free(self->mBandSpectrum);
    std::free(self->mFullSpectrum);
    std::free(self->mFrame);
    std::free(self->mOverlap);
    std::free(self->mAveragedSpectrum);
    std::free(self->mInputQueue);
    std::free(self->mOutputQueue);
    std::free(self->mScratch);
    std::free(self->mWindow);
    std::free(self->mPowerScratch);
    self->mBandSpectrum = self->mFullSpectrum = nullptr;
    self->mFrame = self->mOverlap = self->mAveragedSpectrum = nullptr;
    self->mInputQueue = self->mOutputQueue = nullptr;
    self->mScratch = self->mWindow = self->mPowerScratch = nullptr;
}

// Real-time: no allocation, no locks.
uint32_t SVocalRemoverProcess(SVocalRemover* self, const float* const* inChannels,
                              uint32_t inLength, float* const* outChannels, uint32_t outLength) {
    const uint32_t channels = self->mChannelCount;
    for (uint32_t c = 0; c < channels; ++c) {
        SBufferQueueAppend(self->mInputQueue[c], inChannels[c], inLength);
    }
    while (SBufferQueueUsed(self->mInputQueue[0]) > kWindowSize) {
        processFrame(self);
    }
    const uint64_t ready = std::min<uint64_t>(outLength, SBufferQueueUsed(self->mOutputQueue[0]));
    for (uint32_t c = 0; c < channels; ++c) {
        SBufferQueueRead(self->mOutputQueue[c], outChannels[c], ready);
        SBufferQueueAdvance(self->mOutputQueue[c], ready);
    }
    return outLength;
}

uint64_t SVocalRemoverReady(const SVocalRemover* self) {
    return SBufferQueueUsed(self->mOutputQueue[0]);
}

// Real-time: no allocation, no locks.
void SVocalRemoverReset(SVocalRemover* self) {
    for (uint32_t c = 0; c < self->mChannelCount; ++c) {
        std::memset(self->mOverlap[c], 0, kHopSize * sizeof(float));
        SBufferQueueClear(self->mInputQueue[c]);
        SBufferQueueClear(self->mOutputQueue[c]);
    }
}

uint32_t SVocalRemoverGetSpectrum(const SVocalRemover* self, float* const* destination,
                                  uint32_t length) {
    if (length != kBins) {
        return 0;
    }
    for (uint32_t c = 0; c < self->mChannelCount; ++c) {
        std::memcpy(destination[c], self->mAveragedSpectrum[c], kBins * sizeof(float));
    }
    return length;
}

void SVocalRemoverSetLowFrequency(SVocalRemover* self, double hertz) {
    self->mLowFrequency.store(hertz, std::memory_order_relaxed);
}

double SVocalRemoverLowFrequency(const SVocalRemover* self) {
    return self->mLowFrequency.load(std::memory_order_relaxed);
}

void SVocalRemoverSetHighFrequency(SVocalRemover* self, double hertz) {
    self->mHighFrequency.store(hertz, std::memory_order_relaxed);
}

double SVocalRemoverHighFrequency(const SVocalRemover* self) {
    return self->mHighFrequency.load(std::memory_order_relaxed);
}

void SVocalRemoverSetBypass(SVocalRemover* self, bool bypass) {
    self->mBypass.store(bypass, std::memory_order_relaxed);
}

bool SVocalRemoverIsBypassed(const SVocalRemover* self) {
    return self->mBypass.load(std::memory_order_relaxed);
}

uint32_t SVocalRemoverChannelCount(const SVocalRemover* self) {
    return self->mChannelCount;
}

uint32_t SVocalRemoverLatency(const SVocalRemover* self) {
    return self->mFFTSize;
}

uint32_t SVocalRemoverSpectrumLength(const SVocalRemover*) {
    return kBins;
}

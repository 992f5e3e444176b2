#include "ToneAnalysis.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr size_t kBlock = 8192;      // frames per spectrum
constexpr double kBand = 0.03;       // the tone's band: within 3 % of it
constexpr double kBreakLevel = 0.01; // a residual this far from the sine (of its amplitude)
constexpr double kSilentLevel = 0.5; // below half the amplitude is a hole
constexpr double kMergeMs = 5.0;     // breaks closer than this are one

class Channel {
public:
    Channel(const float* samples, size_t frames, size_t stride)
        : mSamples(samples), mFrames(frames), mStride(stride) {}
    size_t size() const { return mFrames; }
    double operator[](size_t i) const { return mSamples[i * mStride]; }

private:
    const float* mSamples;
    size_t mFrames;
    size_t mStride;
};

// Sums Hann-windowed power spectra of whole blocks; returns the share of the
// energy in the band and sets `peak` to the strongest frequency.
double bandShare(const Channel& x, double rate, double frequency, double& peak) {
    std::vector<float> in(kBlock);
    std::vector<fftwf_complex> out(kBlock / 2 + 1);
    fftwf_plan plan =
        fftwf_plan_dft_r2c_1d(static_cast<int>(kBlock), in.data(), out.data(), FFTW_ESTIMATE);
    std::vector<double> power(kBlock / 2 + 1, 0.0);
    for (size_t start = 0; start + kBlock <= x.size(); start += kBlock) {
        for (size_t i = 0; i < kBlock; ++i) {
            const double window = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / kBlock);
            in[i] = static_cast<float>(x[start + i] * window);
        }
        fftwf_execute(plan);
        for (size_t k = 0; k < power.size(); ++k) {
            power[k] += static_cast<double>(out[k][0]) * out[k][0] +
                        static_cast<double>(out[k][1]) * out[k][1];
        }
    }
    fftwf_destroy_plan(plan);
    const double binHz = rate / kBlock;
    double total = 0;
    double band = 0;
    size_t strongest = 1;
    for (size_t k = 1; k < power.size(); ++k) {
        total += power[k];
        const double hz = k * binHz;
        if (std::fabs(hz - frequency) <= kBand * frequency) {
            band += power[k];
        }
        if (power[k] > power[strongest]) {
            strongest = k;
        }
    }
    // Between bins: the vertex of a parabola through the log powers.
    double offset = 0;
    if (strongest + 1 < power.size() && power[strongest] > 0) {
        const double a = std::log(power[strongest - 1] + 1e-30);
        const double b = std::log(power[strongest]);
        const double c = std::log(power[strongest + 1] + 1e-30);
        const double denominator = a - 2 * b + c;
        offset = denominator != 0 ? 0.5 * (a - c) / denominator : 0;
    }
    peak = (static_cast<double>(strongest) + offset) * binHz;
    return total > 0 ? band / total : 0;
}

// The phase (radians) of the sine of angular step `w` that best fits
// [first, first + count), by least squares: x = a sin(w i) + b cos(w i).
double phaseOver(const Channel& x, size_t first, size_t count, double w) {
    double xs = 0, xc = 0, ss = 0, cc = 0, sc = 0;
    for (size_t i = first; i < first + count && i < x.size(); ++i) {
        const double s = std::sin(w * static_cast<double>(i));
        const double c = std::cos(w * static_cast<double>(i));
        xs += x[i] * s;
        xc += x[i] * c;
        ss += s * s;
        cc += c * c;
        sc += s * c;
    }
    const double determinant = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / determinant;
    const double b = (xc * ss - xs * sc) / determinant;
    return std::atan2(b, a); // x = A sin(w i + phase)
}

} // namespace

ToneAnalysis analyseTone(const float* samples, size_t frames, size_t stride, double rate,
                         double frequency) {
    ToneAnalysis result;
    const Channel x(samples, frames, stride);
    if (frames < kBlock) {
        return result;
    }
    result.purity = bandShare(x, rate, frequency, result.frequency);

    // A sine obeys x[n] = 2 cos(w) x[n-1] - x[n-2], and its amplitude follows
    // from any two neighbouring samples; any break shows in the residual.
    const double w = 2 * std::numbers::pi * result.frequency / rate;
    const double c = 2 * std::cos(w);
    const double sinW = std::sin(w);
    std::vector<double> amplitude(frames, 0.0);
    for (size_t n = 1; n < frames; ++n) {
        const double squared = x[n] * x[n] + x[n - 1] * x[n - 1] - c * x[n] * x[n - 1];
        amplitude[n] = std::sqrt(std::max(squared, 0.0)) / std::fabs(sinW);
    }
    std::vector<double> sorted(amplitude.begin() + 1, amplitude.end());
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2),
                     sorted.end());
    result.amplitude = sorted[sorted.size() / 2];
    if (result.amplitude <= 0) {
        return result;
    }

    const auto merge = static_cast<size_t>(kMergeMs * rate / 1000);
    const auto period = static_cast<size_t>(std::ceil(rate / result.frequency));
    size_t silentRun = 0;
    for (size_t n = 1; n < frames; ++n) {
        silentRun = amplitude[n] < kSilentLevel * result.amplitude ? silentRun + 1 : 0;
        result.longestSilenceMs = std::max(result.longestSilenceMs, silentRun * 1000.0 / rate);
    }
    for (size_t n = 2; n < frames; ++n) {
        const double residual = x[n] - c * x[n - 1] + x[n - 2];
        if (std::fabs(residual) < kBreakLevel * result.amplitude) {
            continue;
        }
        // The break lasts while further residuals follow within the merge
        // distance; it is measured across from both sides.
        size_t last = n;
        size_t silentFrames = 0;
        for (size_t m = n; m < frames && m <= last + merge; ++m) {
            silentFrames += amplitude[m] < kSilentLevel * result.amplitude;
            if (m >= 2 &&
                std::fabs(x[m] - c * x[m - 1] + x[m - 2]) >= kBreakLevel * result.amplitude) {
                last = m;
            }
        }
        ToneAnalysis::Break found;
        found.at = static_cast<double>(n) / rate;
        found.silentMs = silentFrames * 1000.0 / rate;
        if (n > 2 * period + 2 && last + 2 + 2 * period < frames) {
            const double before = phaseOver(x, n - 2 - 2 * period, 2 * period, w);
            const double after = phaseOver(x, last + 1, 2 * period, w);
            const double step = std::remainder(after - before, 2 * std::numbers::pi);
            found.stepMs = step / (2 * std::numbers::pi * result.frequency) * 1000;
        }
        result.breaks.push_back(found);
        n = last + 1;
    }
    return result;
}

std::string ToneAnalysis::describe(size_t maximumBreaks) const {
    char line[200];
    std::snprintf(line, sizeof(line),
                  "peak %.1f Hz, amplitude %.3f, %.1f %% of the energy at the tone, %zu breaks, "
                  "longest silence %.2f ms",
                  frequency, amplitude, purity * 100, breaks.size(), longestSilenceMs);
    std::string text = line;
    for (size_t i = 0; i < breaks.size() && i < maximumBreaks; ++i) {
        std::snprintf(line, sizeof(line),
                      "\n  break at %.4f s: phase step %+.3f ms, %.2f ms silent", breaks[i].at,
                      breaks[i].stepMs, breaks[i].silentMs);
        text += line;
    }
    return text;
}

// Synthesises the deck's transport sounds: the clicks and clunks of its keys,
// the tape box drawer, the pause latch, a tape tossed into the bin and the
// whirr of a fast wind. Every sound is made here from damped resonances and
// filtered noise; nothing is recorded or copied.
//
//   make-deck-sounds FOLDER
//
// writes NAME.wav (16-bit, 44100 Hz, stereo) for each sound into FOLDER and
// prints each one's length, peak and RMS. A fixed noise seed makes every run
// write the same bytes.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;
// Every sound peaks at -12 dBFS, so they sit together and leave room.
const double kPeak = std::pow(10.0, -12.0 / 20.0);

size_t frames(double seconds) {
    return static_cast<size_t>(std::lround(seconds * kRate));
}

struct Stereo {
    std::vector<double> left;
    std::vector<double> right;
    explicit Stereo(double seconds) : left(frames(seconds), 0.0), right(frames(seconds), 0.0) {}
    size_t size() const { return left.size(); }
};

// xorshift64*: the same noise on every machine.
class Noise {
public:
    explicit Noise(uint64_t seed) : mState(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    // Uniform in [-1, 1).
    double next() {
        mState ^= mState >> 12;
        mState ^= mState << 25;
        mState ^= mState >> 27;
        const uint64_t value = mState * 0x2545F4914F6CDD1Dull;
        return static_cast<double>(value >> 11) / static_cast<double>(1ull << 52) - 1.0;
    }

private:
    uint64_t mState;
};

// A second-order filter (the usual cookbook designs).
class Biquad {
public:
    static Biquad lowpass(double frequency, double q) { return design(frequency, q, 0); }
    static Biquad highpass(double frequency, double q) { return design(frequency, q, 1); }
    static Biquad bandpass(double frequency, double q) { return design(frequency, q, 2); }

    double process(double x) {
        const double y = mB0 * x + mZ1;
        mZ1 = mB1 * x - mA1 * y + mZ2;
        mZ2 = mB2 * x - mA2 * y;
        return y;
    }

private:
    static Biquad design(double frequency, double q, int kind) {
        const double w = 2.0 * kPi * frequency / kRate;
        const double alpha = std::sin(w) / (2.0 * q);
        const double c = std::cos(w);
        double b0 = 0;
        double b1 = 0;
        double b2 = 0;
        if (kind == 0) {
            b0 = (1 - c) / 2;
            b1 = 1 - c;
            b2 = (1 - c) / 2;
        } else if (kind == 1) {
            b0 = (1 + c) / 2;
            b1 = -(1 + c);
            b2 = (1 + c) / 2;
        } else {
            b0 = alpha;
            b1 = 0;
            b2 = -alpha;
        }
        const double a0 = 1 + alpha;
        Biquad f;
        f.mB0 = b0 / a0;
        f.mB1 = b1 / a0;
        f.mB2 = b2 / a0;
        f.mA1 = -2 * c / a0;
        f.mA2 = (1 - alpha) / a0;
        return f;
    }
    double mB0 = 1, mB1 = 0, mB2 = 0, mA1 = 0, mA2 = 0;
    double mZ1 = 0, mZ2 = 0;
};

// Equal-power gains for a position from -1 (left) to 1 (right).
double leftGain(double pan) {
    return std::cos((pan + 1.0) * kPi / 4.0);
}
double rightGain(double pan) {
    return std::sin((pan + 1.0) * kPi / 4.0);
}

// A damped resonance struck at `start` seconds: it begins at zero (a sine),
// so the strike itself makes no step.
void addMode(Stereo& out, double start, double frequency, double decay, double amplitude,
             double pan = 0.0) {
    const size_t first = frames(start);
    for (size_t i = first; i < out.size(); ++i) {
        const double t = static_cast<double>(i - first) / kRate;
        const double envelope = amplitude * std::exp(-t / decay);
        if (envelope < 1e-6) {
            break;
        }
        const double v = envelope * std::sin(2.0 * kPi * frequency * t);
        out.left[i] += v * leftGain(pan);
        out.right[i] += v * rightGain(pan);
    }
}

// A filtered noise burst: a 0.3 ms rise, then an exponential decay.
void addBurst(Stereo& out, Noise& noise, double start, Biquad filter, double decay,
              double amplitude, double pan = 0.0) {
    const size_t first = frames(start);
    const double rise = 0.0003;
    for (size_t i = first; i < out.size(); ++i) {
        const double t = static_cast<double>(i - first) / kRate;
        const double envelope =
            amplitude * std::exp(-t / decay) * (t < rise ? std::sin(kPi / 2 * t / rise) : 1.0);
        if (t > rise && envelope < 1e-6) {
            break;
        }
        const double v = filter.process(noise.next()) * envelope;
        out.left[i] += v * leftGain(pan);
        out.right[i] += v * rightGain(pan);
    }
}

// A sliding sound: noise through `filter`, shaped by `envelope(t)` and
// moved across the field by `pan(t)`, with the grain of a rough runner.
void addSlide(Stereo& out, Noise& noise, double start, double length, Biquad filter,
              const std::function<double(double)>& envelope,
              const std::function<double(double)>& pan) {
    const size_t first = frames(start);
    const size_t count = frames(length);
    Biquad grain = Biquad::lowpass(35.0, 0.7);
    for (size_t n = 0; n < count && first + n < out.size(); ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double roughness = 1.0 + 6.0 * grain.process(noise.next());
        const double v = filter.process(noise.next()) * envelope(t / length) * roughness;
        const double p = pan(t / length);
        out.left[first + n] += v * leftGain(p);
        out.right[first + n] += v * rightGain(p);
    }
}

// Removes what lies below hearing (and with it any DC), fades the ends with
// raised cosines, and scales the louder channel's peak to kPeak.
void finish(Stereo& s, double fadeIn, double fadeOut) {
    for (auto* channel : {&s.left, &s.right}) {
        Biquad dc = Biquad::highpass(25.0, 0.707);
        double mean = 0;
        for (double& v : *channel) {
            v = dc.process(v);
            mean += v;
        }
        mean /= static_cast<double>(channel->size());
        for (double& v : *channel) {
            v -= mean;
        }
        const size_t in = frames(fadeIn);
        const size_t out = frames(fadeOut);
        const size_t n = channel->size();
        for (size_t i = 0; i < in && i < n; ++i) {
            (*channel)[i] *= 0.5 - 0.5 * std::cos(kPi * static_cast<double>(i) / in);
        }
        for (size_t i = 0; i < out && i < n; ++i) {
            (*channel)[n - 1 - i] *= 0.5 - 0.5 * std::cos(kPi * static_cast<double>(i) / out);
        }
    }
    double peak = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        peak = std::max({peak, std::fabs(s.left[i]), std::fabs(s.right[i])});
    }
    if (peak > 0) {
        for (size_t i = 0; i < s.size(); ++i) {
            s.left[i] *= kPeak / peak;
            s.right[i] *= kPeak / peak;
        }
    }
}

// A transport key going down: the contact's click, then the key's body
// landing (a low clunk) and a little rattle of the mechanism.
Stereo buttonPress() {
    Stereo s(0.30);
    Noise noise(101);
    addBurst(s, noise, 0.000, Biquad::bandpass(4200, 1.4), 0.0025, 1.0, -0.1);
    addMode(s, 0.000, 2900, 0.004, 0.35, -0.1);
    addBurst(s, noise, 0.008, Biquad::lowpass(900, 0.8), 0.010, 0.6);
    addMode(s, 0.008, 148, 0.035, 0.9);
    addMode(s, 0.008, 96, 0.050, 0.55);
    addMode(s, 0.008, 415, 0.015, 0.4, 0.1);
    addMode(s, 0.021, 1720, 0.006, 0.15, 0.3);
    finish(s, 0.0005, 0.03);
    return s;
}

// Two latched keys springing back up, one just after the other.
Stereo buttonClear() {
    Stereo s(0.34);
    Noise noise(202);
    for (int key = 0; key < 2; ++key) {
        const double at = key * 0.019;
        const double pan = key == 0 ? -0.25 : 0.25;
        const double level = key == 0 ? 1.0 : 0.8;
        addBurst(s, noise, at, Biquad::bandpass(5200, 1.6), 0.002, 0.75 * level, pan);
        addMode(s, at + 0.003, 262, 0.020, 0.5 * level, pan);
        addMode(s, at + 0.003, 610, 0.010, 0.25 * level, pan);
        addMode(s, at, 2230, 0.030, 0.08 * level, pan); // the spring
    }
    finish(s, 0.0005, 0.03);
    return s;
}

// A key driven against its stop: one hard knock with a metallic edge.
Stereo buttonHitExtent() {
    Stereo s(0.22);
    Noise noise(303);
    addBurst(s, noise, 0.000, Biquad::bandpass(3000, 1.2), 0.0015, 1.0);
    addMode(s, 0.000, 212, 0.025, 1.0);
    addMode(s, 0.000, 640, 0.012, 0.5, -0.1);
    addMode(s, 0.000, 1890, 0.008, 0.25, 0.1);
    finish(s, 0.0005, 0.03);
    return s;
}

// The pause latch: a muffled press with the catch clicking in after it.
Stereo pausePress() {
    Stereo s(0.20);
    Noise noise(404);
    addBurst(s, noise, 0.000, Biquad::lowpass(2000, 0.7), 0.003, 0.5);
    addMode(s, 0.000, 182, 0.030, 0.7);
    addMode(s, 0.000, 540, 0.010, 0.3);
    addBurst(s, noise, 0.025, Biquad::bandpass(3500, 1.5), 0.0015, 0.35, 0.15);
    addMode(s, 0.025, 1310, 0.006, 0.12, 0.15);
    finish(s, 0.0005, 0.03);
    return s;
}

// The pause latch letting go: a light click, the key rising and its spring.
Stereo pauseRelease() {
    Stereo s(0.18);
    Noise noise(505);
    addBurst(s, noise, 0.000, Biquad::bandpass(3000, 1.4), 0.002, 0.5, 0.1);
    addMode(s, 0.006, 238, 0.018, 0.5);
    addMode(s, 0.006, 700, 0.008, 0.2);
    addMode(s, 0.000, 1400, 0.020, 0.08, 0.1);
    finish(s, 0.0005, 0.03);
    return s;
}

// The tape box drawer on its runners: the catch, a rough slide that crosses
// the stereo field, and the drawer meeting its end.
Stereo drawer(bool opening) {
    Stereo s(0.80);
    Noise noise(opening ? 606 : 707);
    const double from = opening ? -0.8 : 0.8;
    const double to = -from;
    const double slideStart = 0.015;
    const double slideLength = opening ? 0.56 : 0.50;
    addBurst(s, noise, 0.0, Biquad::bandpass(2600, 1.3), 0.002, 0.45, from);
    const auto envelope = [](double x) {
        const double rise = std::min(x / 0.2, 1.0);
        const double fall = std::min((1.0 - x) / 0.3, 1.0);
        return 0.9 * std::sin(kPi / 2 * rise) * std::sin(kPi / 2 * std::max(fall, 0.0));
    };
    const auto pan = [from, to](double x) { return from + (to - from) * x; };
    addSlide(s, noise, slideStart, slideLength, Biquad::bandpass(700, 0.6), envelope, pan);
    const double stop = slideStart + slideLength - 0.01;
    addMode(s, stop, opening ? 118 : 132, 0.045, opening ? 0.8 : 0.95, to);
    addBurst(s, noise, stop, Biquad::lowpass(1500, 0.8), 0.006, 0.5, to);
    if (!opening) {
        // Closing ends on the catch.
        addBurst(s, noise, stop + 0.035, Biquad::bandpass(3800, 1.5), 0.0015, 0.45, to);
        addMode(s, stop + 0.035, 1150, 0.007, 0.15, to);
    }
    finish(s, 0.002, 0.06);
    return s;
}

// A cassette thrown into the bin: the air it moves, its case striking the
// bin (a plastic knock over the bin's thump), and a few smaller bounces.
Stereo tossTape() {
    Stereo s(0.75);
    Noise noise(808);
    const auto whoosh = [](double x) { return 0.22 * std::pow(std::sin(kPi * x), 2.0); };
    const auto drift = [](double x) { return -0.5 + 0.7 * x; };
    addSlide(s, noise, 0.0, 0.26, Biquad::bandpass(1500, 0.8), whoosh, drift);
    const double bounces[][2] = {
        {0.26, 1.0}, {0.35, 0.45}, {0.41, 0.26}, {0.45, 0.15}, {0.475, 0.08}};
    double detune = 1.0;
    for (const auto& bounce : bounces) {
        const double at = bounce[0];
        const double level = bounce[1];
        addBurst(s, noise, at, Biquad::bandpass(2500, 1.0), 0.004, 0.8 * level, 0.2);
        addMode(s, at, 905 * detune, 0.025, 0.6 * level, 0.2);
        addMode(s, at, 1460 * detune, 0.020, 0.5 * level, 0.15);
        addMode(s, at, 2610 * detune, 0.012, 0.35 * level, 0.25);
        addMode(s, at, 3920 * detune, 0.008, 0.2 * level, 0.2);
        if (level > 0.4) {
            addMode(s, at, 108, 0.060, 0.6 * level, 0.1); // the bin itself
        }
        // The reels rattling inside the case.
        addBurst(s, noise, at + 0.011, Biquad::bandpass(4500, 2.0), 0.001, 0.2 * level, 0.3);
        addBurst(s, noise, at + 0.023, Biquad::bandpass(5100, 2.0), 0.001, 0.12 * level, 0.1);
        detune *= 1.03;
    }
    finish(s, 0.003, 0.05);
    return s;
}

// The fast-wind whirr: the motor's whine with a slow wobble, the reels'
// flutter and the rush of tape past the heads. It loops: each tone is a
// whole number of cycles in the loop's second, and the noise's end is
// cross-faded into its beginning, so the last frame runs on into the first.
Stereo tapeSpeeding() {
    const size_t length = frames(1.0);
    const size_t overlap = frames(0.12);
    Stereo s(1.0);
    Noise noise(909);
    for (int c = 0; c < 2; ++c) {
        std::vector<double> rush(length + overlap);
        Biquad band = Biquad::bandpass(2400, 0.6);
        Biquad low = Biquad::lowpass(6000, 0.7);
        Biquad warm = Biquad::bandpass(380, 0.9);
        // Let the filters settle before the part that is kept.
        for (int i = 0; i < 4096; ++i) {
            const double n = noise.next();
            band.process(n);
            low.process(n);
            warm.process(n);
        }
        for (double& v : rush) {
            const double n = noise.next();
            v = 0.9 * low.process(band.process(n)) + 0.5 * warm.process(n);
        }
        auto& channel = c == 0 ? s.left : s.right;
        for (size_t i = 0; i < length; ++i) {
            double v = rush[i];
            if (i < overlap) {
                const double x = static_cast<double>(i) / overlap;
                v = rush[i] * std::sin(kPi / 2 * x) + rush[length + i] * std::cos(kPi / 2 * x);
            }
            const double t = static_cast<double>(i) / kRate;
            const double flutter =
                1.0 + 0.25 * std::sin(2 * kPi * 23 * t) + 0.1 * std::sin(2 * kPi * 7 * t + c * 0.5);
            // The motor's speed wavers three times a second.
            const double wobble = 0.2 * std::sin(2 * kPi * 3 * t);
            double whine = 0;
            for (int h = 1; h <= 4; ++h) {
                whine += std::sin(2 * kPi * 331 * h * t + h * wobble) / (h * h);
            }
            const double rumble = std::sin(2 * kPi * 46 * t) + 0.5 * std::sin(2 * kPi * 92 * t);
            channel[i] = 0.35 * v * flutter + 0.09 * whine + 0.05 * rumble;
        }
        // The mean over the loop goes; what repeats keeps its shape.
        double mean = 0;
        for (double v : channel) {
            mean += v;
        }
        mean /= static_cast<double>(length);
        for (double& v : channel) {
            v -= mean;
        }
    }
    double peak = 0;
    for (size_t i = 0; i < length; ++i) {
        peak = std::max({peak, std::fabs(s.left[i]), std::fabs(s.right[i])});
    }
    for (size_t i = 0; i < length; ++i) {
        s.left[i] *= kPeak / peak;
        s.right[i] *= kPeak / peak;
    }
    return s;
}

void put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void put32(std::string& out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v & 0xFFFF));
    put16(out, static_cast<uint16_t>(v >> 16));
}

int16_t sample16(double v) {
    return static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
}

bool writeWave(const std::string& path, const Stereo& s) {
    const auto dataBytes = static_cast<uint32_t>(s.size() * 4);
    std::string bytes = "RIFF";
    put32(bytes, 36 + dataBytes);
    bytes += "WAVEfmt ";
    put32(bytes, 16);
    put16(bytes, 1); // integer PCM
    put16(bytes, 2);
    put32(bytes, static_cast<uint32_t>(kRate));
    put32(bytes, static_cast<uint32_t>(kRate) * 4);
    put16(bytes, 4);
    put16(bytes, 16);
    bytes += "data";
    put32(bytes, dataBytes);
    for (size_t i = 0; i < s.size(); ++i) {
        put16(bytes, static_cast<uint16_t>(sample16(s.left[i])));
        put16(bytes, static_cast<uint16_t>(sample16(s.right[i])));
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

double decibels(double v) {
    return v > 0 ? 20.0 * std::log10(v) : -200.0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-deck-sounds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::pair<const char*, std::function<Stereo()>> sounds[] = {
        {"TapeSpeeding", tapeSpeeding},
        {"ButtonPress", buttonPress},
        {"ButtonClear", buttonClear},
        {"ButtonHitExtent", buttonHitExtent},
        {"DrawerOpenStereo", [] { return drawer(true); }},
        {"DrawerCloseStereo", [] { return drawer(false); }},
        {"PausePress", pausePress},
        {"PauseRelease", pauseRelease},
        {"TossTape2", tossTape},
    };
    for (const auto& [name, make] : sounds) {
        const Stereo s = make();
        double peak = 0;
        double energy = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            peak = std::max({peak, std::fabs(s.left[i]), std::fabs(s.right[i])});
            energy += s.left[i] * s.left[i] + s.right[i] * s.right[i];
        }
        const double rms = std::sqrt(energy / (2.0 * static_cast<double>(s.size())));
        const std::string path = folder + "/" + name + ".wav";
        if (!writeWave(path, s)) {
            std::fprintf(stderr, "make-deck-sounds: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%-18s %6zu frames %5.3f s  peak %6.1f dBFS  rms %6.1f dBFS\n", name, s.size(),
                    static_cast<double>(s.size()) / kRate, decibels(peak), decibels(rms));
    }
    return 0;
}

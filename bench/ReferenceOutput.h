#pragma once

#include "ToneRig.h"

#include "platform/audio/AudioUnitTypes.h"

#include <pulse/pulseaudio.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// A plain playback client to run beside the monitoring output: a steady tone
// on the same sink, asking the server for the same buffer with the same
// flags, served by a connection thread of its own at the same real-time
// priority as the engine's. It does nothing but answer the server's requests
// at once, so when it runs dry the machine or the server stalled; when only
// the monitoring output does, the fault is the monitoring's.
class ReferenceOutput {
public:
    ReferenceOutput(const std::string& sink, double rate, uint32_t channels,
                    PulseOutputBufferRequest buffer);
    ~ReferenceOutput();
    ReferenceOutput(const ReferenceOutput&) = delete;
    ReferenceOutput& operator=(const ReferenceOutput&) = delete;

    bool playing() const { return mPlaying; }
    // What the server granted: the buffer and the request size, in frames.
    PulseOutputBufferRequest granted() const { return mGranted; }
    // How many times the server found the buffer empty so far, and when
    // (monotonic seconds; the first ones only, if there were very many).
    uint64_t underruns() const { return mUnderruns.load(); }
    std::vector<double> underrunTimes() const;

private:
    static void writable(pa_stream* stream, size_t bytes, void* self);
    static void underflow(pa_stream* stream, void* self);

    TestPulseClient mClient;
    ToneGenerator mTone;
    size_t mFrameBytes;
    pa_stream* mStream = nullptr;
    bool mPlaying = false;
    PulseOutputBufferRequest mGranted{};
    std::vector<float> mScratch;
    std::atomic<uint64_t> mUnderruns{0};
    std::array<double, 4096> mUnderrunTimes{};
};

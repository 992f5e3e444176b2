#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A connection of the test's own to the audio server, apart from the
// engine's: the tone that goes in and the recording of what comes out must
// not share the engine's connection or its thread.
class TestPulseClient {
public:
    TestPulseClient();
    ~TestPulseClient();
    TestPulseClient(const TestPulseClient&) = delete;
    TestPulseClient& operator=(const TestPulseClient&) = delete;

    bool ready() const { return mReady; }
    pa_threaded_mainloop* loop() const { return mLoop; }
    pa_context* context() const { return mContext; }

private:
    pa_threaded_mainloop* mLoop = nullptr;
    pa_context* mContext = nullptr;
    bool mReady = false;
};

// A sine per channel, continuous in phase across however it is cut up.
class ToneGenerator {
public:
    ToneGenerator(double rate, std::vector<double> frequencies, float amplitude = 0.5f);
    uint32_t channels() const { return static_cast<uint32_t>(mFrequencies.size()); }
    // Appends `frames` interleaved frames to `out`.
    void generate(size_t frames, std::vector<float>& out);

private:
    double mRate;
    std::vector<double> mFrequencies;
    float mAmplitude;
    uint64_t mFrame = 0;
};

// Plays a tone into a sink, steadily as the server asks for it.
class TonePlayer {
public:
    TonePlayer(TestPulseClient& client, const std::string& sink, double rate,
               std::vector<double> frequencies);
    ~TonePlayer();

private:
    static void writable(pa_stream* stream, size_t bytes, void* self);
    TestPulseClient& mClient;
    ToneGenerator mTone;
    pa_stream* mStream = nullptr;
    std::vector<float> mScratch;
};

// Writes a tone into a pipe the way a network or wireless source hands on
// what it receives: blocks of 5 to 80 ms at random intervals, keeping to
// real time on average and never more than 80 ms behind it.
class UnevenToneWriter {
public:
    UnevenToneWriter(const std::string& fifo, double rate, std::vector<double> frequencies);
    ~UnevenToneWriter();

private:
    void run();
    std::string mPath;
    double mRate;
    ToneGenerator mTone;
    std::atomic<bool> mStopping{false};
    std::thread mThread;
};

// Keeps every frame a source delivers (interleaved, float).
class SourceRecorder {
public:
    SourceRecorder(TestPulseClient& client, const std::string& source, double rate,
                   uint32_t channels);
    ~SourceRecorder();

    // Forgets what has been heard so far.
    void restart();
    // Frames heard since the last restart.
    size_t frames();
    // Whether anything but silence has been heard since the last restart.
    bool heardSound();
    // A copy of what was heard since the last restart.
    std::vector<float> samples();
    uint32_t channels() const { return mChannels; }

private:
    static void readable(pa_stream* stream, size_t bytes, void* self);
    TestPulseClient& mClient;
    uint32_t mChannels;
    pa_stream* mStream = nullptr;
    std::mutex mLock;
    std::vector<float> mSamples;
};

#include "ToneRig.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <numbers>
#include <random>

namespace {

using namespace std::chrono_literals;

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Waits, with the loop locked, until the stream is ready or has failed.
bool waitUntilReady(pa_threaded_mainloop* loop, pa_stream* stream) {
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) {
            return true;
        }
        if (!PA_STREAM_IS_GOOD(state)) {
            return false;
        }
        pa_threaded_mainloop_wait(loop);
    }
}

void signalLoop(pa_stream*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

void closeStream(pa_threaded_mainloop* loop, pa_stream*& stream) {
    if (!stream) {
        return;
    }
    pa_threaded_mainloop_lock(loop);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
    pa_threaded_mainloop_unlock(loop);
}

} // namespace

TestPulseClient::TestPulseClient() {
    mLoop = pa_threaded_mainloop_new();
    mContext = pa_context_new(pa_threaded_mainloop_get_api(mLoop), "Cassora waveform test");
    pa_context_set_state_callback(
        mContext,
        [](pa_context*, void* loop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
        },
        mLoop);
    pa_context_connect(mContext, nullptr, PA_CONTEXT_NOFLAGS, nullptr);
    pa_threaded_mainloop_start(mLoop);
    pa_threaded_mainloop_lock(mLoop);
    while (pa_context_get_state(mContext) != PA_CONTEXT_READY &&
           PA_CONTEXT_IS_GOOD(pa_context_get_state(mContext))) {
        pa_threaded_mainloop_wait(mLoop);
    }
    mReady = pa_context_get_state(mContext) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(mLoop);
}

TestPulseClient::~TestPulseClient() {
    pa_threaded_mainloop_stop(mLoop);
    pa_context_disconnect(mContext);
    pa_context_unref(mContext);
    pa_threaded_mainloop_free(mLoop);
}

ToneGenerator::ToneGenerator(double rate, std::vector<double> frequencies, float amplitude)
    : mRate(rate), mFrequencies(std::move(frequencies)), mAmplitude(amplitude) {}

void ToneGenerator::generate(size_t frames, std::vector<float>& out) {
    for (size_t i = 0; i < frames; ++i, ++mFrame) {
        for (const double frequency : mFrequencies) {
            // The phase from the frame count, reduced first: exact however long it runs.
            const double cycles = std::fmod(static_cast<double>(mFrame) * frequency / mRate, 1.0);
            out.push_back(mAmplitude * static_cast<float>(std::sin(2 * std::numbers::pi * cycles)));
        }
    }
}

TonePlayer::TonePlayer(TestPulseClient& client, const std::string& sink, double rate,
                       std::vector<double> frequencies)
    : mClient(client), mTone(rate, std::move(frequencies)) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(rate),
                              static_cast<uint8_t>(mTone.channels())};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, mTone.channels(), PA_CHANNEL_MAP_DEFAULT);
    pa_threaded_mainloop_lock(client.loop());
    mStream = pa_stream_new(client.context(), "tone", &spec, &map);
    pa_stream_set_state_callback(mStream, &signalLoop, client.loop());
    pa_stream_set_write_callback(mStream, &TonePlayer::writable, this);
    // A quarter of a second queued in the server, which the sink takes at
    // its own pace: a moment in which this process does not run must not
    // break the tone before it reaches the input. (Without latency
    // adjustment the queue does not set the sink's latency.)
    const auto bytes = static_cast<uint32_t>(pa_usec_to_bytes(250000, &spec));
    const pa_buffer_attr attributes{static_cast<uint32_t>(-1), bytes, static_cast<uint32_t>(-1),
                                    static_cast<uint32_t>(-1), static_cast<uint32_t>(-1)};
    pa_stream_connect_playback(mStream, sink.c_str(), &attributes, PA_STREAM_NOFLAGS, nullptr,
                               nullptr);
    waitUntilReady(client.loop(), mStream);
    pa_threaded_mainloop_unlock(client.loop());
}

TonePlayer::~TonePlayer() {
    closeStream(mClient.loop(), mStream);
}

void TonePlayer::writable(pa_stream* stream, size_t bytes, void* data) {
    auto* self = static_cast<TonePlayer*>(data);
    const size_t frames = bytes / (sizeof(float) * self->mTone.channels());
    self->mScratch.clear();
    self->mTone.generate(frames, self->mScratch);
    pa_stream_write(stream, self->mScratch.data(), self->mScratch.size() * sizeof(float), nullptr,
                    0, PA_SEEK_RELATIVE);
}

UnevenToneWriter::UnevenToneWriter(const std::string& fifo, double rate,
                                   std::vector<double> frequencies)
    : mPath(fifo), mRate(rate), mTone(rate, std::move(frequencies)) {
    mThread = std::thread([this] { run(); });
}

UnevenToneWriter::~UnevenToneWriter() {
    mStopping = true;
    mThread.join();
}

void UnevenToneWriter::run() {
    // Non-blocking throughout, so that a reader that never comes, or stops
    // reading, does not hold us.
    int fd = -1;
    for (int attempt = 0; attempt < 500 && fd < 0 && !mStopping; ++attempt) {
        fd = ::open(mPath.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) {
            std::this_thread::sleep_for(10ms);
        }
    }
    if (fd < 0) {
        return;
    }
    std::mt19937 random(25);
    std::uniform_real_distribution<double> blockSeconds(0.005, 0.080);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    constexpr double kMostAhead = 0.080; // s: a new block only when less is waiting
    std::vector<float> block;
    const double began = monotonicSeconds();
    uint64_t written = 0;
    while (!mStopping) {
        block.clear();
        const auto frames = static_cast<size_t>(blockSeconds(random) * mRate);
        mTone.generate(frames, block);
        const auto* bytes = reinterpret_cast<const char*>(block.data());
        size_t left = block.size() * sizeof(float);
        while (left > 0 && !mStopping) {
            const ssize_t done = ::write(fd, bytes, left);
            if (done < 0 && errno == EAGAIN) {
                // The pipe is full (an idle source reads nothing): wait, but
                // never past a stop.
                pollfd writable{fd, POLLOUT, 0};
                ::poll(&writable, 1, 50);
                continue;
            }
            if (done <= 0) {
                ::close(fd);
                return;
            }
            bytes += done;
            left -= static_cast<size_t>(done);
        }
        written += frames;
        // Sleep a random part of what is waiting beyond the limit and up to
        // all of it: the next block comes before the last one has run out.
        const double ahead = began + static_cast<double>(written) / mRate - monotonicSeconds();
        if (ahead > 0) {
            const double least = std::max(0.0, ahead - kMostAhead);
            std::this_thread::sleep_for(
                std::chrono::duration<double>(least + share(random) * (ahead - least)));
        }
    }
    ::close(fd);
}

SourceRecorder::SourceRecorder(TestPulseClient& client, const std::string& source, double rate,
                               uint32_t channels)
    : mClient(client), mChannels(channels) {
    mSamples.reserve(static_cast<size_t>(rate * 60) * channels);
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(rate),
                              static_cast<uint8_t>(channels)};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, channels, PA_CHANNEL_MAP_DEFAULT);
    pa_threaded_mainloop_lock(client.loop());
    mStream = pa_stream_new(client.context(), "waveform", &spec, &map);
    pa_stream_set_state_callback(mStream, &signalLoop, client.loop());
    pa_stream_set_read_callback(mStream, &SourceRecorder::readable, this);
    pa_stream_connect_record(mStream, source.c_str(), nullptr, PA_STREAM_NOFLAGS);
    waitUntilReady(client.loop(), mStream);
    pa_threaded_mainloop_unlock(client.loop());
}

SourceRecorder::~SourceRecorder() {
    closeStream(mClient.loop(), mStream);
}

void SourceRecorder::readable(pa_stream* stream, size_t, void* data) {
    auto* self = static_cast<SourceRecorder*>(data);
    const void* samples = nullptr;
    size_t bytes = 0;
    while (pa_stream_peek(stream, &samples, &bytes) == 0 && bytes > 0) {
        std::lock_guard lock(self->mLock);
        const size_t count = bytes / sizeof(float);
        if (samples) {
            const auto* from = static_cast<const float*>(samples);
            self->mSamples.insert(self->mSamples.end(), from, from + count);
        } else {
            self->mSamples.insert(self->mSamples.end(), count, 0.0f); // a hole
        }
        pa_stream_drop(stream);
    }
}

void SourceRecorder::restart() {
    std::lock_guard lock(mLock);
    mSamples.clear();
}

size_t SourceRecorder::frames() {
    std::lock_guard lock(mLock);
    return mSamples.size() / mChannels;
}

bool SourceRecorder::heardSound() {
    std::lock_guard lock(mLock);
    return std::any_of(mSamples.begin(), mSamples.end(),
                       [](float sample) { return std::fabs(sample) > 0.01f; });
}

std::vector<float> SourceRecorder::samples() {
    std::lock_guard lock(mLock);
    return mSamples;
}

#include "ReferenceOutput.h"

#include "platform/audio/PulseHardware.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>

namespace {

double monotonicNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs the connection's thread at the engine's real-time priority, as the
// engine does with its own.
void raiseLoopThreadPriority(pa_threaded_mainloop* loop) {
    pa_threaded_mainloop_lock(loop);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    api->defer_new(
        api,
        [](pa_mainloop_api* loopApi, pa_defer_event* event, void*) {
            sched_param parameters{};
            parameters.sched_priority = PulseHardware::kIOThreadPriority;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters);
            loopApi->defer_free(event);
        },
        nullptr);
    pa_threaded_mainloop_unlock(loop);
}

void signalLoop(pa_stream*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

} // namespace

ReferenceOutput::ReferenceOutput(const std::string& sink, double rate, uint32_t channels,
                                 PulseOutputBufferRequest buffer)
    : mTone(rate, std::vector<double>(channels, 997.0)), mFrameBytes(sizeof(float) * channels) {
    if (!mClient.ready() || buffer.bufferFrames == 0) {
        return;
    }
    raiseLoopThreadPriority(mClient.loop());
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(rate),
                              static_cast<uint8_t>(channels)};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, channels, PA_CHANNEL_MAP_DEFAULT);
    mScratch.reserve(static_cast<size_t>(buffer.bufferFrames) * 4 * channels);
    const pa_buffer_attr attributes{
        static_cast<uint32_t>(-1), static_cast<uint32_t>(mFrameBytes * buffer.bufferFrames),
        static_cast<uint32_t>(-1), static_cast<uint32_t>(mFrameBytes * buffer.requestFrames),
        static_cast<uint32_t>(-1)};
    pa_threaded_mainloop_lock(mClient.loop());
    mStream = pa_stream_new(mClient.context(), "Reference output", &spec, &map);
    pa_stream_set_state_callback(mStream, &signalLoop, mClient.loop());
    pa_stream_set_write_callback(mStream, &ReferenceOutput::writable, this);
    pa_stream_set_underflow_callback(mStream, &ReferenceOutput::underflow, this);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_playback(mStream, sink.c_str(), &attributes, flags, nullptr, nullptr) ==
        0) {
        for (pa_stream_state_t state = pa_stream_get_state(mStream);
             PA_STREAM_IS_GOOD(state) && state != PA_STREAM_READY;
             state = pa_stream_get_state(mStream)) {
            pa_threaded_mainloop_wait(mClient.loop());
        }
        mPlaying = pa_stream_get_state(mStream) == PA_STREAM_READY;
    }
    if (const pa_buffer_attr* granted = mPlaying ? pa_stream_get_buffer_attr(mStream) : nullptr) {
        mGranted = {static_cast<uint32_t>(granted->tlength / mFrameBytes),
                    static_cast<uint32_t>(granted->minreq / mFrameBytes)};
    }
    pa_threaded_mainloop_unlock(mClient.loop());
}

ReferenceOutput::~ReferenceOutput() {
    if (!mStream) {
        return;
    }
    pa_threaded_mainloop_lock(mClient.loop());
    pa_stream_set_write_callback(mStream, nullptr, nullptr);
    pa_stream_set_underflow_callback(mStream, nullptr, nullptr);
    pa_stream_set_state_callback(mStream, nullptr, nullptr);
    pa_stream_disconnect(mStream);
    pa_stream_unref(mStream);
    pa_threaded_mainloop_unlock(mClient.loop());
}

std::vector<double> ReferenceOutput::underrunTimes() const {
    const auto count = std::min<size_t>(mUnderruns.load(), mUnderrunTimes.size());
    return {mUnderrunTimes.begin(), mUnderrunTimes.begin() + static_cast<ptrdiff_t>(count)};
}

// The whole request at once, as the monitoring output answers it.
void ReferenceOutput::writable(pa_stream* stream, size_t bytes, void* data) {
    auto* self = static_cast<ReferenceOutput*>(data);
    self->mScratch.clear();
    self->mTone.generate(bytes / self->mFrameBytes, self->mScratch);
    pa_stream_write(stream, self->mScratch.data(), self->mScratch.size() * sizeof(float), nullptr,
                    0, PA_SEEK_RELATIVE);
}

void ReferenceOutput::underflow(pa_stream*, void* data) {
    auto* self = static_cast<ReferenceOutput*>(data);
    const uint64_t index = self->mUnderruns.load(std::memory_order_relaxed);
    if (index < self->mUnderrunTimes.size()) {
        self->mUnderrunTimes[index] = monotonicNow();
    }
    self->mUnderruns.store(index + 1, std::memory_order_release);
}

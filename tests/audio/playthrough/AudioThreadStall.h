#pragma once

#include "platform/audio/PulseHardware.h"

#include <pulse/thread-mainloop.h>

#include <chrono>
#include <thread>

// Our audio thread is not run for `duration`, as on a busy machine: it
// waits for the server connection's lock, held here meanwhile.
inline void stallTheAudioThread(std::chrono::milliseconds duration) {
    pa_threaded_mainloop* loop = PulseHardware::shared().mainloop();
    pa_threaded_mainloop_lock(loop);
    std::this_thread::sleep_for(duration);
    pa_threaded_mainloop_unlock(loop);
}

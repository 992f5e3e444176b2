#pragma once

#include "platform/audio/AudioHardwareTypes.h"
#include "platform/audio/AudioUnitTypes.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Helpers for tests that run against the private PulseAudio server.
namespace AudioServerTools {

// Runs a shell command; returns its standard output with the final newline
// removed. Fails the test when it exits with an error.
std::string run(const std::string& command);

// The streams that play into the sink named `sink`, each as its index, the
// module that made it and its sample format (for a test's message).
std::vector<std::string> streamsPlayingInto(const std::string& sink);

// Pumps the main queue until `done` holds or `seconds` pass; returns `done()`.
bool pumpUntil(const std::function<bool()>& done, double seconds = 5.0);

// Pumps the main queue for `seconds`, running whatever arrives.
void pumpFor(double seconds);

// The device whose UID is `uid`, waited for up to `seconds` while the
// server makes it; 0 when it does not come.
AudioDeviceID waitForDevice(const std::string& uid, double seconds = 2.0);

// An input unit on `source` that hands `callback` one channel of floats at
// the source's own rate (set in `rate`), initialized but not started; null
// (with the test failed) when the unit cannot be made so.
AudioUnit openMonoInputUnit(AudioDeviceID source, AURenderCallback callback, void* refCon,
                            double& rate);

// Modules loaded for one test, unloaded newest first whatever happens.
class LoadedModules {
public:
    LoadedModules() = default;
    LoadedModules(const LoadedModules&) = delete;
    LoadedModules& operator=(const LoadedModules&) = delete;
    ~LoadedModules();
    // Loads a module (`pactl load-module` arguments); returns its index.
    std::string load(const std::string& arguments);
    void unload(const std::string& index);

private:
    std::vector<std::string> mLoaded;
};

} // namespace AudioServerTools

#pragma once

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

} // namespace AudioServerTools

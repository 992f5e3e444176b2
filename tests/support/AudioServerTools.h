#pragma once

#include <chrono>
#include <functional>
#include <string>

// Helpers for tests that run against the private PulseAudio server.
namespace AudioServerTools {

// Runs a shell command; returns its standard output with the final newline
// removed. Fails the test when it exits with an error.
std::string run(const std::string& command);

// Pumps the main queue until `done` holds or `seconds` pass; returns `done()`.
bool pumpUntil(const std::function<bool()>& done, double seconds = 5.0);

// Pumps the main queue for `seconds`, running whatever arrives.
void pumpFor(double seconds);

} // namespace AudioServerTools

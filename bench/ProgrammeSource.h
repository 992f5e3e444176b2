#pragma once

#include "ChildProcess.h"

#include <memory>
#include <string>

// The programme played live: a null sink of its own on the audio server,
// into which the programme plays in real time, so that recorders compared
// with each other record the same signal from its monitor.
class ProgrammeSource {
public:
    // Loads the sink and writes `seconds` of programme at 48 kHz into `folder`.
    ProgrammeSource(const std::string& folder, double seconds);
    ~ProgrammeSource(); // unloads the sink
    ProgrammeSource(const ProgrammeSource&) = delete;
    ProgrammeSource& operator=(const ProgrammeSource&) = delete;

    bool loaded() const { return !mModule.empty(); }
    // The source to record from.
    std::string monitor() const;
    // Starts playing the programme from its beginning; it plays until the
    // returned player is destroyed or the programme ends.
    std::unique_ptr<ChildProcess> play() const;

private:
    std::string mRaw;
    std::string mModule;
};

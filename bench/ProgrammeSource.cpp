#include "ProgrammeSource.h"

#include "ProgrammeSignal.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr const char* kSink = "cassora_bench_programme";

std::string shellOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof(buffer), pipe)) {
            output += buffer;
        }
        pclose(pipe);
    }
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return output;
}

} // namespace

ProgrammeSource::ProgrammeSource(const std::string& folder, double seconds)
    : mRaw(folder + "/live.f32") {
    mModule = shellOutput(std::string("pactl load-module module-null-sink sink_name=") + kSink +
                          " format=float32le rate=48000 channels=2");
    ProgrammeSignal::writeRawFloat(ProgrammeSignal::generate(seconds, 48000), mRaw);
}

ProgrammeSource::~ProgrammeSource() {
    if (!mModule.empty()) {
        shellOutput("pactl unload-module " + mModule);
    }
}

std::string ProgrammeSource::monitor() const {
    return std::string(kSink) + ".monitor";
}

std::unique_ptr<ChildProcess> ProgrammeSource::play() const {
    auto player = std::make_unique<ChildProcess>(std::vector<std::string>{
        "pacat", "--playback", std::string("--device=") + kSink, "--format=float32le",
        "--rate=48000", "--channels=2", "--raw", mRaw});
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the stream is up
    return player;
}

#include "AudioServerTools.h"

#include "audio/hardware/VELKAudioHardware.h"
#include "platform/audio/AudioHardwareService.h"
#include "platform/audio/AudioUnitService.h"
#include "platform/audio/MainQueue.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace AudioServerTools {

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    std::array<char, 4096> buffer{};
    size_t read = 0;
    while ((read = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), read);
    }
    const int status = pclose(pipe);
    EXPECT_EQ(status, 0) << command << " failed";
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return output;
}

std::vector<std::string> streamsPlayingInto(const std::string& sink) {
    // Short listings are tab-separated: a sink is "index name ...", a sink
    // input "index sink client driver format".
    auto fields = [](const std::string& line) {
        std::vector<std::string> out;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, '\t');) {
            out.push_back(field);
        }
        return out;
    };
    std::string index;
    std::istringstream sinks(run("pactl list short sinks"));
    for (std::string line; std::getline(sinks, line);) {
        const auto f = fields(line);
        if (f.size() > 1 && f[1] == sink) {
            index = f[0];
        }
    }
    std::vector<std::string> streams;
    if (index.empty()) {
        ADD_FAILURE() << "no sink named " << sink;
        return streams;
    }
    std::istringstream inputs(run("pactl list short sink-inputs"));
    for (std::string line; std::getline(inputs, line);) {
        const auto f = fields(line);
        if (f.size() > 4 && f[1] == index) {
            streams.push_back("#" + f[0] + " " + f[3] + " " + f[4]);
        }
    }
    return streams;
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        MainQueue::runPendingFor(0.02);
    }
    return true;
}

void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

AudioDeviceID waitForDevice(const std::string& uid, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    AudioDeviceID id = VELKAudioHardware::deviceIDForDeviceUID(uid);
    while (id == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        id = VELKAudioHardware::deviceIDForDeviceUID(uid);
    }
    return id;
}

AudioUnit openMonoInputUnit(AudioDeviceID source, AURenderCallback callback, void* refCon,
                            double& rate) {
    const AudioComponentDescription hal{kAudioUnitType_Output, kAudioUnitSubType_HALOutput,
                                        kAudioUnitManufacturer_Apple, 0, 0};
    AudioUnit unit = nullptr;
    EXPECT_EQ(AudioComponentInstanceNew(&hal, &unit), 0);
    if (!unit) {
        return nullptr;
    }
    const uint32_t on = 1;
    const uint32_t off = 0;
    AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 1, &on, 4);
    AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Output, 0, &off,
                         4);
    EXPECT_EQ(AudioUnitSetProperty(unit, kAudioOutputUnitProperty_CurrentDevice,
                                   kAudioUnitScope_Global, 0, &source, sizeof(source)),
              0);
    const AudioObjectPropertyAddress rateAddress{kAudioDevicePropertyNominalSampleRate,
                                                 kAudioObjectPropertyScopeInput, 0};
    uint32_t size = sizeof(rate);
    AudioObjectGetPropertyData(source, &rateAddress, 0, nullptr, &size, &rate);
    const AudioStreamBasicDescription format{rate,
                                             kAudioFormatLinearPCM,
                                             kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked |
                                                 kAudioFormatFlagIsNonInterleaved,
                                             4,
                                             1,
                                             4,
                                             1,
                                             32,
                                             0};
    EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1,
                                   &format, sizeof(format)),
              0);
    const AURenderCallbackStruct input{callback, refCon};
    AudioUnitSetProperty(unit, kAudioOutputUnitProperty_SetInputCallback, kAudioUnitScope_Global, 0,
                         &input, sizeof(input));
    EXPECT_EQ(AudioUnitInitialize(unit), 0);
    return unit;
}

LoadedModules::~LoadedModules() {
    for (auto it = mLoaded.rbegin(); it != mLoaded.rend(); ++it) {
        std::system(("pactl unload-module " + *it + " >/dev/null 2>&1").c_str());
    }
}

std::string LoadedModules::load(const std::string& arguments) {
    mLoaded.push_back(run("pactl load-module " + arguments));
    return mLoaded.back();
}

void LoadedModules::unload(const std::string& index) {
    run("pactl unload-module " + index);
    std::erase(mLoaded, index);
}

} // namespace AudioServerTools

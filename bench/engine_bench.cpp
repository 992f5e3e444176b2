// Engine benchmarks. Run inside the private audio server:
//   scripts/with-audio-server build/bench/engine_bench [--quick]
// Prints each figure with the reference it is measured against in the same run.

#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "audio/player/VELKExtendedAudioFilePlayer.h"
#include "audio/recorder/VELKExtendedAudioFileRecorder.h"
#include "platform/audio/AudioUnitService.h"
#include "platform/audio/MainQueue.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double childCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Music-like test material: two tones with a little noise.
std::vector<std::vector<float>> material(double seconds, double rate) {
    const auto frames = static_cast<size_t>(seconds * rate);
    std::vector<std::vector<float>> channels(2, std::vector<float>(frames));
    uint32_t noise = 1;
    for (size_t i = 0; i < frames; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double n = (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.02;
        channels[0][i] = static_cast<float>(0.3 * std::sin(2 * M_PI * 440 * i / rate) + n);
        channels[1][i] = static_cast<float>(0.3 * std::sin(2 * M_PI * 660 * i / rate) - n);
    }
    return channels;
}

double encodeWithEngine(const std::string& path, uint32_t format, double rate, uint64_t bitrate,
                        const std::vector<std::vector<float>>& signal) {
    auto description = format == kAudioFormatAppleLossless
                           ? VELKAudioStreamBasicDescription::alacStreamDescription()
                           : VELKAudioStreamBasicDescription::aacStreamDescription();
    description->setSampleRate(rate);
    if (format == kAudioFormatAppleLossless) {
        description->setFormatFlags(1);
    }
    const double before = cpuSeconds();
    auto file = VELKExtendedAudioFile::forRecording(path, description, bitrate, nullptr);
    std::vector<uint8_t> storage(AudioBufferListSize(2));
    auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
    list->mNumberBuffers = 2;
    const size_t frames = signal[0].size();
    constexpr uint32_t slice = 32768; // the recorder's buffer size
    for (size_t at = 0; at < frames; at += slice) {
        auto count = static_cast<uint32_t>(std::min<size_t>(slice, frames - at));
        for (uint32_t c = 0; c < 2; ++c) {
            list->mBuffers[c] = {1, count * 4, const_cast<float*>(signal[c].data() + at)};
        }
        file->writeAudioBufferList(list, &count);
    }
    file->closeFile();
    return cpuSeconds() - before;
}

double encodeWithFFmpeg(const std::string& raw, const std::string& path, const std::string& codec,
                        double rate) {
    const std::string command = "ffmpeg -v error -y -f f32le -ar " + std::to_string(int(rate)) +
                                " -ac 2 -i '" + raw + "' " + codec + " '" + path + "'";
    const double before = childCpuSeconds();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", command.c_str());
    }
    return childCpuSeconds() - before;
}

void benchEncoding(const std::string& folder, double seconds) {
    std::printf("Encoding %.0f s of stereo audio (CPU time, ours / ffmpeg command line):\n",
                seconds);
    struct Row {
        const char* name;
        uint32_t format;
        double rate;
        uint64_t bitrate;
        const char* ffmpeg;
    } rows[] = {
        {"HQ", kAudioFormatAppleLossless, 44100, 0, "-c:a alac -sample_fmt s16p"},
        {"MQ", kAudioFormatMPEG4AAC, 44100, 128000, "-c:a aac -b:a 128k -aac_pns 0"},
        {"LQ", kAudioFormatMPEG4AAC, 22050, 48000, "-c:a aac -b:a 48k -aac_pns 0"},
    };
    for (const Row& row : rows) {
        const auto signal = material(seconds, row.rate);
        const std::string raw = folder + "/input.f32";
        {
            std::ofstream out(raw, std::ios::binary);
            for (size_t i = 0; i < signal[0].size(); ++i) {
                out.write(reinterpret_cast<const char*>(&signal[0][i]), 4);
                out.write(reinterpret_cast<const char*>(&signal[1][i]), 4);
            }
        }
        const double ours =
            encodeWithEngine(folder + "/ours.m4a", row.format, row.rate, row.bitrate, signal);
        const double theirs = encodeWithFFmpeg(raw, folder + "/theirs.m4a", row.ffmpeg, row.rate);
        std::printf("  %s  ours %.2f s, ffmpeg %.2f s, ratio %.2f (goal <= 1.10)\n", row.name, ours,
                    theirs, ours / theirs);
    }
}

uint64_t longestCallback(AudioUnit unit) {
    uint64_t nanoseconds = 0;
    uint32_t size = sizeof(nanoseconds);
    AudioUnitGetProperty(unit, kPulseAudioUnitProperty_LongestCallback, 0, 0, &nanoseconds, &size);
    return nanoseconds;
}

void runFor(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        MainQueue::runPendingFor(0.05);
    }
}

void benchRecording(const std::string& folder, double seconds) {
    const auto input = VELKAudioDevice::withDeviceUID("cassora_null.monitor");
    auto description = VELKAudioStreamBasicDescription::aacStreamDescription();
    description->setSampleRate(44100);
    auto file =
        VELKExtendedAudioFile::forRecording(folder + "/recording.m4a", description, 128000, input);
    auto recorder = VELKExtendedAudioFileRecorder::withFile(file, input);
    recorder->startRecording();
    runFor(1.0); // past the server's start-up
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = Clock::now();
    runFor(seconds);
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    const uint64_t longest = longestCallback(recorder->inputAudioUnit()->audioUnit());
    recorder->stopRecording();
    const double slice = 512.0 / file->clientDataFormat().mSampleRate;
    std::printf("Recording MQ stereo: %.2f%% of one core (goal < 3%%); longest capture callback "
                "%.1f us = %.2f%% of a %.1f ms buffer (goal < 5%%)\n",
                100.0 * cpu / wall, longest / 1e3, 100.0 * longest / 1e9 / slice, slice * 1e3);
    file->closeFile();
}

void benchPlaying(const std::string& folder, double seconds, double speed) {
    const std::string tape = folder + "/play.m4a"; // an MQ tape long enough for 8x
    if (!std::filesystem::exists(tape)) {
        const auto signal = material(seconds * 8 + 30, 44100);
        encodeWithEngine(tape, kAudioFormatMPEG4AAC, 44100, 128000, signal);
    }
    auto player = VELKExtendedAudioFilePlayer::withFilename(
        tape, VELKAudioDevice::withDeviceUID("cassora_null"));
    player->setPlaybackSpeed(speed);
    player->startFilePlaying();
    runFor(2.0); // an idle null sink starts slowly
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = Clock::now();
    runFor(seconds);
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    const uint64_t longest = longestCallback(player->outputAudioUnit()->outputUnit());
    player->stopFilePlaying();
    const double slice = 512.0 / 44100.0;
    std::printf("Playing at %gx: %.2f%% of one core (goal < 3%% at 1x); longest render callback "
                "%.1f us = %.2f%% of a %.1f ms buffer (goal < 5%%)\n",
                speed, 100.0 * cpu / wall, longest / 1e3, 100.0 * longest / 1e9 / slice,
                slice * 1e3);
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const double seconds = quick ? 5.0 : 60.0;
    char pattern[] = "/tmp/cassora-bench-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    try {
        benchEncoding(folder, seconds);
        benchRecording(folder, seconds);
        benchPlaying(folder, quick ? 3.0 : 20.0, 1.0);
        benchPlaying(folder, quick ? 3.0 : 20.0, 8.0);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "benchmark failed: %s\n", failure.what());
        std::filesystem::remove_all(folder);
        return 1;
    }
    std::filesystem::remove_all(folder);
    return 0;
}

// Vocal remover benchmarks. Run inside the private audio server:
//   scripts/with-audio-server build/bench/dsp_bench [--quick] [--check]
// Both figures use the music-like programme at 44.1 kHz stereo. The
// remover's speed is printed against its goal and beside the bare FFTW
// transforms it has to run for the same audio (its floor); playback with
// voice removal is measured beside the same playback without it.

#include "BenchReport.h"
#include "ProgrammeSignal.h"

#include "audio/dsp/SVocalRemover.h"
#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/player/VELKExtendedAudioFilePlayer.h"
#include "platform/audio/MainQueue.h"

#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kRate = 44100;
constexpr uint32_t kBlock = 512;       // frames per call, as an output callback asks
constexpr double kSpeedGoal = 100.0;   // times real time on one core
constexpr double kPlaybackGoal = 0.05; // share of a core while playing with removal
constexpr double kWarmUpSeconds = 2.0;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Seconds of CPU for the remover over the whole signal, in blocks.
double removerSeconds(const ProgrammeSignal::Channels& signal) {
    SVocalRemover* remover = SVocalRemoverCreate(static_cast<uint32_t>(kRate), 2, 16384);
    std::vector<float> outLeft(kBlock), outRight(kBlock);
    float* out[2] = {outLeft.data(), outRight.data()};
    volatile float sink = 0;
    const double before = threadCpuSeconds();
    for (size_t at = 0; at + kBlock <= signal[0].size(); at += kBlock) {
        const float* in[2] = {signal[0].data() + at, signal[1].data() + at};
        SVocalRemoverProcess(remover, in, kBlock, out, kBlock);
        sink = sink + outLeft[0];
    }
    const double seconds = threadCpuSeconds() - before;
    SVocalRemoverDestroy(remover);
    return seconds;
}

// Seconds of CPU for the transforms alone: per hop of 1024 frames and per
// channel, one forward and two inverse 4096-point real transforms.
double transformSeconds(const ProgrammeSignal::Channels& signal) {
    float* time = fftwf_alloc_real(4096);
    fftwf_complex* bins = fftwf_alloc_complex(2049);
    fftwf_plan forward = fftwf_plan_dft_r2c_1d(4096, time, bins, FFTW_MEASURE);
    fftwf_plan inverse = fftwf_plan_dft_c2r_1d(4096, bins, time, FFTW_MEASURE);
    volatile float sink = 0;
    const size_t hops = signal[0].size() / 1024;
    const double before = threadCpuSeconds();
    for (size_t hop = 0; hop + 2 < hops; ++hop) {
        for (size_t c = 0; c < 2; ++c) {
            std::memset(time + 2048, 0, 2048 * sizeof(float));
            std::memcpy(time, signal[c].data() + hop * 1024, 2048 * sizeof(float));
            fftwf_execute(forward);
            fftwf_execute(inverse);
            fftwf_execute(inverse);
            sink = sink + time[0];
        }
    }
    const double seconds = threadCpuSeconds() - before;
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(inverse);
    fftwf_free(time);
    fftwf_free(bins);
    return seconds;
}

void runFor(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        MainQueue::runPendingFor(0.05);
    }
}

// A stereo lossless tape of the programme.
void writeTape(const std::string& path, const ProgrammeSignal::Channels& signal) {
    auto description = VELKAudioStreamBasicDescription::alacStreamDescription();
    description->setSampleRate(kRate);
    description->setChannelsPerFrame(2);
    auto file = VELKExtendedAudioFile::forRecording(path, description, 0, nullptr);
    std::vector<uint8_t> storage(AudioBufferListSize(2));
    auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
    list->mNumberBuffers = 2;
    constexpr uint32_t slice = 32768;
    for (size_t at = 0; at < signal[0].size(); at += slice) {
        auto count = static_cast<uint32_t>(std::min<size_t>(slice, signal[0].size() - at));
        std::vector<float> left(signal[0].begin() + at, signal[0].begin() + at + count);
        std::vector<float> right(signal[1].begin() + at, signal[1].begin() + at + count);
        list->mBuffers[0] = {1, count * 4, left.data()};
        list->mBuffers[1] = {1, count * 4, right.data()};
        file->writeAudioBufferList(list, &count);
    }
    file->closeFile();
}

// The process's share of a core while the tape plays to the null sink.
double playingShare(const std::string& tape, bool removeVoice, double seconds) {
    auto player = VELKExtendedAudioFilePlayer::withFilename(
        tape, VELKAudioDevice::withDeviceUID("cassora_null"));
    player->setRemovesVoice(removeVoice);
    player->startFilePlaying();
    runFor(kWarmUpSeconds);
    const double before = processCpuSeconds();
    const auto began = Clock::now();
    runFor(seconds);
    const double share = (processCpuSeconds() - before) /
                         std::chrono::duration<double>(Clock::now() - began).count();
    player->stopFilePlaying();
    return share;
}

} // namespace

int main(int argc, char** argv) {
    bool quick = false;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        quick = quick || std::strcmp(argv[i], "--quick") == 0;
        check = check || std::strcmp(argv[i], "--check") == 0;
    }
    BenchReport report;
    const double audioSeconds = quick ? 20.0 : 120.0;
    const auto signal = ProgrammeSignal::generate(audioSeconds, kRate);

    report.heading(formatted("SVocalRemoverProcess on %.0f s of the programme, 44.1 kHz stereo, "
                             "in blocks of %u frames, on one core:",
                             audioSeconds, kBlock));
    transformSeconds(signal); // plans and caches warm, for both
    const double transforms = transformSeconds(signal);
    const double remover = removerSeconds(signal);
    report.figure(formatted("%.0fx real time (%.3f s of CPU); the bare FFTW transforms for the "
                            "same audio %.0fx (%.3f s), so the remover costs %.2fx its transforms",
                            audioSeconds / remover, remover, audioSeconds / transforms, transforms,
                            remover / transforms),
                  formatted("at least %.0fx real time", kSpeedGoal),
                  audioSeconds / remover >= kSpeedGoal);

    const double playSeconds = quick ? 4.0 : 20.0;
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("cassora-dsp-bench-" + std::to_string(getpid())))
            .string();
    std::filesystem::create_directories(folder);
    const std::string tape = folder + "/programme.m4a";
    writeTape(tape, ProgrammeSignal::generate(2 * (kWarmUpSeconds + playSeconds) + 10, kRate));
    report.heading(formatted("Playing a 44.1 kHz stereo lossless tape of the programme to the "
                             "null sink, %.0f s after %.0f s of start-up (whole process):",
                             playSeconds, kWarmUpSeconds));
    const double plain = playingShare(tape, false, playSeconds);
    const double removing = playingShare(tape, true, playSeconds);
    report.figure(formatted("CPU with voice removal %.2f%% of a core; the same playback without "
                            "it %.2f%% (removal adds %.2f%%)",
                            100 * removing, 100 * plain, 100 * (removing - plain)),
                  formatted("below %.0f%% of a core", 100 * kPlaybackGoal),
                  removing < kPlaybackGoal);
    std::filesystem::remove_all(folder);
    return check && !report.allMet() ? 1 : 0;
}

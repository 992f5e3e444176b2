// Engine benchmarks. Run inside the private audio server:
//   scripts/with-audio-server build/bench/engine_bench [--quick] [--check] [--only PART]
// Each figure is measured on the same work as its reference in the same
// run (the same signal at the same input rate, the same encoder settings)
// and printed with its goal and "ok" or "MISSED". --check exits with status
// 1 when any figure misses; --quick measures for a few seconds only.

#include "BenchReport.h"
#include "ChildProcess.h"
#include "ProgrammeSignal.h"
#include "ProgrammeSource.h"
#include "StallProbe.h"

#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "audio/player/VELKExtendedAudioFilePlayer.h"
#include "audio/recorder/VELKExtendedAudioFileRecorder.h"
#include "platform/audio/AudioHardwareService.h"
#include "platform/audio/AudioUnitService.h"
#include "platform/audio/MainQueue.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using ProgrammeSignal::Channels;

constexpr double kEncodingGoal = 1.10;  // our CPU time ÷ ffmpeg's
constexpr double kRecordingGoal = 1.10; // our CPU (crash-proof) ÷ ffmpeg's PulseAudio recorder
constexpr double kPlayingGoal = 2.00;   // our CPU ÷ ffmpeg playing to PulseAudio
constexpr double kPlayingGoalGStreamer = 1.00; // our CPU ÷ GStreamer's playbin
constexpr double kCallbackGoal = 0.05;         // longest callback ÷ buffer period
constexpr int kRecordingRounds = 2;            // alternating rounds of each recorder
constexpr double kWarmUpSeconds = 2.0; // left out of CPU figures: start-up, an idle sink's start
constexpr const char* kOutputSink = "cassora_null";

struct Options {
    bool quick = false;
    bool check = false;
    std::string only; // "encoding", "recording" or "playing"; empty: all
};

// Runs the engine's main-thread notices for `seconds`. The main thread
// sleeps until a notice comes or the time is up: a harness that woke in
// slices would charge its own wake-ups to the engine's CPU figures.
void runFor(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        MainQueue::runPendingFor(std::chrono::duration<double>(end - now).count());
    }
}

void sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string oneMinute;
    file >> oneMinute;
    return oneMinute;
}

// A unit's I/O callbacks since it started: the longest, and what they cost
// their thread.
struct CallbackFigures {
    uint64_t longest = 0; // ns, start to end
    PulseCallbackCost cost{};

    // The figures of two stretches together.
    CallbackFigures with(const CallbackFigures& other) const {
        CallbackFigures both = longest >= other.longest ? *this : other;
        both.cost.longestCpuNanoseconds =
            std::max(cost.longestCpuNanoseconds, other.cost.longestCpuNanoseconds);
        both.cost.callbacksThatWaited = cost.callbacksThatWaited + other.cost.callbacksThatWaited;
        return both;
    }
};

// From here on the unit's callbacks are measured, their cost included.
void measureCallbacks(AudioUnit unit) {
    const uint32_t on = 1;
    AudioUnitSetProperty(unit, kPulseAudioUnitProperty_MeasureCallbackCost, kAudioUnitScope_Global,
                         0, &on, sizeof(on));
}

CallbackFigures callbackFigures(AudioUnit unit) {
    CallbackFigures figures;
    uint32_t size = sizeof(figures.longest);
    AudioUnitGetProperty(unit, kPulseAudioUnitProperty_LongestCallback, 0, 0, &figures.longest,
                         &size);
    size = sizeof(figures.cost);
    AudioUnitGetProperty(unit, kPulseAudioUnitProperty_CallbackCost, 0, 0, &figures.cost, &size);
    return figures;
}

// Frames one I/O callback handles on `device`.
uint32_t bufferFrames(const VELKAudioDevice& device) {
    const AudioObjectPropertyAddress address{kAudioDevicePropertyBufferFrameSize,
                                             kAudioObjectPropertyScopeGlobal, 0};
    uint32_t frames = 512;
    uint32_t size = sizeof(frames);
    AudioObjectGetPropertyData(device.deviceID(), &address, 0, nullptr, &size, &frames);
    return frames;
}

// A callback's work is the CPU its thread used in it; the rest of its time
// the thread was off the CPU. Off it without waiting (no voluntary switch),
// the machine held it up: another thread, or the hypervisor taking the CPU
// away. A callback that waited (a lock, a page from disk) fails the figure
// however short it was.
void reportCallback(BenchReport& report, const std::string& what, const CallbackFigures& figures,
                    uint32_t frames, double rate) {
    const double period = frames / rate;
    const double share = static_cast<double>(figures.cost.longestCpuNanoseconds) / 1e9 / period;
    report.figure(
        formatted("longest %s callback's work: %.1f us of CPU = %.2f%% of its %u-frame buffer "
                  "(%.1f ms); callbacks that waited: %llu; the longest callback took %.1f us "
                  "(%.2f%%), %.1f us of it on the CPU; load average %s",
                  what.c_str(), figures.cost.longestCpuNanoseconds / 1e3, 100 * share, frames,
                  period * 1e3, static_cast<unsigned long long>(figures.cost.callbacksThatWaited),
                  figures.longest / 1e3, 100 * figures.longest / 1e9 / period,
                  figures.cost.cpuOfLongestNanoseconds / 1e3, loadAverage().c_str()),
        formatted("< %.0f%% and none waited", 100 * kCallbackGoal),
        share < kCallbackGoal && figures.cost.callbacksThatWaited == 0);
}

void reportRatio(BenchReport& report, const std::string& measured, double ours, double theirs,
                 double goal) {
    const double ratio = theirs > 0 ? ours / theirs : INFINITY;
    report.figure(formatted("%s: ratio %.2f", measured.c_str(), ratio), formatted("<= %.2fx", goal),
                  ratio <= goal);
}

// Encoding

struct EncodingCase {
    const char* name;
    uint32_t format;
    uint32_t flags;
    double fileRate;
    uint64_t bitrate;
    std::vector<std::string> ffmpegCodec; // the same encoder settings as ours
};

std::shared_ptr<VELKAudioStreamBasicDescription> descriptionFor(const EncodingCase& c) {
    auto description = c.format == kAudioFormatAppleLossless
                           ? VELKAudioStreamBasicDescription::alacStreamDescription()
                           : VELKAudioStreamBasicDescription::aacStreamDescription();
    description->setSampleRate(c.fileRate);
    if (c.format == kAudioFormatAppleLossless) {
        description->setFormatFlags(c.flags);
    }
    return description;
}

// The rate a recording file takes its input at: the default input's.
double recordingClientRate(const std::string& folder) {
    const EncodingCase probe{"probe", kAudioFormatAppleLossless, 0, 44100, 0, {}};
    auto file = VELKExtendedAudioFile::forRecording(folder + "/probe.m4a", descriptionFor(probe), 0,
                                                    nullptr);
    const double rate = file->clientDataFormat().mSampleRate;
    file->closeFile();
    return rate;
}

// CPU seconds to create, fill and finish a file the way the recorder does
// (32768-frame buffers).
double encodeWithEngine(const std::string& path, const EncodingCase& c, const Channels& signal) {
    const double before = ownCpuSeconds();
    auto file = VELKExtendedAudioFile::forRecording(path, descriptionFor(c), c.bitrate, nullptr);
    std::vector<uint8_t> storage(AudioBufferListSize(2));
    auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
    list->mNumberBuffers = 2;
    constexpr uint32_t slice = 32768;
    const size_t frames = signal[0].size();
    for (size_t at = 0; at < frames; at += slice) {
        auto count = static_cast<uint32_t>(std::min<size_t>(slice, frames - at));
        for (uint32_t ch = 0; ch < 2; ++ch) {
            list->mBuffers[ch] = {1, count * 4, const_cast<float*>(signal[ch].data() + at)};
        }
        file->writeAudioBufferList(list, &count);
    }
    file->closeFile();
    return ownCpuSeconds() - before;
}

double encodeWithFFmpeg(const std::string& raw, const std::string& path, const EncodingCase& c,
                        double inputRate) {
    std::vector<std::string> command{"ffmpeg", "-v",    "error", "-y",
                                     "-f",     "f32le", "-ar",   formatted("%.0f", inputRate),
                                     "-ac",    "2",     "-i",    raw};
    command.insert(command.end(), c.ffmpegCodec.begin(), c.ffmpegCodec.end());
    command.insert(command.end(), {"-ar", formatted("%.0f", c.fileRate), path});
    ChildProcess ffmpeg(command);
    int status = 0;
    const double cpu = ffmpeg.wait(&status);
    return status == 0 ? cpu : -1;
}

// The better of three runs of each, less the cost of the same work on a
// fifth of a second of signal (start-up, encoder set-up, finishing the
// file), so neither side is charged for what does not grow with the audio.
struct EncodingCost {
    double ours;
    double ffmpeg;
};

EncodingCost encodingCost(const std::string& folder, const EncodingCase& c, double inputRate,
                          double seconds) {
    const Channels signal = ProgrammeSignal::generate(seconds, inputRate);
    const std::string raw = folder + "/programme.f32";
    ProgrammeSignal::writeRawFloat(signal, raw);
    EncodingCost best{INFINITY, INFINITY};
    for (int run = 0; run < 3; ++run) {
        best.ours = std::min(best.ours, encodeWithEngine(folder + "/ours.m4a", c, signal));
        const double theirs = encodeWithFFmpeg(raw, folder + "/theirs.m4a", c, inputRate);
        best.ffmpeg = std::min(best.ffmpeg, theirs < 0 ? INFINITY : theirs);
    }
    return best;
}

const EncodingCase kHighQuality{
    "HQ (ALAC 16-bit, 44.1 kHz)",           kAudioFormatAppleLossless, 1, 44100, 0,
    {"-c:a", "alac", "-sample_fmt", "s16p"}};
const EncodingCase kMediumQuality{"MQ (AAC 128 kbit/s, 44.1 kHz)",
                                  kAudioFormatMPEG4AAC,
                                  0,
                                  44100,
                                  128000,
                                  {"-c:a", "aac", "-b:a", "128k", "-aac_pns", "0"}};

void benchEncoding(BenchReport& report, const std::string& folder, double seconds) {
    const double inputRate = recordingClientRate(folder);
    report.heading(formatted("Encoding %.0f s of stereo programme given at %.0f Hz (the default "
                             "input's rate, which a recording file takes), CPU time:",
                             seconds, inputRate));
    const std::vector<EncodingCase> cases{
        kHighQuality,
        kMediumQuality,
        {"LQ (AAC 48 kbit/s, 22.05 kHz)",
         kAudioFormatMPEG4AAC,
         0,
         22050,
         48000,
         {"-c:a", "aac", "-b:a", "48k", "-aac_pns", "0"}},
    };
    for (const EncodingCase& c : cases) {
        const EncodingCost full = encodingCost(folder, c, inputRate, seconds);
        const EncodingCost fixed = encodingCost(folder, c, inputRate, 0.2);
        if (!std::isfinite(full.ffmpeg) || !std::isfinite(fixed.ffmpeg)) {
            report.failed(c.name, "ffmpeg failed");
            continue;
        }
        const double ours = std::max(full.ours - fixed.ours, 1e-6);
        const double theirs = std::max(full.ffmpeg - fixed.ffmpeg, 1e-6);
        reportRatio(report,
                    formatted("%s: ours %.3f s, ffmpeg command line %.3f s (both resample to the "
                              "file's rate; fixed costs left out)",
                              c.name, ours, theirs),
                    ours, theirs, kEncodingGoal);
    }
}

// The private audio server's CPU seconds so far (CASSORA_AUDIO_SERVER_PID
// names it); NAN when the benchmark runs against another server.
double audioServerCpuSeconds() {
    const char* pid = std::getenv("CASSORA_AUDIO_SERVER_PID");
    return pid ? processCpuSeconds(static_cast<pid_t>(std::atoi(pid))) : NAN;
}

// Shares of one core while something ran: its own, and the audio server's
// meanwhile (which also plays the programme, alike for every recorder).
struct CpuShares {
    double own = -1;
    double server = NAN;
};

struct RecordingRun {
    CpuShares cpu;
    CallbackFigures callbacks;
    uint64_t probeLongest = 0; // the stall probe's longest copy meanwhile
    bool probeRealTime = false;
    uint32_t bufferFrames = 512;
    uint32_t wakeFrames = 512; // frames the server gathers before it wakes the capture
    double rate = 48000;
    double level = -200; // dBFS of what was recorded
};

double recordedLevel(const std::string& path) {
    auto file = VELKExtendedAudioFile::forPlayback(path);
    const double rate = file->clientDataFormat().mSampleRate;
    const auto frames = static_cast<uint32_t>(rate);
    std::vector<float> left(frames), right(frames);
    std::vector<uint8_t> storage(AudioBufferListSize(2));
    auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
    list->mNumberBuffers = 2;
    list->mBuffers[0] = {1, frames * 4, left.data()};
    list->mBuffers[1] = {1, frames * 4, right.data()};
    uint32_t count = frames;
    file->readIntoAudioBufferList(list, std::max<int64_t>(0, file->frameCount() - frames), &count);
    left.resize(count);
    return ProgrammeSignal::levelInDecibels(left);
}

RecordingRun recordWithEngine(const ProgrammeSource& source, const std::string& path,
                              const EncodingCase& quality, double seconds) {
    RecordingRun run;
    const auto player = source.play();
    const auto input = VELKAudioDevice::withDeviceUID(source.monitor());
    if (!input) {
        return run;
    }
    auto file =
        VELKExtendedAudioFile::forRecording(path, descriptionFor(quality), quality.bitrate, input);
    auto recorder = VELKExtendedAudioFileRecorder::withFile(file, input);
    // Watches the same stretch as the longest callback: warm-up and run.
    const StallProbe probe(bufferFrames(*input), file->clientDataFormat().mSampleRate);
    recorder->startRecording();
    measureCallbacks(recorder->inputAudioUnit()->audioUnit());
    runFor(kWarmUpSeconds);
    const double before = ownCpuSeconds() - probe.cpuSeconds();
    const double serverBefore = audioServerCpuSeconds();
    const auto began = Clock::now();
    runFor(seconds);
    const double wall = std::chrono::duration<double>(Clock::now() - began).count();
    run.cpu = {(ownCpuSeconds() - probe.cpuSeconds() - before) / wall,
               (audioServerCpuSeconds() - serverBefore) / wall};
    run.callbacks = callbackFigures(recorder->inputAudioUnit()->audioUnit());
    run.probeLongest = probe.longestCopyNanoseconds();
    run.probeRealTime = probe.realTime();
    run.bufferFrames = bufferFrames(*input);
    run.wakeFrames = recorder->inputAudioUnit()->wakeFrames();
    run.rate = file->clientDataFormat().mSampleRate;
    recorder->stopRecording();
    file->closeFile();
    run.level = recordedLevel(path);
    return run;
}

// The shares of a core a reference command (ffmpeg, gst-launch-1.0) and the
// audio server use for `seconds` after the warm-up; the command's is
// negative when it failed or ended early.
CpuShares peerCpuShares(const std::vector<std::string>& command, double seconds) {
    ChildProcess peer(command);
    sleepFor(kWarmUpSeconds);
    const double before = peer.cpuSeconds();
    const double serverBefore = audioServerCpuSeconds();
    const auto began = Clock::now();
    sleepFor(seconds);
    const double cpu = peer.cpuSeconds() - before;
    const double serverCpu = audioServerCpuSeconds() - serverBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - began).count();
    int status = 0;
    peer.interrupt(&status);
    const bool ran = status == 0 || status == 255; // 255: ended by the interrupt
    return {ran ? cpu / wall : -1, serverCpu / wall};
}

double peerCpuShare(const std::vector<std::string>& command, double seconds) {
    return peerCpuShares(command, seconds).own;
}

// `fragmentFrames`: frames in each fragment the server sends (0: ffmpeg's
// default). ffmpeg records 16-bit stereo, 4 bytes a frame.
CpuShares recordWithFFmpeg(const ProgrammeSource& source, const std::string& path,
                           const EncodingCase& quality, double seconds, uint32_t fragmentFrames) {
    const auto player = source.play();
    std::vector<std::string> command{"ffmpeg", "-v", "error", "-y", "-f", "pulse"};
    if (fragmentFrames > 0) {
        command.insert(command.end(), {"-fragment_size", std::to_string(fragmentFrames * 4)});
    }
    command.insert(command.end(),
                   {"-i", source.monitor(), "-t", formatted("%.1f", kWarmUpSeconds + seconds + 5),
                    "-ar", formatted("%.0f", quality.fileRate), "-ac", "2"});
    command.insert(command.end(), quality.ffmpegCodec.begin(), quality.ffmpegCodec.end());
    command.push_back(path);
    return peerCpuShares(command, seconds);
}

void benchRecordingQuality(BenchReport& report, const ProgrammeSource& source,
                           const std::string& folder, const EncodingCase& quality, double seconds) {
    // Two alternating rounds, each recorder's cheaper one counting, so that
    // neither is charged for a busy moment of the machine. ffmpeg records in
    // fragments of the size our capture wakes for, and with its own default
    // ones; ours is judged against the cheaper of the two.
    RecordingRun ours;
    CpuShares sameFragments, defaultFragments;
    const auto cheaper = [](const CpuShares& best, const CpuShares& next, int round) {
        return round == 0 || (next.own >= 0 && next.own < best.own) ? next : best;
    };
    const std::string theirPath = folder + "/ffmpeg-recorded.m4a";
    for (int round = 0; round < kRecordingRounds; ++round) {
        const RecordingRun run =
            recordWithEngine(source, folder + "/recorded.m4a", quality, seconds / kRecordingRounds);
        const CallbackFigures callbacks = ours.callbacks.with(run.callbacks);
        const uint64_t probeLongest = std::max(ours.probeLongest, run.probeLongest);
        if (round == 0 || run.cpu.own < ours.cpu.own) {
            ours = run;
        }
        ours.callbacks = callbacks;
        ours.probeLongest = probeLongest;
        sameFragments = cheaper(sameFragments,
                                recordWithFFmpeg(source, theirPath, quality,
                                                 seconds / kRecordingRounds, run.wakeFrames),
                                round);
        defaultFragments = cheaper(
            defaultFragments,
            recordWithFFmpeg(source, theirPath, quality, seconds / kRecordingRounds, 0), round);
    }
    if (ours.level < -40) {
        report.failed(quality.name,
                      formatted("the recording is nearly silent (%.1f dBFS)", ours.level));
        return;
    }
    if (sameFragments.own < 0 || defaultFragments.own < 0) {
        report.failed(quality.name, "ffmpeg -f pulse failed");
        return;
    }
    reportRatio(report,
                formatted("%s, CPU while recording: ours (crash-proof) %.2f%% of a core, waking "
                          "for %u frames; ffmpeg -f pulse %.2f%% with fragments of that size, "
                          "%.2f%% with its default ones (judged against the cheaper); recorded "
                          "level %.1f dBFS",
                          quality.name, 100 * ours.cpu.own, ours.wakeFrames,
                          100 * sameFragments.own, 100 * defaultFragments.own, ours.level),
                ours.cpu.own, std::min(sameFragments.own, defaultFragments.own), kRecordingGoal);
    if (std::isfinite(ours.cpu.server)) {
        report.heading(formatted("  meanwhile the audio server (which also plays the programme): "
                                 "%.2f%% of a core beside ours, %.2f%% and %.2f%% beside ffmpeg's",
                                 100 * ours.cpu.server, 100 * sameFragments.server,
                                 100 * defaultFragments.server));
    }
    reportCallback(report, "capture", ours.callbacks, ours.bufferFrames, ours.rate);
    report.heading(formatted("  meanwhile a stall probe (two copies of a %u-frame stereo buffer "
                             "once a period, on a %s thread beside the capture's): longest copy "
                             "%.1f us; a long callback the probe matches was the machine's",
                             ours.bufferFrames,
                             ours.probeRealTime ? "real-time" : "normal-priority",
                             ours.probeLongest / 1e3));
}

void benchRecording(BenchReport& report, const std::string& folder, double seconds) {
    report.heading(formatted("Recording a live stereo programme at 48 kHz to a 44.1 kHz file, "
                             "%d alternating rounds of %g s after %g s of start-up (each "
                             "recorder's cheaper round counts), ffmpeg with the same encoder "
                             "settings:",
                             kRecordingRounds, seconds / kRecordingRounds, kWarmUpSeconds));
    const ProgrammeSource source(folder, kWarmUpSeconds + seconds / kRecordingRounds + 10);
    if (!source.loaded()) {
        report.failed("recording", "cannot load a null sink for the programme");
        return;
    }
    benchRecordingQuality(report, source, folder, kMediumQuality, seconds);
    benchRecordingQuality(report, source, folder, kHighQuality, seconds);
}

// Playing

struct PlayingRun {
    double cpuShare = 0;
    CallbackFigures callbacks;
    uint32_t bufferFrames = 512;
    uint32_t requestFrames = 512; // what the output asks the server for at a time
    uint32_t outputBufferFrames = 4410; // what it keeps ahead of the device, once grown
    double rate = 44100;
};

PlayingRun playWithEngine(const std::string& tape, double speed, double seconds) {
    PlayingRun run;
    const auto sink = VELKAudioDevice::withDeviceUID(kOutputSink);
    auto player = VELKExtendedAudioFilePlayer::withFilename(tape, sink);
    player->setPlaybackSpeed(speed);
    player->startFilePlaying();
    measureCallbacks(player->outputAudioUnit()->outputUnit());
    runFor(kWarmUpSeconds);
    const double before = ownCpuSeconds();
    const auto began = Clock::now();
    runFor(seconds);
    run.cpuShare =
        (ownCpuSeconds() - before) / std::chrono::duration<double>(Clock::now() - began).count();
    run.callbacks = callbackFigures(player->outputAudioUnit()->outputUnit());
    run.bufferFrames = bufferFrames(*sink);
    PulseOutputBufferRequest asked{};
    uint32_t size = sizeof(asked);
    AudioUnitGetProperty(player->outputAudioUnit()->outputUnit(),
                         kPulseOutputUnitProperty_BufferRequest, kAudioUnitScope_Global, 0, &asked,
                         &size);
    run.requestFrames = asked.requestFrames;
    run.outputBufferFrames = asked.bufferFrames;
    run.rate = player->audioFile()->clientDataFormat().mSampleRate;
    player->stopFilePlaying();
    return run;
}

// `buffer`: the buffer our output unit keeps while it plays and its
// requests to fill it, in frames at `rate` (null: ffmpeg's default
// buffering). ffmpeg plays 16-bit stereo, 4 bytes a frame.
double playWithFFmpeg(const std::string& tape, double seconds, const PlayingRun* buffer) {
    std::vector<std::string> command{"ffmpeg",
                                     "-v",
                                     "error",
                                     "-i",
                                     tape,
                                     "-t",
                                     formatted("%.1f", kWarmUpSeconds + seconds + 5),
                                     "-f",
                                     "pulse",
                                     "-device",
                                     kOutputSink};
    if (buffer) {
        command.insert(command.end(),
                       {"-buffer_duration",
                        formatted("%.0f", 1000.0 * buffer->outputBufferFrames / buffer->rate),
                        "-minreq", std::to_string(buffer->requestFrames * 4)});
    }
    command.emplace_back("cassora-bench");
    return peerCpuShare(command, seconds);
}

// GStreamer's stock player with its defaults, its sink sent to the null sink
// through the audio server's own setting for a client's sink.
double playWithGStreamer(const std::string& tape, double seconds) {
    return peerCpuShare({"env", std::string("PULSE_SINK=") + kOutputSink, "gst-launch-1.0", "-q",
                         "playbin", "uri=file://" + tape},
                        seconds);
}

void benchPlaying(BenchReport& report, const std::string& folder, double seconds) {
    const std::string tape = folder + "/tape.m4a";
    const double length = 8 * (kWarmUpSeconds + seconds) + 30;
    const EncodingCase mq{"MQ", kAudioFormatMPEG4AAC, 0, 44100, 128000, {}};
    encodeWithEngine(tape, mq, ProgrammeSignal::generate(length, recordingClientRate(folder)));

    report.heading(formatted("Playing an MQ tape of the programme to the null sink, %.0f s after "
                             "%.0f s of start-up:",
                             seconds, kWarmUpSeconds));
    const PlayingRun normal = playWithEngine(tape, 1.0, seconds);
    // ffmpeg plays twice: with our buffering, and with its default; ours is
    // judged against the cheaper of the two.
    const double sameBuffer = playWithFFmpeg(tape, seconds, &normal);
    const double defaultBuffer = playWithFFmpeg(tape, seconds, nullptr);
    const double gstreamer = playWithGStreamer(tape, seconds);
    if (gstreamer < 0) {
        report.failed("playing", "gst-launch-1.0 playbin failed");
    } else {
        reportRatio(report,
                    formatted("CPU while playing at 1x: ours %.2f%% of a core; GStreamer playbin "
                              "%.2f%%",
                              100 * normal.cpuShare, 100 * gstreamer),
                    normal.cpuShare, gstreamer, kPlayingGoalGStreamer);
    }
    if (sameBuffer < 0 || defaultBuffer < 0) {
        report.failed("playing", "ffmpeg -f pulse failed");
    } else {
        reportRatio(report,
                    formatted("CPU while playing at 1x: ours %.2f%% of a core; ffmpeg -f pulse "
                              "%.2f%% with our %.2f s buffer filled %u frames at a time, %.2f%% "
                              "with its default buffering (judged against the cheaper)",
                              100 * normal.cpuShare, 100 * sameBuffer,
                              normal.outputBufferFrames / normal.rate, normal.requestFrames,
                              100 * defaultBuffer),
                    normal.cpuShare, std::min(sameBuffer, defaultBuffer), kPlayingGoal);
    }
    reportCallback(report, "render (1x)", normal.callbacks, normal.bufferFrames, normal.rate);
    for (const double speed : {2.0, 8.0}) { // cueing, and fast winding
        const PlayingRun run = playWithEngine(tape, speed, seconds / 2);
        reportCallback(report, formatted("render (%gx)", speed), run.callbacks, run.bufferFrames,
                       run.rate);
    }
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            options.quick = true;
        } else if (std::strcmp(argv[i], "--check") == 0) {
            options.check = true;
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            options.only = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: %s [--quick] [--check] [--only encoding|recording|playing]\n",
                         argv[0]);
            std::exit(2);
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const double seconds = options.quick ? 5.0 : 60.0;
    char pattern[] = "/tmp/cassora-bench-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    BenchReport report;
    try {
        const auto wanted = [&](const char* part) {
            return options.only.empty() || options.only == part;
        };
        if (wanted("encoding")) {
            benchEncoding(report, folder, seconds);
        }
        if (wanted("recording")) {
            benchRecording(report, folder, seconds);
        }
        if (wanted("playing")) {
            benchPlaying(report, folder, options.quick ? 4.0 : 20.0);
        }
    } catch (const std::exception& failure) {
        report.failed("the benchmarks", failure.what());
    }
    std::filesystem::remove_all(folder);
    std::printf("%d figure(s) missed their goal\n", report.misses());
    return options.check && !report.allMet() ? 1 : 0;
}

// What making recordings crash-proof costs. Run after a build:
//   build/bench/recording_bench [--quick] [--check] [--folder DIR]
// Writes the same programme material through the same encoder twice per
// quality: once as recordings are made (synced to the disk several times a
// second, a journal beside the file, space reserved for finishing) and once
// without any of that. Prints each figure against its goal with "ok" or
// "MISSED"; --check exits 1 when one misses.

#include "platform/media/MediaAudioFile.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kRate = 44100;
constexpr uint32_t kWriterFrames = 32768; // what the recorder hands the file at a time

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Music-like programme: a chord that changes every two seconds, notes with
// an attack and decay, and a little noise. Generated block by block so that
// an hour needs no hour of memory.
class Programme {
public:
    void fill(std::vector<float>& left, std::vector<float>& right, int64_t start) {
        static const double chords[4][3] = {
            {261.6, 329.6, 392.0}, {220.0, 261.6, 329.6}, {174.6, 220.0, 261.6}, {196.0, 246.9, 293.7}};
        for (size_t i = 0; i < left.size(); ++i) {
            const double t = static_cast<double>(start + static_cast<int64_t>(i)) / kRate;
            const auto& chord = chords[static_cast<int>(t / 2.0) % 4];
            const double beat = std::fmod(t, 0.5);
            const double envelope = std::exp(-4.0 * beat) * 0.8 + 0.2;
            double l = 0, r = 0;
            for (int n = 0; n < 3; ++n) {
                const double tone = std::sin(2 * M_PI * chord[n] * t) +
                                    0.3 * std::sin(2 * M_PI * 2 * chord[n] * t);
                l += tone * (n == 2 ? 0.6 : 1.0);
                r += tone * (n == 0 ? 0.6 : 1.0);
            }
            mNoise = mNoise * 1664525u + 1013904223u;
            const double noise = (static_cast<double>(mNoise >> 8) / (1 << 24) - 0.5) * 0.05;
            left[i] = static_cast<float>(0.12 * envelope * l + noise);
            right[i] = static_cast<float>(0.12 * envelope * r - noise);
        }
    }

private:
    uint32_t mNoise = 1;
};

struct Run {
    double cpu = 0;      // seconds of CPU to write the audio
    double finishMs = 0; // closing: index, sync, journal
    uintmax_t bytes = 0;
};

Run record(const std::string& path, uint32_t format, uint32_t flags, double fileRate,
           uint32_t bitRate, double seconds, bool crashSafe) {
    MediaAudioFile::setCrashSafeWriting(crashSafe);
    AudioStreamBasicDescription description{};
    description.mFormatID = format;
    description.mFormatFlags = flags;
    description.mSampleRate = fileRate;
    description.mChannelsPerFrame = 2;
    std::unique_ptr<MediaAudioFile> file;
    const uint32_t type = format == kAudioFormatAppleLossless ? kAudioFileM4AType : kAudioFileMPEG4Type;
    if (MediaAudioFile::create(path, type, description, &file) != 0) {
        std::fprintf(stderr, "cannot create %s: %s\n", path.c_str(),
                     MediaAudioFile::lastErrorOnThisThread().c_str());
        std::exit(2);
    }
    AudioStreamBasicDescription client = file->clientFormat();
    client.mSampleRate = kRate;
    file->setClientFormat(client);
    if (bitRate) {
        file->setEncodeBitRate(bitRate);
    }
    Programme programme;
    std::vector<float> left(kWriterFrames), right(kWriterFrames);
    std::vector<uint8_t> storage(AudioBufferListSize(2));
    auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
    list->mNumberBuffers = 2;
    const auto total = static_cast<int64_t>(seconds * kRate);
    Run run;
    for (int64_t at = 0; at < total; at += kWriterFrames) {
        const auto frames = static_cast<uint32_t>(std::min<int64_t>(kWriterFrames, total - at));
        left.resize(frames);
        right.resize(frames);
        programme.fill(left, right, at);
        list->mBuffers[0] = {1, frames * 4, left.data()};
        list->mBuffers[1] = {1, frames * 4, right.data()};
        const double before = cpuSeconds();
        if (file->write(frames, list) != 0) {
            std::fprintf(stderr, "write failed: %s\n", file->lastError().c_str());
            std::exit(2);
        }
        run.cpu += cpuSeconds() - before;
    }
    const double beforeClose = cpuSeconds();
    const auto closing = Clock::now();
    if (file->close() != 0) {
        std::fprintf(stderr, "close failed: %s\n", file->lastError().c_str());
        std::exit(2);
    }
    run.finishMs = std::chrono::duration<double, std::milli>(Clock::now() - closing).count();
    // Either way the audio must reach the disk in the end: the plain file is
    // synced here, so both sides pay for the same writing.
    const int fd = ::open(path.c_str(), O_RDONLY);
    fsync(fd);
    ::close(fd);
    run.cpu += cpuSeconds() - beforeClose;
    run.bytes = std::filesystem::file_size(path);
    std::filesystem::remove(path);
    return run;
}

bool gAllMet = true;

void report(const char* what, double value, double goal, const char* unit, bool lowerIsBetter = true) {
    const bool met = lowerIsBetter ? value <= goal : value >= goal;
    gAllMet = gAllMet && met;
    std::printf("  %-52s %10.3f %-3s (goal <= %.3f)  %s\n", what, value, unit, goal,
                met ? "ok" : "MISSED");
}

} // namespace

int main(int argc, char** argv) {
    bool quick = false;
    bool check = false;
    std::string folder = std::filesystem::temp_directory_path();
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--quick")) {
            quick = true;
        } else if (!std::strcmp(argv[i], "--check")) {
            check = true;
        } else if (!std::strcmp(argv[i], "--folder") && i + 1 < argc) {
            folder = argv[++i];
        }
    }
    const double seconds = quick ? 300 : 3600;
    std::printf("Crash-proof recording: %.0f s of stereo programme material (chords, attacks, "
                "noise) at 44100 Hz,\nwritten in %u-frame blocks to %s, each quality with and "
                "without the crash safety.\n\n",
                seconds, kWriterFrames, folder.c_str());
    struct Quality {
        const char* name;
        uint32_t format;
        uint32_t flags;
        double rate;
        uint32_t bitRate;
    };
    const Quality qualities[] = {
        {"HQ (ALAC 16-bit)", kAudioFormatAppleLossless, kAppleLosslessFormatFlag_16BitSourceData, 44100, 0},
        {"MQ (AAC 128 kbit/s)", kAudioFormatMPEG4AAC, 0, 44100, 128000},
        {"LQ (AAC 48 kbit/s, 22050 Hz)", kAudioFormatMPEG4AAC, 0, 22050, 48000},
    };
    for (const Quality& quality : qualities) {
        const std::string path = folder + "/cassora-recording-bench.m4a";
        // Alternating runs, the better of two each, so that neither side is
        // charged for a cold start or a busy moment.
        Run plain, safe;
        for (int round = 0; round < 2; ++round) {
            const Run p = record(path, quality.format, quality.flags, quality.rate,
                                 quality.bitRate, seconds / 2, false);
            const Run s = record(path, quality.format, quality.flags, quality.rate,
                                 quality.bitRate, seconds / 2, true);
            if (round == 0 || p.cpu < plain.cpu) {
                plain = p;
            }
            if (round == 0 || s.cpu < safe.cpu) {
                safe = s;
            }
        }
        const Run hour = record(path, quality.format, quality.flags, quality.rate,
                                quality.bitRate, seconds, true);
        std::printf("%s: %.1f MB in %.0f s; CPU (user + system, writing and syncing) %.2f s "
                    "plain, %.2f s crash-proof\n",
                    quality.name, plain.bytes / 1e6, seconds / 2, plain.cpu, safe.cpu);
        report("file size, crash-proof / plain", static_cast<double>(safe.bytes) / plain.bytes, 1.005, "x");
        report("CPU to write the audio, crash-proof / plain", safe.cpu / plain.cpu, 1.10, "x");
        char finish[96];
        std::snprintf(finish, sizeof(finish), "time to finish a %.0f-minute recording", seconds / 60);
        report(finish, hour.finishMs, 50, "ms");
    }
    std::printf("\nThe finishing time covers closing the file: the encoder's last packets, the "
                "index, the\nduration fields, the final sync and removing the journal; it does not "
                "grow with the audio.\n");
    return check && !gAllMet ? 1 : 0;
}

#include "AudioFileTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

Channels makeSine(uint32_t channels, int64_t frames, double rate, double frequency) {
    Channels signal(channels, std::vector<float>(static_cast<size_t>(frames)));
    for (uint32_t c = 0; c < channels; ++c) {
        const double level = c == 0 ? 0.5 : 0.3;
        for (int64_t i = 0; i < frames; ++i) {
            const double value = level * std::sin(2.0 * M_PI * frequency * i / rate);
            signal[c][i] = static_cast<float>(std::lround(value * 32768.0) / 32768.0);
        }
    }
    return signal;
}

namespace {

struct BufferList {
    std::vector<uint8_t> storage;
    AudioBufferList* list;

    explicit BufferList(uint32_t buffers)
        : storage(AudioBufferListSize(buffers)),
          list(reinterpret_cast<AudioBufferList*>(storage.data())) {
        list->mNumberBuffers = buffers;
    }
};

} // namespace

void writeChannels(VELKExtendedAudioFile& file, const Channels& signal, uint32_t slice) {
    const auto channels = static_cast<uint32_t>(signal.size());
    const size_t frames = signal.front().size();
    BufferList buffers(channels);
    std::vector<std::vector<float>> chunk(channels, std::vector<float>(slice));
    for (size_t at = 0; at < frames; at += slice) {
        auto count = static_cast<uint32_t>(std::min<size_t>(slice, frames - at));
        for (uint32_t c = 0; c < channels; ++c) {
            std::copy_n(signal[c].begin() + static_cast<long>(at), count, chunk[c].begin());
            buffers.list->mBuffers[c] = {1, count * 4, chunk[c].data()};
        }
        file.writeAudioBufferList(buffers.list, &count);
    }
}

Channels readChannels(VELKExtendedAudioFile& file, uint32_t channels, uint32_t frames,
                      int64_t start) {
    Channels result(channels, std::vector<float>(frames));
    BufferList buffers(channels);
    for (uint32_t c = 0; c < channels; ++c) {
        buffers.list->mBuffers[c] = {1, frames * 4, result[c].data()};
    }
    uint32_t count = frames;
    file.readIntoAudioBufferList(buffers.list, start, &count);
    for (auto& channel : result) {
        channel.resize(count);
    }
    return result;
}

Channels readAll(VELKExtendedAudioFile& file, uint32_t channels, uint32_t slice) {
    Channels all(channels);
    for (;;) {
        const Channels part = readChannels(file, channels, slice);
        if (part.front().empty()) {
            return all;
        }
        for (uint32_t c = 0; c < channels; ++c) {
            all[c].insert(all[c].end(), part[c].begin(), part[c].end());
        }
    }
}

double zeroCrossingFrequency(const std::vector<float>& samples, double rate) {
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if ((samples[i - 1] < 0) != (samples[i] < 0)) {
            ++crossings;
        }
    }
    return crossings / 2.0 / (samples.size() / rate);
}

double correlation(const std::vector<float>& a, const std::vector<float>& b) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        ab += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

std::string probe(const std::string& path) {
    const std::string command = "ffprobe -v error -select_streams a:0 -show_entries "
                                "stream=codec_name,sample_rate,channels -of "
                                "default=noprint_wrappers=1:nokey=1 '" +
                                path + "' 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    std::array<char, 256> line{};
    while (pipe && fgets(line.data(), line.size(), pipe)) {
        std::string text = line.data();
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        output += (output.empty() ? "" : " ") + text;
    }
    if (pipe) {
        pclose(pipe);
    }
    return output;
}

ScratchFolder::ScratchFolder() {
    char pattern[] = "/tmp/cassora-test-XXXXXX";
    mPath = mkdtemp(pattern);
}

ScratchFolder::~ScratchFolder() {
    std::filesystem::remove_all(mPath);
}

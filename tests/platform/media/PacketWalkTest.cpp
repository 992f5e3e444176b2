#include "platform/media/PacketWalk.h"

#include "../../audio/file/AudioFileTestSupport.h"
#include "audio/file/VELKExtendedAudioFile.h"
#include "platform/media/RecordingJournal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Something like a recording of people: a voice-like chord that wavers,
// breath noise, a pause of near silence and a loud stretch.
Channels programme(uint32_t channels, double rate, double seconds) {
    std::mt19937 random(20261210);
    std::normal_distribution<float> breath(0, 0.03f);
    const auto frames = static_cast<size_t>(rate * seconds);
    Channels signal(channels, std::vector<float>(frames));
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double waver = 1 + 0.02 * std::sin(2 * M_PI * 0.7 * t);
        double level = t > 1.5 && t < 2.2 ? 0.002 : (t > 3 && t < 3.5 ? 0.9 : 0.3);
        for (uint32_t c = 0; c < channels; ++c) {
            const double voice = std::sin(2 * M_PI * (180 + 40 * c) * waver * t) +
                                 0.5 * std::sin(2 * M_PI * 540 * waver * t + c) +
                                 0.25 * std::sin(2 * M_PI * 1230 * t);
            signal[c][i] = static_cast<float>(level * voice / 1.75) + breath(random) * level;
        }
    }
    return signal;
}

struct Unfinished {
    std::string path;
    RecordingJournalHeader header;
    std::vector<uint32_t> journalled; // the packet sizes its journal names
};

// A recording as a kill leaves it: the file and its journal before it is finished.
Unfinished recordUnfinished(const std::string& path,
                            const std::shared_ptr<VELKAudioStreamBasicDescription>& description,
                            uint64_t bitrate, bool silent) {
    const uint32_t channels = description->channelsPerFrame();
    Unfinished unfinished{path, {}, {}};
    auto file = VELKExtendedAudioFile::forRecording(path, description, bitrate, nullptr);
    Channels signal = programme(channels, description->sampleRate(), 4.5);
    if (silent) {
        for (auto& channel : signal) {
            std::fill(channel.begin(), channel.end(), 0.0f);
        }
    }
    writeChannels(*file, signal, 4096);
    const auto journal = RecordingJournal::read(RecordingJournal::pathFor(path));
    if (!journal) {
        ADD_FAILURE() << "no journal for " << path;
        return unfinished;
    }
    unfinished.header = journal->header;
    unfinished.journalled = journal->packetSizes;
    // The file as it is now, before the writer finishes it.
    std::ifstream in(path, std::ios::binary);
    std::ofstream(path + ".cut", std::ios::binary) << in.rdbuf();
    unfinished.path = path + ".cut";
    return unfinished;
}

std::vector<uint32_t> walk(const std::string& path, const RecordingJournalHeader& header) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0) {
        ADD_FAILURE() << "cannot open " << path;
        return {};
    }
    std::vector<uint32_t> sizes =
        PacketWalk(fd, header, static_cast<uint64_t>(status.st_size)).sizes();
    ::close(fd);
    return sizes;
}

std::shared_ptr<VELKAudioStreamBasicDescription> aac(uint32_t channels, double rate) {
    auto description = VELKAudioStreamBasicDescription::aacStreamDescription();
    description->setChannelsPerFrame(channels);
    description->setSampleRate(rate);
    return description;
}

std::shared_ptr<VELKAudioStreamBasicDescription> lossless(uint32_t channels, uint32_t flags) {
    auto description = VELKAudioStreamBasicDescription::alacStreamDescription();
    description->setFormatFlags(flags);
    description->setChannelsPerFrame(channels);
    description->setSampleRate(48000);
    return description;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

// Decoding alone finds every packet the journal would have named, in every
// quality the recorder makes, through pauses and loud passages alike, and
// in silence, whose lossless packets are mostly zero bytes. Zeros or noise
// after the last packet (what a power cut can leave) are not taken for
// part of it, nor is a packet the file was cut short in.
TEST(PacketWalk, DecodingFindsThePacketsTheJournalNames) {
    ScratchFolder folder;
    struct Case {
        const char* name;
        std::shared_ptr<VELKAudioStreamBasicDescription> description;
        uint64_t bitrate;
        bool silent;
    };
    const Case cases[] = {
        {"aac-128-stereo", aac(2, 44100), 128000, false},
        {"aac-128-mono", aac(1, 44100), 64000, false},
        {"aac-48-mono", aac(1, 22050), 24000, false},
        {"aac-48-stereo", aac(2, 22050), 48000, false},
        {"alac-16-stereo", lossless(2, kAppleLosslessFormatFlag_16BitSourceData), 0, false},
        {"alac-16-mono", lossless(1, kAppleLosslessFormatFlag_16BitSourceData), 0, false},
        {"alac-24-stereo", lossless(2, kAppleLosslessFormatFlag_24BitSourceData), 0, false},
        {"alac-24-mono-silent", lossless(1, kAppleLosslessFormatFlag_24BitSourceData), 0, true},
        {"aac-128-mono-silent", aac(1, 44100), 64000, true},
    };
    std::mt19937 random(4);
    for (const Case& recording : cases) {
        SCOPED_TRACE(recording.name);
        const Unfinished unfinished = recordUnfinished(
            folder.path(std::string(recording.name) + ".m4a"), recording.description,
            recording.bitrate, recording.silent);
        ASSERT_GT(unfinished.journalled.size(), 20u);
        const std::vector<uint32_t> found = walk(unfinished.path, unfinished.header);
        // The file may hold packets written after the journal's last batch.
        ASSERT_GE(found.size(), unfinished.journalled.size());
        EXPECT_TRUE(std::equal(unfinished.journalled.begin(), unfinished.journalled.end(),
                               found.begin()));

        const std::string bytes = fileBytes(unfinished.path);
        size_t end = unfinished.header.dataOffset;
        for (const uint32_t size : unfinished.journalled) {
            end += size;
        }
        std::string noise(5000, '\0');
        for (char& byte : noise) {
            byte = static_cast<char>(random());
        }
        for (const std::string& after : {std::string(5000, '\0'), noise}) {
            std::ofstream(unfinished.path, std::ios::binary | std::ios::trunc)
                << bytes.substr(0, end) << after;
            EXPECT_EQ(walk(unfinished.path, unfinished.header), unfinished.journalled)
                << (after == noise ? "noise" : "zeros") << " after the last packet";
        }
        // Cut short inside a packet (a kill before the write ended): every
        // whole packet before the cut, and not the part of the one cut.
        size_t whole = 0;
        size_t cut = unfinished.header.dataOffset;
        for (size_t i = 0; i < unfinished.journalled.size() * 2 / 3; ++i) {
            cut += unfinished.journalled[i];
            ++whole;
        }
        cut += unfinished.journalled[whole] / 2;
        std::ofstream(unfinished.path, std::ios::binary | std::ios::trunc) << bytes.substr(0, cut);
        const std::vector<uint32_t> expected(unfinished.journalled.begin(),
                                             unfinished.journalled.begin() +
                                                 static_cast<long>(whole));
        EXPECT_EQ(walk(unfinished.path, unfinished.header), expected) << "cut inside a packet";
    }
}

#include "platform/media/RecordingRecovery.h"

#include "../../audio/file/AudioFileTestSupport.h"
#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/format/NSXException.h"
#include "platform/media/RecordingJournal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The private server's default input runs at this rate, so nothing is resampled.
constexpr double kRate = 48000;
constexpr uint32_t kSlice = 4096;

using Outcome = RecoveredRecording::Outcome;

std::shared_ptr<VELKAudioStreamBasicDescription> lossless16(uint32_t channels) {
    auto description = VELKAudioStreamBasicDescription::alacStreamDescription();
    description->setFormatFlags(kAppleLosslessFormatFlag_16BitSourceData);
    description->setChannelsPerFrame(channels);
    description->setSampleRate(kRate);
    return description;
}

std::shared_ptr<VELKAudioStreamBasicDescription> aac(uint32_t channels) {
    auto description = VELKAudioStreamBasicDescription::aacStreamDescription();
    description->setChannelsPerFrame(channels);
    description->setSampleRate(kRate);
    return description;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes `signal` slice by slice, telling `report` the frames written after
// each slice, pausing between slices as a recorder's worker does.
void writeReporting(VELKExtendedAudioFile& file, const Channels& signal, int report) {
    const auto channels = static_cast<uint32_t>(signal.size());
    for (size_t at = 0; at < signal[0].size(); at += kSlice) {
        Channels slice(channels);
        for (uint32_t c = 0; c < channels; ++c) {
            const auto begin = signal[c].begin() + static_cast<long>(at);
            slice[c].assign(begin, begin + static_cast<long>(std::min<size_t>(
                                                kSlice, signal[c].size() - at)));
        }
        writeChannels(file, slice, kSlice);
        const int64_t written = static_cast<int64_t>(at + slice[0].size());
        if (write(report, &written, sizeof(written)) != sizeof(written)) {
            _exit(3);
        }
        usleep(3000);
    }
}

// Records `signal` in a child process that is killed after `killAfter`;
// returns the frames the child had written when it died.
int64_t recordAndKill(const std::string& path,
                      const std::shared_ptr<VELKAudioStreamBasicDescription>& description,
                      uint64_t bitrate, const Channels& signal, std::chrono::milliseconds killAfter) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        ADD_FAILURE() << "no pipe";
        return 0;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        try {
            auto file = VELKExtendedAudioFile::forRecording(path, description, bitrate, nullptr);
            writeReporting(*file, signal, pipeEnds[1]);
            pause(); // never finishes the file: only the kill ends it
        } catch (...) {
            _exit(2);
        }
        _exit(0);
    }
    close(pipeEnds[1]);
    std::this_thread::sleep_for(killAfter);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    int64_t written = 0;
    for (int64_t value = 0; read(pipeEnds[0], &value, sizeof(value)) == sizeof(value);) {
        written = value;
    }
    close(pipeEnds[0]);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself";
    return written;
}

class RecordingRecoveryTest : public ::testing::Test {
protected:
    ScratchFolder folder;

    // `signal` as a recording that was finished normally plays it.
    Channels aacReference(const Channels& signal) {
        if (mReference.empty()) {
            const std::string path = folder.path("reference.m4a");
            auto file = VELKExtendedAudioFile::forRecording(path, aac(1), 64000, nullptr);
            writeChannels(*file, signal, kSlice);
            file->closeFile();
            auto played = VELKExtendedAudioFile::forPlayback(path);
            mReference = readAll(*played, 1);
        }
        return mReference;
    }
    Channels mReference;

    RecoveredRecording recoverRecording(const std::string& path) {
        return RecordingRecovery::recover(RecordingJournal::pathFor(path));
    }
};

// Whatever moment a recording dies at, the audio that reached the disk
// comes back, bit for bit in a lossless file, and the file is an ordinary,
// finished tape afterwards.
TEST_F(RecordingRecoveryTest, KilledRecordingsKeepTheAudioWrittenUpToTheKill) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> moment(10, 900);
    const Channels stereo = makeSine(2, static_cast<int64_t>(kRate * 20), kRate, 441);
    const Channels mono = makeSine(1, static_cast<int64_t>(kRate * 20), kRate, 441);
    for (int round = 0; round < 10; ++round) {
        const bool lossless = round % 2 == 0;
        const Channels& signal = lossless ? stereo : mono;
        const uint32_t channels = static_cast<uint32_t>(signal.size());
        const std::string path = folder.path("round" + std::to_string(round) + ".m4a");
        const auto killAfter = std::chrono::milliseconds(moment(random));
        SCOPED_TRACE("round " + std::to_string(round) + ", killed after " +
                     std::to_string(killAfter.count()) + " ms");
        const int64_t written = recordAndKill(path, lossless ? lossless16(2) : aac(1),
                                              lossless ? 0 : 64000, signal, killAfter);

        const RecoveredRecording recovered = recoverRecording(path);
        if (recovered.outcome == Outcome::Empty) {
            // Killed before a quarter second reached the disk.
            EXPECT_LT(written, kRate / 2);
            EXPECT_FALSE(std::filesystem::exists(path));
            continue;
        }
        ASSERT_EQ(recovered.outcome, Outcome::Recovered) << recovered.error;
        EXPECT_FALSE(std::filesystem::exists(RecordingJournal::pathFor(path)));
        // At most the last quarter second (and what the encoder still held) is lost.
        EXPECT_GE(recovered.frames, written - static_cast<int64_t>(kRate / 4) - 3 * 4096);
        EXPECT_LE(recovered.frames, written + kSlice); // the kill may come before the report

        auto file = VELKExtendedAudioFile::forPlayback(path);
        ASSERT_EQ(file->frameCount(), recovered.frames);
        const Channels played = readAll(*file, channels);
        ASSERT_EQ(static_cast<int64_t>(played[0].size()), recovered.frames);
        if (lossless) {
            for (uint32_t c = 0; c < channels; ++c) {
                EXPECT_TRUE(std::equal(played[c].begin(), played[c].end(), signal[c].begin()))
                    << "channel " << c << " differs from what was recorded";
            }
        } else {
            // The encoder is deterministic: up to the last packets, which
            // decode with the packets that never came, the recovered tape
            // sounds exactly as the finished one does.
            const Channels finished = aacReference(mono);
            const size_t settled = played[0].size() > 4096 ? played[0].size() - 4096 : 0;
            EXPECT_TRUE(std::equal(played[0].begin(), played[0].begin() + static_cast<long>(settled),
                                   finished[0].begin()));
        }
        EXPECT_NE(probe(path).find(lossless ? "alac" : "aac"), std::string::npos);
    }
}

TEST_F(RecordingRecoveryTest, LiveRecordingsAreLeftAlone) {
    const std::string path = folder.path("live.m4a");
    auto file = VELKExtendedAudioFile::forRecording(path, aac(1), 64000, nullptr);
    writeChannels(*file, makeSine(1, static_cast<int64_t>(kRate), kRate, 440), kSlice);
    const std::string before = fileBytes(path);

    EXPECT_EQ(recoverRecording(path).outcome, Outcome::InUse);
    EXPECT_EQ(fileBytes(path), before);
    // Nor can a second recorder take the file over.
    EXPECT_THROW(VELKExtendedAudioFile::forRecording(path, aac(1), 64000, nullptr),
                 NSXException);
    EXPECT_EQ(fileBytes(path), before);

    file->closeFile();
    EXPECT_FALSE(std::filesystem::exists(RecordingJournal::pathFor(path)));
    EXPECT_NEAR(VELKExtendedAudioFile::forPlayback(path)->frameCount(), kRate, 1);
}

TEST_F(RecordingRecoveryTest, JournalsThatDoNotFitTheirFileChangeNothing) {
    const Channels signal = makeSine(2, static_cast<int64_t>(kRate * 3), kRate, 441);
    const std::string path = folder.path("cut.m4a");
    recordAndKill(path, lossless16(2), 0, signal, std::chrono::milliseconds(600));
    const std::string journal = RecordingJournal::pathFor(path);
    const std::string journalBytes = fileBytes(journal);

    // Another file now has the recording's name: it is not touched.
    const std::string recording = fileBytes(path);
    { std::ofstream(path, std::ios::binary | std::ios::trunc) << "a letter, not a recording"; }
    EXPECT_EQ(recoverRecording(path).outcome, Outcome::Failed);
    EXPECT_EQ(fileBytes(path), "a letter, not a recording");

    // A journal whose last batch was cut off or damaged still gives the rest.
    { std::ofstream(path, std::ios::binary | std::ios::trunc) << recording; }
    std::string damaged = journalBytes;
    damaged.back() ^= 0x5A;
    { std::ofstream(journal, std::ios::binary | std::ios::trunc) << damaged; }
    const RecoveredRecording recovered = recoverRecording(path);
    ASSERT_EQ(recovered.outcome, Outcome::Recovered) << recovered.error;
    auto file = VELKExtendedAudioFile::forPlayback(path);
    const Channels played = readAll(*file, 2);
    EXPECT_TRUE(std::equal(played[0].begin(), played[0].end(), signal[0].begin()));

    // A journal left behind by a file that is gone goes too.
    std::filesystem::remove(path);
    { std::ofstream(journal, std::ios::binary) << journalBytes; }
    EXPECT_EQ(recoverRecording(path).outcome, Outcome::Abandoned);
    EXPECT_FALSE(std::filesystem::exists(journal));
    EXPECT_FALSE(std::filesystem::exists(path));
}

// A file that reaches the size limit stops taking audio while there is
// still room to finish it, and is finished with everything written.
TEST_F(RecordingRecoveryTest, AFileAtItsSizeLimitIsStillFinished) {
    const std::string path = folder.path("limited.m4a");
    constexpr rlim_t kLimit = 3 * 1024 * 1024;
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{kLimit, kLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        auto file = VELKExtendedAudioFile::forRecording(path, lossless16(2), 0, nullptr);
        const Channels noise = [] {
            Channels signal(2, std::vector<float>(kSlice));
            std::mt19937 random(7);
            std::uniform_int_distribution<int> sample(-16000, 16000);
            for (auto& channel : signal) {
                for (float& value : channel) {
                    value = static_cast<float>(sample(random)) / 32768.0f;
                }
            }
            return signal;
        }();
        int slices = 0;
        try {
            for (; slices < 10000; ++slices) {
                writeChannels(*file, noise, kSlice);
            }
            _exit(4); // never stopped
        } catch (const NSXException&) {
        }
        try {
            file->closeFile();
        } catch (const NSXException&) {
            _exit(5);
        }
        _exit(slices > 0 ? 0 : 6);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_LE(std::filesystem::file_size(path), kLimit);
    EXPECT_FALSE(std::filesystem::exists(RecordingJournal::pathFor(path)));
    auto file = VELKExtendedAudioFile::forPlayback(path);
    EXPECT_GE(file->frameCount(), static_cast<int64_t>(kSlice));
    EXPECT_EQ(static_cast<int64_t>(readAll(*file, 2)[0].size()), file->frameCount());
}

// Without room to finish even a short recording, none starts, and nothing
// is left behind.
TEST_F(RecordingRecoveryTest, NoRoomToStartLeavesNothing) {
    const std::string path = folder.path("cramped.m4a");
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            VELKExtendedAudioFile::forRecording(path, lossless16(2), 0, nullptr);
        } catch (const NSXException&) {
            _exit(0);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the recording started without room to finish";
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(RecordingJournal::pathFor(path)));
}

} // namespace

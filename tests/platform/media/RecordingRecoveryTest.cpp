#include "platform/media/RecordingRecovery.h"

#include "../../audio/file/AudioFileTestSupport.h"
#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/format/NSXException.h"
#include "platform/media/MediaAudioFile.h"
#include "platform/media/RecordingJournal.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
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

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Writes `signal` slice by slice, telling `report` the frames written after
// each slice, pausing between slices as a recorder's worker does.
void writeReporting(VELKExtendedAudioFile& file, const Channels& signal, int report) {
    const auto channels = static_cast<uint32_t>(signal.size());
    for (size_t at = 0; at < signal[0].size(); at += kSlice) {
        Channels slice(channels);
        for (uint32_t c = 0; c < channels; ++c) {
            const auto begin = signal[c].begin() + static_cast<long>(at);
            slice[c].assign(
                begin, begin + static_cast<long>(std::min<size_t>(kSlice, signal[c].size() - at)));
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
                      uint64_t bitrate, const Channels& signal,
                      std::chrono::milliseconds killAfter) {
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

// The batches of a journal as they lie in it, each copy on its own: where
// it starts, how long it is, and the packets it names.
struct JournalBatch {
    size_t at = 0;
    size_t length = 0;
    uint32_t first = 0;
    uint32_t count = 0;
};

uint32_t bigEndian32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    }
    return value;
}

std::vector<JournalBatch> batchesOf(const std::string& journal) {
    std::vector<JournalBatch> batches;
    size_t at = journal.find("\nend\n");
    at = journal.find("\nend\n", at + 1) + 5; // past both copies of the header
    while (at + 12 <= journal.size()) {
        JournalBatch batch;
        batch.at = at;
        batch.first = bigEndian32(journal, at + 4);
        batch.count = bigEndian32(journal, at + 8);
        batch.length = 12 + 4 * size_t{batch.count} + 4;
        batches.push_back(batch);
        at += batch.length;
    }
    return batches;
}

// `journal` with both copies of each batch in `lost` (counted from 0) damaged.
std::string withBatchesLost(std::string journal, const std::vector<size_t>& lost) {
    const std::vector<JournalBatch> batches = batchesOf(journal);
    for (const size_t batch : lost) {
        for (const size_t copy : {2 * batch, 2 * batch + 1}) {
            journal[batches.at(copy).at + 13] ^= 0x41;
        }
    }
    return journal;
}

// What ffmpeg says when decoding the whole file: nothing when it decodes cleanly.
std::string decodingErrors(const std::string& path) {
    const std::string command = "ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    std::array<char, 256> line{};
    while (pipe && fgets(line.data(), line.size(), pipe)) {
        output += line.data();
    }
    if (pipe) {
        pclose(pipe);
    }
    return output;
}

double probedSeconds(const std::string& path) {
    const std::string command = "ffprobe -v error -show_entries format=duration -of "
                                "default=noprint_wrappers=1:nokey=1 '" +
                                path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    double seconds = -1;
    if (pipe) {
        if (fscanf(pipe, "%lf", &seconds) != 1) {
            seconds = -1;
        }
        pclose(pipe);
    }
    return seconds;
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
            // Killed before the first second reached the disk.
            EXPECT_LT(written, kRate + 3 * 4096);
            EXPECT_FALSE(std::filesystem::exists(path));
            continue;
        }
        ASSERT_EQ(recovered.outcome, Outcome::Recovered) << recovered.error;
        EXPECT_FALSE(std::filesystem::exists(RecordingJournal::pathFor(path)));
        // At most the last second (and what the encoder still held) is lost.
        EXPECT_GE(recovered.frames, written - static_cast<int64_t>(kRate) - 3 * 4096);
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
            EXPECT_TRUE(std::equal(played[0].begin(),
                                   played[0].begin() + static_cast<long>(settled),
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
    EXPECT_THROW(VELKExtendedAudioFile::forRecording(path, aac(1), 64000, nullptr), NSXException);
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

    // A journal that names the other muxer, its checksums sound: the file's
    // header is not the one that muxer writes, so not a byte is rewritten.
    const auto named = RecordingJournal::read(journal);
    ASSERT_TRUE(named);
    {
        RecordingJournalHeader other = named->header;
        other.muxer = other.muxer == "ipod" ? "mp4" : "ipod";
        RecordingJournal forged;
        ASSERT_EQ(forged.create(path, other), 0);
        ASSERT_EQ(forged.append(named->packetSizes), 0);
        forged.keep();
    }
    const std::string unfinished = fileBytes(path);
    const RecoveredRecording otherMuxer = recoverRecording(path);
    EXPECT_EQ(otherMuxer.outcome, Outcome::Failed);
    EXPECT_TRUE(otherMuxer.journalSetAside);
    EXPECT_EQ(fileBytes(path), unfinished);
    std::filesystem::remove(journal + ".unrecoverable");
    writeBytes(journal, journalBytes);

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

// A journal is a claim, checked before anything is touched: whatever is
// dropped into a library folder (a synced folder, a USB stick), no file in or
// outside it is deleted, cut down or overwritten, and recovery stays quick
// and small.
class HostileLibraryFolder : public RecordingRecoveryTest {
protected:
    // Every file below the scratch folder but the journals (which recovery
    // may move aside), as bytes, links as their targets.
    std::map<std::string, std::string> snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            const std::string name = entry.path().filename().string();
            if (name.find(".journal") != std::string::npos) {
                continue;
            }
            if (entry.is_symlink()) {
                files[entry.path()] = "-> " + std::filesystem::read_symlink(entry.path()).string();
            } else if (entry.is_regular_file()) {
                files[entry.path()] = fileBytes(entry.path());
            } else {
                files[entry.path()] = "(special)";
            }
        }
        return files;
    }

    // Runs what `cassora library` runs before listing, in a child, bounded in
    // time; returns the memory it grew by, in MB.
    double recoverAllInChild() {
        struct rusage before {};
        getrusage(RUSAGE_SELF, &before);
        const pid_t child = fork();
        if (child == 0) {
            alarm(30);
            for (const std::string& journal : RecordingRecovery::journalsIn(library)) {
                RecordingRecovery::recover(journal);
            }
            RecordingRecovery::removeLeftovers(library);
            _exit(0);
        }
        int status = 0;
        struct rusage used {};
        wait4(child, &status, 0, &used);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "recovery crashed or hung (status " << status << ")";
        return (static_cast<double>(used.ru_maxrss) - static_cast<double>(before.ru_maxrss)) /
               1024.0;
    }

    // A recording killed part way, with its journal, kept for the cases.
    void makeInterruptedRecording() {
        const Channels signal = makeSine(1, static_cast<int64_t>(kRate * 4), kRate, 441);
        const std::string path = folder.path("interrupted.m4a");
        recordAndKill(path, aac(1), 64000, signal, std::chrono::milliseconds(700));
        interrupted = fileBytes(path);
        interruptedJournal = fileBytes(RecordingJournal::pathFor(path));
        header = RecordingJournal::read(RecordingJournal::pathFor(path))->header;
        std::filesystem::remove(path);
        std::filesystem::remove(RecordingJournal::pathFor(path));
        ASSERT_GT(interrupted.size(), header.dataOffset + 1000);
    }

    // A journal of our own making for `recording`, naming `packets`.
    static void craftJournal(const std::string& recording, const RecordingJournalHeader& header,
                             const std::vector<uint32_t>& packets) {
        RecordingJournal journal;
        ASSERT_EQ(journal.create(recording, header), 0);
        ASSERT_EQ(journal.append(packets), 0);
        journal.keep();
    }

    void SetUp() override {
        root = folder.path("hostile");
        library = root + "/library";
        outside = root + "/outside";
        std::filesystem::create_directories(library);
        std::filesystem::create_directories(outside);
    }

    std::string root;
    std::string library;
    std::string outside;
    std::string interrupted;
    std::string interruptedJournal;
    RecordingJournalHeader header;
};

TEST_F(HostileLibraryFolder, NothingPlacedInItDestroysAFile) {
    makeInterruptedRecording();
    const std::string lib = library + "/";
    // A finished, labelled tape whose first bytes a journal copies, claiming
    // more packets than the tape has.
    {
        auto tape =
            VELKExtendedAudioFile::forRecording(lib + "finished.m4a", aac(1), 64000, nullptr);
        writeChannels(*tape, makeSine(1, static_cast<int64_t>(kRate * 2), kRate, 300), kSlice);
        tape->closeFile();
        RecordingJournalHeader copied = header;
        const std::string start = fileBytes(lib + "finished.m4a");
        copied.fileHeader.assign(start.begin(),
                                 start.begin() + static_cast<long>(header.dataOffset));
        craftJournal(lib + "finished.m4a", copied, std::vector<uint32_t>(400, 200));
    }
    // Empty journals beside things that are not recordings.
    writeBytes(lib + "thesis.odt", "my thesis");
    writeBytes(lib + ".thesis.odt.journal", "");
    writeBytes(lib + "letter.m4a", "a letter, not a recording");
    writeBytes(lib + ".letter.m4a.journal", "");
    ASSERT_EQ(mkfifo((lib + "pipe.m4a").c_str(), 0644), 0);
    writeBytes(lib + ".pipe.m4a.journal", "");
    // Recordings that are links to files outside, or have other names there.
    writeBytes(outside + "/config.txt", interrupted);
    std::filesystem::create_symlink("../outside/config.txt", lib + "linked.m4a");
    writeBytes(lib + ".linked.m4a.journal", interruptedJournal);
    writeBytes(outside + "/twin.m4a", interrupted);
    std::filesystem::create_hard_link(outside + "/twin.m4a", lib + "twin.m4a");
    writeBytes(lib + ".twin.m4a.journal", interruptedJournal);
    // Journals that are not files, or far too large, beside real recordings.
    for (const char* name : {"zero", "fifo", "huge", "tiny"}) {
        writeBytes(lib + name + ".m4a", interrupted);
    }
    std::filesystem::create_symlink("/dev/zero", lib + ".zero.m4a.journal");
    ASSERT_EQ(mkfifo((lib + ".fifo.m4a.journal").c_str(), 0644), 0);
    {
        std::ofstream huge(lib + ".huge.m4a.journal", std::ios::binary);
        huge << interruptedJournal;
        huge.seekp(512 << 20);
        huge << 'x';
    }
    // A hundred thousand 1-byte packets: a tape of absurd length.
    craftJournal(lib + "tiny.m4a", header, std::vector<uint32_t>(100000, 1));

    const auto before = snapshot();
    const auto started = std::chrono::steady_clock::now();
    const double grewBy = recoverAllInChild();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(snapshot(), before) << "a file in or outside the library changed";
    EXPECT_LT(seconds, 10.0);
    EXPECT_LT(grewBy, 100.0) << "MB";
    // Each bad journal was moved aside once, and the next run reports nothing;
    // the finished tape's is left for the labeller, which labels a tape that
    // has no label and leaves any other as it is.
    EXPECT_EQ(RecordingRecovery::journalsIn(library),
              std::vector<std::string>{lib + ".finished.m4a.journal"});
    EXPECT_TRUE(std::filesystem::exists(lib + ".thesis.odt.journal")) << "not a journal's name";
    EXPECT_TRUE(std::filesystem::exists(lib + ".tiny.m4a.journal.unrecoverable"));
    // Recovery still recovers what is truly ours: the real journal beside it.
    writeBytes(lib + ".tiny.m4a.journal", interruptedJournal);
    const RecoveredRecording recovered = recoverRecording(lib + "tiny.m4a");
    EXPECT_EQ(recovered.outcome, Outcome::Recovered) << recovered.error;
}

// A journal damaged on the disk never costs the recording: a copy of each of
// its parts is kept twice, and when neither says enough the file stays as it is.
TEST_F(RecordingRecoveryTest, ADamagedJournalNeverCostsTheRecording) {
    // Twenty seconds of LQ mono: about 60 KB, which once counted as nothing.
    auto lq = aac(1);
    lq->setSampleRate(22050);
    // (Written at the default input's rate, as a recorder's client writes.)
    const Channels signal = makeSine(1, static_cast<int64_t>(kRate * 20), kRate, 441);
    const std::string path = folder.path("lecture.m4a");
    const std::string journal = RecordingJournal::pathFor(path);
    recordAndKill(path, lq, 24000, signal, std::chrono::milliseconds(1500));
    const std::string recording = fileBytes(path);
    const std::string intact = fileBytes(journal);
    ASSERT_LT(recording.size(), 64u * 1024);
    const size_t headerLength = intact.find("\nend\n") + 5;
    const auto flipped = [&](std::vector<size_t> at) {
        std::string bytes = intact;
        for (const size_t i : at) {
            bytes[i] ^= 0x20;
        }
        return bytes;
    };
    // One byte of the header, and one of the first batch: the copies answer.
    for (const size_t at : {size_t{40}, 2 * headerLength + 14}) {
        writeBytes(path, recording);
        writeBytes(journal, flipped({at}));
        const RecoveredRecording recovered = recoverRecording(path);
        ASSERT_EQ(recovered.outcome, Outcome::Recovered)
            << recovered.error << " (byte " << at << ")";
        // All but what came after the last checkpoint, at most a second.
        EXPECT_NEAR(static_cast<double>(recovered.frames) / 22050, 19.5, 0.6);
    }
    // Both copies of the header: the file starts as our recorder's do, and
    // its audio decodes with one of the recorder's set-ups only, so it is
    // finished with that one.
    writeBytes(path, recording);
    writeBytes(journal, flipped({40, headerLength + 40}));
    const RecoveredRecording withoutHeader = recoverRecording(path);
    ASSERT_EQ(withoutHeader.outcome, Outcome::Recovered) << withoutHeader.error;
    EXPECT_NEAR(static_cast<double>(withoutHeader.frames) / 22050, 19.5, 0.6);
    EXPECT_EQ(withoutHeader.sampleRate, 22050);
    EXPECT_EQ(decodingErrors(path), "");
    EXPECT_EQ(probe(path), "aac 22050 1");
    // A lossless recording, whose rate its audio does not show, stays
    // exactly as it was, and the journal is kept aside.
    const std::string other = folder.path("other.m4a");
    recordAndKill(other, lossless16(2), 0, makeSine(2, static_cast<int64_t>(kRate * 4), kRate, 441),
                  std::chrono::milliseconds(800));
    const std::string otherRecording = fileBytes(other);
    const std::string otherJournal = fileBytes(RecordingJournal::pathFor(other));
    const size_t otherHeader = otherJournal.find("\nend\n") + 5;
    std::string damagedHeader = otherJournal;
    damagedHeader[40] ^= 0x20;
    damagedHeader[otherHeader + 40] ^= 0x20;
    writeBytes(RecordingJournal::pathFor(other), damagedHeader);
    const RecoveredRecording refused = recoverRecording(other);
    EXPECT_EQ(refused.outcome, Outcome::Failed);
    EXPECT_TRUE(refused.journalSetAside);
    EXPECT_EQ(fileBytes(other), otherRecording);
    EXPECT_TRUE(std::filesystem::exists(RecordingJournal::pathFor(other) + ".unrecoverable"));
    // Both copies of the first batch: the audio shows where the second
    // starts, and only the first second is left out.
    writeBytes(path, recording);
    writeBytes(journal, withBatchesLost(intact, {0}));
    const RecoveredRecording recovered = recoverRecording(path);
    ASSERT_EQ(recovered.outcome, Outcome::Recovered) << recovered.error;
    EXPECT_NEAR(static_cast<double>(recovered.frames) / 22050, 18.5, 0.7);
    EXPECT_EQ(decodingErrors(path), "");
}

// Packets that reached the file after the journal's last batch are found
// by decoding on from there: a journal cut back to its first batch gives the
// same tape, bit for bit, as the whole journal.
TEST_F(RecordingRecoveryTest, PacketsAfterTheLastBatchComeBackToo) {
    const Channels signal = makeSine(2, static_cast<int64_t>(kRate * 3), kRate, 441);
    const std::string path = folder.path("tail.m4a");
    const std::string journal = RecordingJournal::pathFor(path);
    recordAndKill(path, lossless16(2), 0, signal, std::chrono::milliseconds(600));
    const std::string recording = fileBytes(path);
    const std::string whole = fileBytes(journal);
    const std::vector<JournalBatch> batches = batchesOf(whole);
    ASSERT_GE(batches.size(), 4u) << "two batches, each written twice";

    const RecoveredRecording fromWhole = recoverRecording(path);
    ASSERT_EQ(fromWhole.outcome, Outcome::Recovered) << fromWhole.error;
    const std::string finished = fileBytes(path);
    writeBytes(path, recording);
    writeBytes(journal, whole.substr(0, batches[2].at));
    const RecoveredRecording fromFirstBatch = recoverRecording(path);
    ASSERT_EQ(fromFirstBatch.outcome, Outcome::Recovered) << fromFirstBatch.error;
    EXPECT_EQ(fromFirstBatch.frames, fromWhole.frames);
    EXPECT_GT(fromWhole.frames, int64_t{batches[2].first} * 4096);
    EXPECT_TRUE(fileBytes(path) == finished) << "the two recoveries made different files";

    auto file = VELKExtendedAudioFile::forPlayback(path);
    const Channels played = readAll(*file, 2);
    ASSERT_EQ(static_cast<int64_t>(played[0].size()), fromWhole.frames);
    for (uint32_t c = 0; c < 2; ++c) {
        EXPECT_TRUE(std::equal(played[c].begin(), played[c].end(), signal[c].begin()));
    }
}

// A journal that names no packet (every batch lost, or none written yet)
// leaves it to the audio: its packets are found by decoding them one after
// another, and the tape plays all of them; where the audio stops decoding,
// what follows stays in the file. Noise is never made a tape of.
TEST_F(RecordingRecoveryTest, AJournalThatNamesNoPacketLeavesItToTheAudio) {
    // Twenty seconds of LQ mono, every batch damaged in both copies.
    auto lq = aac(1);
    lq->setSampleRate(22050);
    const std::string lecture = folder.path("lecture.m4a");
    recordAndKill(lecture, lq, 24000, makeSine(1, static_cast<int64_t>(kRate * 20), kRate, 441),
                  std::chrono::milliseconds(1500));
    const std::string lectureJournal = RecordingJournal::pathFor(lecture);
    const auto named = RecordingJournal::read(lectureJournal);
    ASSERT_TRUE(named);
    const std::string recording = fileBytes(lecture);
    std::vector<size_t> everyBatch(batchesOf(fileBytes(lectureJournal)).size() / 2);
    std::iota(everyBatch.begin(), everyBatch.end(), 0);
    const std::string unlisted = withBatchesLost(fileBytes(lectureJournal), everyBatch);
    writeBytes(lectureJournal, unlisted);
    const RecoveredRecording walked = recoverRecording(lecture);
    ASSERT_EQ(walked.outcome, Outcome::Recovered) << walked.error;
    // At least every packet the journal named, and nothing that was not written.
    const auto namedPackets = static_cast<int64_t>(named->packetSizes.size());
    EXPECT_GE(walked.frames, namedPackets * named->header.framesPerPacket - named->header.priming);
    EXPECT_LE(walked.frames, 20 * 22050 + 1024);
    EXPECT_FALSE(std::filesystem::exists(lectureJournal));
    const uint64_t dataOffset = named->header.dataOffset;
    EXPECT_EQ(fileBytes(lecture).compare(dataOffset, recording.size() - dataOffset, recording,
                                         dataOffset, recording.size() - dataOffset),
              0)
        << "the audio moved";
    EXPECT_EQ(decodingErrors(lecture), "");
    EXPECT_NEAR(probedSeconds(lecture), static_cast<double>(walked.frames) / 22050, 0.05);

    // Four seconds of lossless stereo whose journal ends after its header:
    // back bit for bit.
    const Channels stereo = makeSine(2, static_cast<int64_t>(kRate * 4), kRate, 441);
    const std::string song = folder.path("song.m4a");
    recordAndKill(song, lossless16(2), 0, stereo, std::chrono::milliseconds(800));
    const std::string songJournal = RecordingJournal::pathFor(song);
    const std::string songRecording = fileBytes(song);
    const std::string fullJournal = fileBytes(songJournal);
    writeBytes(songJournal, fullJournal.substr(0, batchesOf(fullJournal).front().at));
    const RecoveredRecording lossless = recoverRecording(song);
    ASSERT_EQ(lossless.outcome, Outcome::Recovered) << lossless.error;
    EXPECT_GE(lossless.frames, static_cast<int64_t>(kRate * 3));
    auto file = VELKExtendedAudioFile::forPlayback(song);
    const Channels played = readAll(*file, 2);
    ASSERT_EQ(static_cast<int64_t>(played[0].size()), lossless.frames);
    for (uint32_t c = 0; c < 2; ++c) {
        EXPECT_TRUE(std::equal(played[c].begin(), played[c].end(), stereo[c].begin()))
            << "channel " << c << " differs from what was recorded";
    }

    // Damage two seconds in: the packets before it play, and the rest of
    // the file is kept as it was.
    std::string damaged = recording;
    std::mt19937 random(31);
    const size_t damageAt = dataOffset + (recording.size() - dataOffset) / 10;
    for (size_t i = damageAt; i < damageAt + 300; ++i) {
        damaged[i] = static_cast<char>(random());
    }
    writeBytes(lecture, damaged);
    writeBytes(lectureJournal, unlisted);
    const RecoveredRecording cut = recoverRecording(lecture);
    ASSERT_EQ(cut.outcome, Outcome::Recovered) << cut.error;
    EXPECT_GT(cut.frames, 22050);
    EXPECT_LT(cut.frames, 22050 * 3);
    EXPECT_EQ(fileBytes(lecture).compare(dataOffset, damaged.size() - dataOffset, damaged,
                                         dataOffset, damaged.size() - dataOffset),
              0)
        << "audio after the damage was cut or moved";
    EXPECT_EQ(decodingErrors(lecture), "");

    // Noise where the audio should be: nothing decodes, nothing changes.
    std::string noise = recording;
    for (size_t i = dataOffset; i < noise.size(); ++i) {
        noise[i] = static_cast<char>(random());
    }
    writeBytes(lecture, noise);
    writeBytes(lectureJournal, unlisted);
    const RecoveredRecording refused = recoverRecording(lecture);
    EXPECT_EQ(refused.outcome, Outcome::Failed);
    EXPECT_TRUE(refused.journalSetAside);
    EXPECT_EQ(fileBytes(lecture), noise);
}

// When both copies of a batch are lost, the packets after it are found
// again by decoding the audio: only the lost batch's audio is left out, the
// rest plays in order, and not a byte of the audio moves.
TEST_F(RecordingRecoveryTest, ALostBatchCostsOnlyItsOwnAudio) {
    struct Case {
        bool lossless;
        std::vector<size_t> lost; // batches, counted from 0
        size_t losses;            // stretches of them
    };
    for (const Case& lost : {Case{true, {2, 3, 7}, 2}, Case{false, {4}, 1}}) {
        const uint32_t channels = lost.lossless ? 2 : 1;
        const Channels signal = makeSine(channels, static_cast<int64_t>(kRate * 12), kRate, 441);
        const std::string path = folder.path(lost.lossless ? "lossless.m4a" : "lossy.m4a");
        const std::string journal = RecordingJournal::pathFor(path);
        SCOPED_TRACE(path);
        recordAndKill(path, lost.lossless ? lossless16(2) : aac(1), lost.lossless ? 0 : 64000,
                      signal, std::chrono::milliseconds(1500));
        const std::string recording = fileBytes(path);
        const auto intact = RecordingJournal::read(journal);
        ASSERT_TRUE(intact);
        const std::vector<JournalBatch> batches = batchesOf(fileBytes(journal));
        ASSERT_GT(batches.size(), 2 * (lost.lost.back() + 2));
        // The packets the journal still vouches for, and those after each loss.
        writeBytes(journal, withBatchesLost(fileBytes(journal), lost.lost));
        const auto damaged = RecordingJournal::read(journal);
        ASSERT_TRUE(damaged);
        EXPECT_EQ(damaged->packetSizes.size(), batches[2 * lost.lost.front()].first);
        ASSERT_EQ(damaged->afterLosses.size(), lost.losses);
        EXPECT_EQ(damaged->afterLosses.back().firstPacket, batches[2 * lost.lost.back() + 2].first);
        std::vector<bool> kept(intact->packetSizes.size(), true);
        for (const size_t batch : lost.lost) {
            const JournalBatch& gone = batches[2 * batch];
            std::fill_n(kept.begin() + gone.first, gone.count, false);
        }
        const auto keptPackets = std::count(kept.begin(), kept.end(), true);

        const RecoveredRecording recovered = recoverRecording(path);
        ASSERT_EQ(recovered.outcome, Outcome::Recovered) << recovered.error;
        const int framesPerPacket = intact->header.framesPerPacket;
        // Besides, the packets that reached the file after the journal's
        // last batch, found by decoding.
        const int64_t later =
            (recovered.frames + intact->header.priming) / framesPerPacket - keptPackets;
        EXPECT_GE(later, 0);
        EXPECT_LE(static_cast<int64_t>(kept.size()) + later,
                  static_cast<int64_t>(signal[0].size()) / framesPerPacket + 1);
        EXPECT_EQ(recovered.frames,
                  (keptPackets + later) * framesPerPacket - intact->header.priming);
        kept.resize(kept.size() + static_cast<size_t>(std::max<int64_t>(later, 0)), true);
        const uint64_t dataOffset = intact->header.dataOffset;
        uint64_t audioEnd = dataOffset;
        for (const uint32_t size : intact->packetSizes) {
            audioEnd += size;
        }
        const std::string after = fileBytes(path);
        EXPECT_EQ(after.compare(dataOffset, audioEnd - dataOffset, recording, dataOffset,
                                audioEnd - dataOffset),
                  0)
            << "the audio moved";
        EXPECT_EQ(decodingErrors(path), "");
        EXPECT_NEAR(probedSeconds(path), static_cast<double>(recovered.frames) / kRate, 0.05);

        auto file = VELKExtendedAudioFile::forPlayback(path);
        const Channels played = readAll(*file, channels);
        ASSERT_EQ(static_cast<int64_t>(played[0].size()), recovered.frames);
        if (lost.lossless) {
            // Bit for bit what was recorded, without the lost packets.
            std::vector<float> expected;
            for (size_t packet = 0; packet < kept.size(); ++packet) {
                if (kept[packet]) {
                    const auto from =
                        signal[1].begin() + static_cast<long>(packet * framesPerPacket);
                    expected.insert(expected.end(), from, from + framesPerPacket);
                }
            }
            EXPECT_TRUE(std::equal(played[1].begin(), played[1].end(), expected.begin()));
        } else {
            // The tone goes on at its pitch on both sides of the loss.
            const size_t loss = batches[2 * lost.lost.front()].first * framesPerPacket;
            for (const size_t from : {loss - 20000, loss + 4000}) {
                const std::vector<float> stretch(played[0].begin() + static_cast<long>(from),
                                                 played[0].begin() + static_cast<long>(from) +
                                                     9600);
                EXPECT_NEAR(zeroCrossingFrequency(stretch, kRate), 441, 3) << "at " << from;
            }
        }
    }
}

// Where the audio cannot show for certain where the packets after a lost
// batch start, the packets before it play and nothing after it is cut.
TEST_F(RecordingRecoveryTest, AudioThatCannotBePlacedStaysInTheFile) {
    const Channels signal = makeSine(1, static_cast<int64_t>(kRate * 8), kRate, 441);
    const std::string path = folder.path("scrambled.m4a");
    const std::string journal = RecordingJournal::pathFor(path);
    recordAndKill(path, aac(1), 64000, signal, std::chrono::milliseconds(1200));
    const auto intact = RecordingJournal::read(journal);
    ASSERT_TRUE(intact);
    const std::vector<JournalBatch> batches = batchesOf(fileBytes(journal));
    ASSERT_GT(batches.size(), 8u);
    // The packets that start the batch after the lost one are overwritten.
    std::string recording = fileBytes(path);
    uint64_t offset = intact->header.dataOffset;
    for (uint32_t packet = 0; packet < batches[6].first; ++packet) {
        offset += intact->packetSizes[packet];
    }
    std::mt19937 random(23);
    for (uint64_t i = offset; i < offset + 2000; ++i) {
        recording[i] = static_cast<char>(random());
    }
    writeBytes(path, recording);
    writeBytes(journal, withBatchesLost(fileBytes(journal), {2}));

    const RecoveredRecording recovered = recoverRecording(path);
    ASSERT_EQ(recovered.outcome, Outcome::Recovered) << recovered.error;
    EXPECT_EQ(recovered.frames,
              int64_t{batches[4].first} * intact->header.framesPerPacket - intact->header.priming);
    const std::string after = fileBytes(path);
    const uint64_t dataOffset = intact->header.dataOffset;
    EXPECT_EQ(after.compare(dataOffset, recording.size() - dataOffset, recording, dataOffset,
                            recording.size() - dataOffset),
              0)
        << "audio after the loss was cut or moved";
    EXPECT_EQ(decodingErrors(path), "");
    EXPECT_NEAR(probedSeconds(path), static_cast<double>(recovered.frames) / kRate, 0.05);
}

// A recording made to a name of the user's never replaces a file that took
// the name first, nor writes through a link placed there.
TEST_F(RecordingRecoveryTest, ANewRecordingNeverReplacesAFile) {
    const std::string path = folder.path("taken.m4a");
    writeBytes(path, "someone else's file");
    EXPECT_THROW(VELKExtendedAudioFile::forRecording(path, aac(1), 64000, nullptr, false),
                 NSXException);
    EXPECT_EQ(fileBytes(path), "someone else's file");
    writeBytes(folder.path("target.txt"), "the link's target");
    std::filesystem::create_symlink(folder.path("target.txt"), folder.path("link.m4a"));
    EXPECT_THROW(
        VELKExtendedAudioFile::forRecording(folder.path("link.m4a"), aac(1), 64000, nullptr, true),
        NSXException);
    EXPECT_EQ(fileBytes(folder.path("target.txt")), "the link's target");

    // Taken after the recording was made, before its first bytes: the
    // recording fails, and the other file and folder stay as they were.
    const std::string late = folder.path("late.m4a");
    std::unique_ptr<MediaAudioFile> file;
    ASSERT_EQ(MediaAudioFile::create(late, kAudioFileM4AType, aac(1)->audioStreamBasicDescription(),
                                     &file, false),
              kAudioHardwareNoError);
    EXPECT_FALSE(std::filesystem::exists(late)) << "named before it held anything";
    writeBytes(late, "it came first");
    EXPECT_NE(file->write(0, nullptr), kAudioHardwareNoError);
    EXPECT_NE(MediaAudioFile::lastErrorOnThisThread().find("was taken by another file"),
              std::string::npos)
        << MediaAudioFile::lastErrorOnThisThread();
    file->close();
    EXPECT_EQ(fileBytes(late), "it came first");
    EXPECT_FALSE(std::filesystem::exists(RecordingJournal::pathFor(late)));
}

} // namespace

#include "platform/media/RecordingJournal.h"

#include "platform/media/RecorderSetUps.h"
#include "platform/media/RecoveryIndexBuilder.h"

#include "../../audio/file/AudioFileTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

RecordingJournalHeader mqStereoHeader() {
    RecordingJournalHeader header = RecorderSetUps::forMuxer("mp4").at(1); // 44.1 kHz stereo
    header.fileHeader = RecoveryIndexBuilder::bareHeader("mp4");
    header.dataOffset = header.fileHeader.size();
    header.startedAt = 1'700'000'000;
    return header;
}

// Sizes that differ from packet to packet, as a real encoder's do.
std::vector<uint32_t> packetSizes(size_t count) {
    std::vector<uint32_t> sizes(count);
    for (size_t i = 0; i < count; ++i) {
        sizes[i] = 200 + static_cast<uint32_t>((i * 7919) % 500);
    }
    return sizes;
}

uint64_t sizeOf(const std::string& path) {
    return std::filesystem::file_size(path);
}

} // namespace

// A long recording's journal is far larger than the window it is read
// through: every packet comes back in order, from a path or from a
// descriptor wherever its position is, and a journal cut off anywhere
// gives a prefix of the packets and never a wrong size.
TEST(RecordingJournal, ReadsEveryPacketOfALongJournalAndAPrefixOfACutOne) {
    ScratchFolder folder;
    const std::string recording = folder.path("long.m4a");
    const std::vector<uint32_t> sizes = packetSizes(12000);
    {
        RecordingJournal journal;
        ASSERT_EQ(journal.create(recording, mqStereoHeader()), 0);
        for (size_t at = 0; at < sizes.size(); at += 1000) {
            ASSERT_EQ(journal.append({sizes.begin() + static_cast<long>(at),
                                      sizes.begin() + static_cast<long>(at + 1000)}),
                      0);
        }
    }
    const std::string journalPath = RecordingJournal::pathFor(recording);
    ASSERT_GT(sizeOf(journalPath), 64u << 10);

    const auto byPath = RecordingJournal::read(journalPath);
    ASSERT_TRUE(byPath);
    EXPECT_EQ(byPath->packetSizes, sizes);
    EXPECT_TRUE(byPath->afterLosses.empty());
    EXPECT_EQ(byPath->header.startedAt, 1'700'000'000);

    const int fd = ::open(journalPath.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(lseek(fd, 5000, SEEK_SET), 5000);
    const auto byDescriptor = RecordingJournal::readDescriptor(fd);
    ::close(fd);
    ASSERT_TRUE(byDescriptor);
    EXPECT_EQ(byDescriptor->packetSizes, sizes);

    const auto cutAt = [&](uint64_t cut) {
        std::filesystem::copy_file(journalPath, folder.path("cut"),
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(folder.path("cut"), cut);
        return RecordingJournal::read(folder.path("cut"));
    };
    for (const uint64_t cut : {sizeOf(journalPath) / 3, sizeOf(journalPath) * 2 / 3}) {
        SCOPED_TRACE(cut);
        const auto prefix = cutAt(cut);
        ASSERT_TRUE(prefix);
        ASSERT_FALSE(prefix->packetSizes.empty());
        ASSERT_LT(prefix->packetSizes.size(), sizes.size());
        EXPECT_TRUE(
            std::equal(prefix->packetSizes.begin(), prefix->packetSizes.end(), sizes.begin()));
    }
    // The last batch's second copy cut short: its first copy still counts.
    const auto lastCopyCut = cutAt(sizeOf(journalPath) - 5);
    ASSERT_TRUE(lastCopyCut);
    EXPECT_EQ(lastCopyCut->packetSizes, sizes);
}

// What the journal may never be taken from: a folder, a pipe, a link, or a
// file that only starts like a journal.
TEST(RecordingJournal, ReadsNothingFromWhatIsNotAJournalFile) {
    ScratchFolder folder;
    const std::string recording = folder.path("take.m4a");
    {
        RecordingJournal journal;
        ASSERT_EQ(journal.create(recording, mqStereoHeader()), 0);
        ASSERT_EQ(journal.append(packetSizes(50)), 0);
    }
    const std::string journalPath = RecordingJournal::pathFor(recording);
    std::filesystem::create_symlink(journalPath, folder.path(".link.m4a.journal"));
    ASSERT_EQ(mkfifo(folder.path(".pipe.m4a.journal").c_str(), 0644), 0);
    std::filesystem::create_directory(folder.path(".folder.m4a.journal"));
    std::filesystem::copy_file(journalPath, folder.path(".short.m4a.journal"));
    std::filesystem::resize_file(folder.path(".short.m4a.journal"), 20);

    using Failure = RecordingJournal::ReadFailure;
    const std::pair<const char*, Failure> cases[] = {
        {".link.m4a.journal", Failure::Unreadable},
        {".pipe.m4a.journal", Failure::Unreadable},
        {".folder.m4a.journal", Failure::Unreadable},
        {".short.m4a.journal", Failure::NotAJournal},
    };
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name);
        Failure failure = Failure::None;
        EXPECT_FALSE(RecordingJournal::read(folder.path(name), UINT64_MAX, &failure));
        EXPECT_EQ(failure, expected);
    }
    EXPECT_EQ(RecordingJournal::read(journalPath)->packetSizes, packetSizes(50));
}

// A header whose fields and whose encoder configuration disagree was not
// written by the recorder, checksum or not: the configuration is what the
// audio would be decoded with, so neither can be trusted.
TEST(RecordingJournal, AHeaderThatDisagreesWithItsConfigurationIsNotAJournal) {
    ScratchFolder folder;
    RecordingJournalHeader alac = mqStereoHeader();
    alac.codec = "alac";
    alac.framesPerPacket = 4096;
    alac.priming = 0;
    alac.bitsPerRawSample = 16;
    alac.sampleRate = 48000;
    alac.extradata = {0,    0,    0,    36,   'a', 'l', 'a', 'c', 0,    0,   0,    0,
                      0,    0,    0x10, 0,    0,   16,  40,  10,  14,   2,   0,    255,
                      0,    0,    0x40, 0x04, 0,   0,   0,   0,   0,    0,   0xbb, 0x80};
    struct Case {
        const char* name;
        RecordingJournalHeader header;
        bool agrees;
    };
    std::vector<Case> cases = {{"mq", mqStereoHeader(), true}, {"lossless", alac, true}};
    auto aacRate = mqStereoHeader();
    aacRate.sampleRate = 48000; // the configuration says 44100
    auto aacChannels = mqStereoHeader();
    aacChannels.channels = 1;
    auto aacMain = mqStereoHeader();
    aacMain.extradata[0] = static_cast<uint8_t>((aacMain.extradata[0] & 7) | 1 << 3);
    auto alacRate = alac;
    alacRate.sampleRate = 44100;
    auto alacBits = alac;
    alacBits.bitsPerRawSample = 24;
    auto alacChannels = alac;
    alacChannels.channels = 1;
    auto alacShort = alac;
    alacShort.extradata.resize(24);
    for (auto& [name, header] : {std::pair{"aac-rate", aacRate}, {"aac-channels", aacChannels},
                                 {"aac-main", aacMain}, {"alac-rate", alacRate},
                                 {"alac-bits", alacBits}, {"alac-channels", alacChannels},
                                 {"alac-short", alacShort}}) {
        cases.push_back({name, header, false});
    }
    for (const Case& tried : cases) {
        SCOPED_TRACE(tried.name);
        const std::string recording = folder.path(std::string(tried.name) + ".m4a");
        RecordingJournal journal;
        ASSERT_EQ(journal.create(recording, tried.header), 0);
        ASSERT_EQ(journal.append(packetSizes(10)), 0);
        journal.keep();
        RecordingJournal::ReadFailure failure = RecordingJournal::ReadFailure::None;
        const auto read = RecordingJournal::read(RecordingJournal::pathFor(recording), UINT64_MAX,
                                                 &failure);
        EXPECT_EQ(read.has_value(), tried.agrees);
        EXPECT_EQ(failure, tried.agrees ? RecordingJournal::ReadFailure::None
                                        : RecordingJournal::ReadFailure::NotAJournal);
    }
}

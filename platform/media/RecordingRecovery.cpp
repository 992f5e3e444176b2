#include "platform/media/RecordingRecovery.h"

#include "platform/audio/FourCharCode.h"
#include "platform/media/FileTransfer.h"
#include "platform/media/LostStretchScan.h"
#include "platform/media/Mp4Boxes.h"
#include "platform/media/PacketDecoder.h"
#include "platform/media/PacketWalk.h"
#include "platform/media/RecorderSetUps.h"
#include "platform/media/RecordingJournal.h"
#include "platform/media/RecordingOutput.h"
#include "platform/media/RecoveryIndexBuilder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <regex>
#include <span>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Outcome = RecoveredRecording::Outcome;

// The muxer's header ends with a 'free' box and the audio box's header,
// whose sizes finishing fills in: 16 bytes that may differ from the journal.
constexpr uint64_t kAudioBoxHeader = 16;
// Packets decoded to check that the journal describes the audio.
constexpr size_t kPacketsChecked = 16;

std::string errorText(int error) {
    return std::strerror(error);
}

RecoveredRecording result(Outcome outcome, const std::string& path, std::string error = {}) {
    RecoveredRecording recovered;
    recovered.outcome = outcome;
    recovered.path = path;
    recovered.error = std::move(error);
    return recovered;
}

void removeJournal(const std::string& journalPath) {
    ::unlink(journalPath.c_str());
    syncParentFolder(journalPath);
}

// A journal that cannot be used changes nothing else: it is moved out of the
// way so that it is reported once, and kept for whoever wants to look.
RecoveredRecording setAside(const std::string& journalPath, const std::string& path,
                            const std::string& why) {
    RecoveredRecording failed = result(Outcome::Failed, path, why + "; nothing was changed");
    const std::string aside = RecordingJournal::setAsidePathFor(journalPath);
    if (::renameat2(AT_FDCWD, journalPath.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) ==
            0 ||
        (errno == EEXIST && ::rename(journalPath.c_str(), aside.c_str()) == 0)) {
        syncParentFolder(journalPath);
        failed.journalSetAside = true;
        failed.error +=
            " (its journal is kept as " + aside.substr(aside.find_last_of('/') + 1) + ")";
    }
    return failed;
}

std::string nameOf(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// Whether the file's first bytes are the header the journal says the muxer
// wrote. The audio box's size may have been filled in by a finishing that
// was cut short: the 32-bit form, or the 64-bit one over the 'free' box.
bool startMatches(std::span<const uint8_t> file, const std::vector<uint8_t>& journal) {
    if (file.size() != journal.size() || journal.size() < kAudioBoxHeader) {
        return false;
    }
    const size_t fixed = journal.size() - kAudioBoxHeader;
    if (!std::equal(journal.begin(), journal.begin() + static_cast<long>(fixed), file.begin())) {
        return false;
    }
    const uint8_t* tail = file.data() + fixed;
    if (std::equal(journal.begin() + static_cast<long>(fixed), journal.end(), tail)) {
        return true;
    }
    const bool patched32 =
        std::memcmp(tail, journal.data() + fixed, 8) == 0 && std::memcmp(tail + 12, "mdat", 4) == 0;
    const bool patched64 = std::memcmp(tail, "\0\0\0\1mdat", 8) == 0;
    return patched32 || patched64;
}

// Which of `count` packets are decoded to check a journal, in order.
std::vector<size_t> spreadOf(size_t count) {
    std::vector<size_t> picks;
    const size_t ends = std::min<size_t>(count, kPacketsChecked / 4);
    for (size_t i = 0; i < ends; ++i) {
        picks.push_back(i);
        picks.push_back(count - 1 - i);
    }
    const size_t between = kPacketsChecked - picks.size();
    for (size_t i = 1; i <= between && count > 0; ++i) {
        picks.push_back(count * i / (between + 1));
    }
    std::sort(picks.begin(), picks.end());
    picks.erase(std::unique(picks.begin(), picks.end()), picks.end());
    return picks;
}

// Decodes a spread of the journal's packets (the first, the last and some
// between): a journal whose sizes do not fall on the packets' boundaries
// fails this, so it cannot make a tape of noise or of an absurd length.
bool packetsDecode(int fd, const RecordingJournalHeader& header, const PacketLayout& layout) {
    PacketDecoder decoder(header);
    if (!decoder.isOpen()) {
        return false;
    }
    std::vector<uint8_t> data;
    const std::vector<size_t> picks = spreadOf(layout.sizes.size());
    auto pick = picks.begin();
    auto gap = layout.gaps.begin();
    uint64_t offset = header.dataOffset;
    for (size_t i = 0; i < layout.sizes.size() && pick != picks.end(); ++i) {
        for (; gap != layout.gaps.end() && gap->beforePacket == i; ++gap) {
            offset += gap->bytes;
        }
        if (*pick == i) {
            data.resize(layout.sizes[i]);
            if (preadAll(fd, data.data(), data.size(), offset) != 0 ||
                !decoder.decodesWhole(data.data(), layout.sizes[i])) {
                return false;
            }
            ++pick;
        }
        offset += layout.sizes[i];
    }
    return true;
}

// The most a recording can hold after its last journalled packet when it is
// cut short: audio not yet journalled (the writer journals it every second,
// after handing it over a block at a time), what its output buffered, and an index that was being
// written.
uint64_t unjournalledAllowance(const RecordingJournalHeader& header, size_t packets) {
    const uint64_t largestPacket = PacketDecoder::largestPacket(header);
    const uint64_t packetsPerSecond =
        static_cast<uint64_t>(header.sampleRate) / header.framesPerPacket + 1;
    constexpr uint64_t kSecondsUnjournalled = 4;
    constexpr uint64_t kIndexBytesPerPacket = 16;
    return kSecondsUnjournalled * packetsPerSecond * largestPacket + (256 << 10) +
           (packets + kSecondsUnjournalled * packetsPerSecond) * kIndexBytesPerPacket;
}

// Nothing of the recording reached the disk. Only a file that holds
// nothing but a prefix of our header is ever removed.
RecoveredRecording removeEmptyLeftover(const std::string& path, const std::string& journalPath,
                                       const std::vector<uint8_t>& start,
                                       const RecordingJournalHeader& header) {
    if (!std::equal(start.begin(), start.end(), header.fileHeader.begin())) {
        return setAside(journalPath, path, "the journal does not belong to " + nameOf(path));
    }
    ::unlink(path.c_str());
    removeJournal(journalPath);
    return result(Outcome::Empty, path);
}

bool hasFinishedIndex(const Mp4BoxReader& reader) {
    return reader.topLevelBox(FourCC("moov")).has_value();
}

// A finished file with its journal: the finishing or the labelling was cut
// short, or the journal is not this file's.
RecoveredRecording checkFinished(int fd, const std::string& path, const std::string& journalPath,
                                 const RecordingJournalHeader& header) {
    std::vector<uint8_t> start(header.dataOffset);
    const auto track = readMp4AudioTrackInfo(fd);
    const uint32_t entry = header.codec == "aac" ? FourCC("mp4a") : FourCC("alac");
    // (An MPEG-4 file's AAC entry always says two channels; only a lossless
    // entry says how many there are.)
    const bool channelsFit = header.codec == "aac" ||
                             (track && track->channels == static_cast<uint16_t>(header.channels));
    if (preadAll(fd, start.data(), start.size(), 0) != 0 ||
        !startMatches(start, header.fileHeader) || !track || track->sampleEntryType != entry ||
        !channelsFit || track->mediaTimescale != static_cast<uint32_t>(header.sampleRate)) {
        return setAside(journalPath, path, "the journal does not belong to " + nameOf(path));
    }
    RecoveredRecording complete = result(Outcome::Complete, path);
    complete.startedAt = header.startedAt;
    complete.sampleRate = header.sampleRate;
    complete.frames = static_cast<int64_t>(track->totalSampleDuration) - header.priming;
    return complete;
}

// The journal's packets as they lie in the file. Those after a stretch the
// journal lost are placed where the audio shows they start; from the first
// that cannot be placed on, none is, and the file is kept whole from there.
struct PlacedPackets {
    PacketLayout layout;
    uint64_t end = 0;          // where the last placed packet ends
    uint64_t unplacedMost = 0; // the most the packets not placed can take
};

PlacedPackets placePackets(int fd, RecordingJournal::Contents& journal, uint64_t fileSize) {
    const RecordingJournalHeader& header = journal.header;
    PlacedPackets placed;
    placed.layout.sizes = std::move(journal.packetSizes);
    placed.end = header.dataOffset + std::accumulate(placed.layout.sizes.begin(),
                                                     placed.layout.sizes.end(), uint64_t{0});
    uint64_t nextPacket = placed.layout.sizes.size(); // in the journal's count
    LostStretchScan scan(fd, header, fileSize);
    bool placing = true;
    for (const auto& later : journal.afterLosses) {
        const uint64_t lost = later.firstPacket - nextPacket;
        const uint64_t bytes = std::accumulate(later.sizes.begin(), later.sizes.end(), uint64_t{0});
        const auto start = placing ? scan.find(placed.end, lost, later.sizes) : std::nullopt;
        if (!start) {
            placing = false;
            placed.unplacedMost += lost * PacketDecoder::largestPacket(header) + bytes;
            continue;
        }
        placed.layout.gaps.push_back({placed.layout.sizes.size(), *start - placed.end});
        placed.layout.sizes.insert(placed.layout.sizes.end(), later.sizes.begin(),
                                   later.sizes.end());
        placed.end = *start + bytes;
        nextPacket = later.firstPacket + later.sizes.size();
    }
    return placed;
}

// Writes the index of the packets laid out, after `audioEnd`, and lets the
// journal go.
RecoveredRecording finishRecording(int fd, const std::string& path,
                                   const std::string& journalPath,
                                   const RecordingJournalHeader& header,
                                   const PacketLayout& layout, uint64_t audioEnd) {
    std::string error;
    if (!RecoveryIndexBuilder::finish(fd, header, layout, audioEnd, &error)) {
        return result(Outcome::Failed, path, error);
    }
    removeJournal(journalPath);
    RecoveredRecording recovered = result(Outcome::Recovered, path);
    recovered.frames =
        static_cast<int64_t>(layout.sizes.size()) * header.framesPerPacket - header.priming;
    recovered.sampleRate = header.sampleRate;
    recovered.startedAt = header.startedAt;
    return recovered;
}

// The journal names no packet, yet the file holds audio: every batch was
// lost, or the recording died before its first. The packets are found by
// decoding them one after another from the start; whatever follows the last
// one found stays in the file, unplayed, and nothing is cut.
RecoveredRecording recoverUnlisted(int fd, const std::string& path, const std::string& journalPath,
                                   const RecordingJournalHeader& header, uint64_t fileSize) {
    PacketLayout layout;
    layout.sizes = PacketWalk(fd, header, fileSize).sizes();
    if (layout.sizes.empty()) {
        return setAside(journalPath, path,
                        "the journal lists no audio, and what " + nameOf(path) +
                            " holds does not decode as its audio");
    }
    const uint64_t end = header.dataOffset + std::accumulate(layout.sizes.begin(),
                                                             layout.sizes.end(), uint64_t{0});
    if (end < fileSize) {
        layout.gaps.push_back({layout.sizes.size(), fileSize - end});
    }
    return finishRecording(fd, path, journalPath, header, layout, fileSize);
}

RecoveredRecording rebuildIndex(int fd, const std::string& path, const std::string& journalPath,
                                RecordingJournal::Contents& journal, uint64_t fileSize) {
    const RecordingJournalHeader& header = journal.header;
    std::vector<uint8_t> start(std::min<uint64_t>(fileSize, header.dataOffset));
    if (preadAll(fd, start.data(), start.size(), 0) != 0) {
        return result(Outcome::Failed, path, "cannot read it: " + errorText(errno));
    }
    if (fileSize <= header.dataOffset) {
        return removeEmptyLeftover(path, journalPath, start, header);
    }
    // Finishing writes the header as the journal's muxer writes it: one
    // that is not the file's would change the file's first bytes.
    if (!startMatches(start, header.fileHeader) ||
        header.fileHeader != RecoveryIndexBuilder::bareHeader(header.muxer)) {
        return setAside(journalPath, path, "the journal does not belong to " + nameOf(path));
    }
    if (journal.packetSizes.empty() && journal.afterLosses.empty()) {
        return recoverUnlisted(fd, path, journalPath, header, fileSize);
    }
    PlacedPackets placed = placePackets(fd, journal, fileSize);
    PacketLayout& layout = placed.layout;
    if (layout.sizes.empty()) {
        return setAside(journalPath, path,
                        "the journal cannot say where the audio in " + nameOf(path) + " lies");
    }
    if (placed.end > fileSize ||
        fileSize - placed.end >
            placed.unplacedMost + unjournalledAllowance(header, layout.sizes.size())) {
        return setAside(journalPath, path,
                        nameOf(path) + " holds much more audio than its journal lists");
    }
    uint64_t audioEnd = placed.end;
    if (placed.unplacedMost > 0) {
        // Audio the journal names is still to come, but where it starts is
        // not certain: it stays in the file, unplayed, and nothing is cut.
        layout.gaps.push_back({layout.sizes.size(), fileSize - placed.end});
        audioEnd = fileSize;
    }
    if (!packetsDecode(fd, header, layout)) {
        return setAside(journalPath, path,
                        "the journal does not describe the audio in " + nameOf(path));
    }
    if (placed.unplacedMost == 0 && placed.end < fileSize) {
        // Packets that reached the file after the journal's last batch (the
        // walk decodes each of them itself).
        const std::vector<uint32_t> later = PacketWalk(fd, header, fileSize, placed.end).sizes();
        layout.sizes.insert(layout.sizes.end(), later.begin(), later.end());
        audioEnd += std::accumulate(later.begin(), later.end(), uint64_t{0});
    }
    return finishRecording(fd, path, journalPath, header, layout, audioEnd);
}

// Whether the packets' first elements are those of the set-up's channels:
// a single channel's for one, a channel pair's for two. (A decoder set up
// for two channels also plays a single channel's packets.) The first packet
// may start with the encoder's own data, so it is not looked at.
bool elementsFit(int fd, const RecordingJournalHeader& setUp, const PacketLayout& known) {
    constexpr uint8_t kSingleChannel = 0;
    constexpr uint8_t kChannelPair = 1;
    const uint8_t expected = setUp.channels == 1 ? kSingleChannel : kChannelPair;
    uint64_t offset = setUp.dataOffset;
    for (size_t i = 0; i < std::min(known.sizes.size(), kPacketsChecked); ++i) {
        uint8_t first = 0;
        if (i > 0 && (preadAll(fd, &first, 1, offset) != 0 || first >> 5 != expected)) {
            return false;
        }
        offset += known.sizes[i];
    }
    return true;
}

// The packet sizes of a journal whose header is lost, with the set-up the
// recording was made with, when its file starts as one of our recorder's
// does and the audio decodes with exactly one of the recorder's set-ups.
std::optional<RecordingJournal::Contents> contentsWithoutHeader(int fd, int journalFd,
                                                                const struct stat& status) {
    const auto fileSize = static_cast<uint64_t>(status.st_size);
    if (journalFd < 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> start;
    for (const char* muxer : {"ipod", "mp4"}) {
        const std::vector<uint8_t>& bare = RecoveryIndexBuilder::bareHeader(muxer);
        if (bare.empty() || fileSize <= bare.size()) {
            continue;
        }
        // Both muxers' headers are read from one read of the file's start.
        if (start.size() < bare.size()) {
            start.resize(bare.size());
            if (preadAll(fd, start.data(), start.size(), 0) != 0) {
                return std::nullopt;
            }
        }
        if (!startMatches(std::span<const uint8_t>(start).first(bare.size()), bare)) {
            continue;
        }
        auto contents = RecordingJournal::readWithoutHeader(journalFd, fileSize);
        if (!contents || contents->packetSizes.size() < kPacketsChecked) {
            return std::nullopt;
        }
        PacketLayout known;
        known.sizes = contents->packetSizes;
        std::optional<RecordingJournalHeader> found;
        for (RecordingJournalHeader& setUp : RecorderSetUps::forMuxer(muxer)) {
            setUp.fileHeader = bare;
            setUp.dataOffset = bare.size();
            if (elementsFit(fd, setUp, known) && packetsDecode(fd, setUp, known)) {
                if (found) {
                    return std::nullopt; // two set-ups fit: neither is certain
                }
                found = std::move(setUp);
            }
        }
        if (!found) {
            return std::nullopt;
        }
        // Dated from the file's last change, less the audio known to be in it.
        const int64_t seconds =
            static_cast<int64_t>(known.sizes.size()) * found->framesPerPacket / found->sampleRate;
        found->startedAt = std::max<int64_t>(0, status.st_mtim.tv_sec - seconds);
        contents->header = std::move(*found);
        return contents;
    }
    return std::nullopt;
}

// Removes `name` in `folder` when it is a plain file that nobody holds
// locked (live recordings, imports and commits lock theirs) and that
// `isLeftover` says is one, judged under the lock.
template <typename Check>
bool removeUnlocked(int folder, const std::string& name, Check isLeftover) {
    FileDescriptor file(
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {};
    if (file.fd() < 0 || fstat(file.fd(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
        flock(file.fd(), LOCK_EX | LOCK_NB) != 0 || !isLeftover(file.fd(), opened)) {
        return false;
    }
    // Still the same file under that name.
    struct stat named {};
    if (fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
        return false;
    }
    return ::unlinkat(folder, name.c_str(), 0) == 0;
}

bool isGeneratedName(const std::string& name) {
    static const std::regex uuid("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-"
                                 "[0-9A-Fa-f]{12}\\.m4a$");
    return std::regex_match(name, uuid);
}

bool isTemporaryCopyName(const std::string& name) {
    // ".NAME.m4a.UUID.part" (a tape being copied in, which holds its lock
    // while it is made; other copies, of exports and movies, are not ours to
    // judge) and ".NAME.cassora-XXXXXX" (a label commit).
    static const std::regex part("^\\..+\\.[mM]4[aA]\\.[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-"
                                 "[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\.part$");
    static const std::regex copy("^\\..+\\.cassora-[A-Za-z0-9]{6}$");
    return std::regex_match(name, part) || std::regex_match(name, copy);
}

bool isMediaName(const std::string& name) {
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".m4a") == 0;
}

// A recording that never got past its header and has no journal.
bool isLoneLeftover(int folder, const std::string& name, int fd, const struct stat& status) {
    if (!isMediaName(name) || status.st_size > 64) {
        return false;
    }
    struct stat journal {};
    if (fstatat(folder, ("." + name + ".journal").c_str(), &journal, AT_SYMLINK_NOFOLLOW) == 0) {
        return false; // recovery decides
    }
    if (status.st_size == 0) {
        return isGeneratedName(name);
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(status.st_size));
    return preadAll(fd, bytes.data(), bytes.size(), 0) == 0 &&
           RecordingRecovery::isBareRecordingHeader(bytes);
}

} // namespace

std::vector<std::string> RecordingRecovery::journalsIn(const std::string& folder) {
    std::vector<std::string> journals;
    DIR* directory = opendir(folder.c_str());
    if (!directory) {
        return journals;
    }
    while (const dirent* entry = readdir(directory)) {
        if (RecordingJournal::isJournalName(entry->d_name)) {
            journals.push_back(folder + (folder.ends_with('/') ? "" : "/") + entry->d_name);
        }
    }
    closedir(directory);
    std::sort(journals.begin(), journals.end());
    return journals;
}

bool RecordingRecovery::needsRecovery(const std::string& recordingPath) {
    struct stat status {};
    return lstat(RecordingJournal::pathFor(recordingPath).c_str(), &status) == 0;
}

RecoveredRecording RecordingRecovery::recover(const std::string& journalPath) {
    const std::string path = RecordingJournal::recordingPathFor(journalPath);
    if (path.empty()) {
        return result(Outcome::Failed, journalPath, "not a recording journal");
    }
    struct stat journalStatus {};
    if (lstat(journalPath.c_str(), &journalStatus) != 0) {
        return result(Outcome::Finished, path); // finished meanwhile
    }
    if (!S_ISREG(journalStatus.st_mode)) {
        return setAside(journalPath, path, "the journal of " + nameOf(path) + " is not a file");
    }
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 && errno == ENOENT) {
        // Stale: removed only when it certainly is one of ours.
        if (!RecordingJournal::read(journalPath, 0)) {
            return setAside(journalPath, path,
                            "a journal names " + nameOf(path) + ", which is gone");
        }
        removeJournal(journalPath);
        return result(Outcome::Abandoned, path);
    }
    FileLock lock(path);
    if (!lock.locked()) {
        if (lock.error() == EWOULDBLOCK) {
            return result(Outcome::InUse, path);
        }
        if (lock.error() == EINVAL || lock.error() == ELOOP) {
            return setAside(journalPath, path,
                            nameOf(path) +
                                " is a link or not a plain file, so it is not recovered");
        }
        return result(Outcome::Failed, path, "cannot open it: " + errorText(lock.error()));
    }
    const FileDescriptor journalFile(
        ::open(journalPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    // Under the lock: the recorder may have finished it in the meantime.
    if (journalFile.fd() < 0 && errno == ENOENT) {
        return result(Outcome::Finished, path);
    }
    const auto fileSize = static_cast<uint64_t>(lock.status().st_size);
    RecordingJournal::ReadFailure failure = RecordingJournal::ReadFailure::None;
    auto journal = RecordingJournal::readDescriptor(journalFile.fd(), fileSize, &failure);
    // Looked for once: nothing here changes the file before it is used.
    std::optional<bool> finished;
    const auto isFinished = [&] {
        if (!finished) {
            finished = hasFinishedIndex(Mp4BoxReader(lock.descriptor(), false, fileSize));
        }
        return *finished;
    };
    if (!journal && failure == RecordingJournal::ReadFailure::NotAJournal && !isFinished()) {
        journal = contentsWithoutHeader(lock.descriptor(), journalFile.fd(), lock.status());
    }
    if (!journal) {
        return setAside(journalPath, path,
                        failure == RecordingJournal::ReadFailure::TooLarge
                            ? "the journal of " + nameOf(path) + " is larger than any recording's"
                            : "the journal of " + nameOf(path) + " is damaged or not a journal");
    }
    if (isFinished()) {
        return checkFinished(lock.descriptor(), path, journalPath, journal->header);
    }
    return rebuildIndex(lock.descriptor(), path, journalPath, *journal, fileSize);
}

std::vector<std::string> RecordingRecovery::removeLeftovers(const std::string& folder) {
    std::vector<std::string> removed;
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* entries = directory.fd() >= 0 ? fdopendir(::dup(directory.fd())) : nullptr;
    if (!entries) {
        return removed;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(entries)) {
        names.emplace_back(entry->d_name);
    }
    closedir(entries);
    const std::string prefix = folder + (folder.ends_with('/') ? "" : "/");
    for (const std::string& name : names) {
        struct stat status {};
        if (fstatat(directory.fd(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode)) {
            continue;
        }
        const bool temporary = isTemporaryCopyName(name);
        if (!temporary && (!isMediaName(name) || status.st_size > 64)) {
            continue;
        }
        const auto isLeftover = [&](int fd, const struct stat& locked) {
            return temporary || isLoneLeftover(directory.fd(), name, fd, locked);
        };
        if (removeUnlocked(directory.fd(), name, isLeftover)) {
            removed.push_back(prefix + name);
        }
    }
    if (!removed.empty()) {
        fsync(directory.fd());
    }
    return removed;
}

bool RecordingRecovery::isBareRecordingHeader(const std::vector<uint8_t>& bytes) {
    for (const auto& header : RecoveryIndexBuilder::bareHeaders()) {
        if (bytes == header) {
            return true;
        }
    }
    return false;
}

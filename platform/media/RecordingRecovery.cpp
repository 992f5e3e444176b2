#include "platform/media/RecordingRecovery.h"

#include "platform/media/FileTransfer.h"
#include "platform/media/Mp4Boxes.h"
#include "platform/media/RecordingJournal.h"
#include "platform/media/RecordingOutput.h"
#include "platform/media/RecoveryIndexBuilder.h"
#include "platform/audio/FourCharCode.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <regex>
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
        failed.error += " (its journal is kept as " + aside.substr(aside.find_last_of('/') + 1) +
                        ")";
    }
    return failed;
}

std::string nameOf(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// Whether the file's first bytes are the header the journal says the muxer
// wrote. The audio box's size may have been filled in by a finishing that
// was cut short: the 32-bit form, or the 64-bit one over the 'free' box.
bool startMatches(const std::vector<uint8_t>& file, const std::vector<uint8_t>& journal) {
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
    const bool patched32 = std::memcmp(tail, journal.data() + fixed, 8) == 0 &&
                           std::memcmp(tail + 12, "mdat", 4) == 0;
    const bool patched64 = std::memcmp(tail, "\0\0\0\1mdat", 8) == 0;
    return patched32 || patched64;
}

// Decodes a spread of the journal's packets (the first, the last and some
// between): a journal whose sizes do not fall on the packets' boundaries
// fails this, so it cannot make a tape of noise or of an absurd length.
class PacketCheck {
public:
    explicit PacketCheck(const RecordingJournalHeader& header)
        : mHeader(header), mFrame(av_frame_alloc()), mPacket(av_packet_alloc()) {}
    ~PacketCheck() {
        av_frame_free(&mFrame);
        av_packet_free(&mPacket);
    }
    PacketCheck(const PacketCheck&) = delete;
    PacketCheck& operator=(const PacketCheck&) = delete;

    bool passes(int fd, const std::vector<uint32_t>& sizes) {
        mDecoder = decoderFor(mHeader);
        if (!mDecoder || !mFrame || !mPacket) {
            return false;
        }
        std::vector<uint64_t> offsets(sizes.size());
        uint64_t offset = mHeader.dataOffset;
        for (size_t i = 0; i < sizes.size(); ++i) {
            offsets[i] = offset;
            offset += sizes[i];
        }
        for (const size_t i : chosen(sizes.size())) {
            if (!decodes(fd, offsets[i], sizes[i])) {
                return false;
            }
        }
        return true;
    }

private:
    static std::vector<size_t> chosen(size_t count) {
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

    // A decoder for the journal's set-up, kept for the next recording of the
    // same kind (a folder's recordings usually are).
    static AVCodecContext* decoderFor(const RecordingJournalHeader& header) {
        struct Cached {
            AVCodecContext* decoder = nullptr;
            std::string setUp;
            ~Cached() { avcodec_free_context(&decoder); }
        };
        thread_local Cached cached;
        const std::string setUp =
            header.codec + " " + std::to_string(header.sampleRate) + " " +
            std::to_string(header.channels) + " " + std::to_string(header.bitsPerRawSample) + " " +
            std::string(header.extradata.begin(), header.extradata.end());
        if (cached.decoder && cached.setUp == setUp) {
            return cached.decoder;
        }
        avcodec_free_context(&cached.decoder);
        cached.setUp = setUp;
        const bool aac = header.codec == "aac";
        const AVCodec* codec = avcodec_find_decoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ALAC);
        AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!decoder) {
            return nullptr;
        }
        decoder->sample_rate = header.sampleRate;
        av_channel_layout_default(&decoder->ch_layout, header.channels);
        decoder->bits_per_coded_sample = header.bitsPerRawSample;
        if (!header.extradata.empty()) {
            decoder->extradata = static_cast<uint8_t*>(
                av_mallocz(header.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (decoder->extradata) {
                std::memcpy(decoder->extradata, header.extradata.data(), header.extradata.size());
                decoder->extradata_size = static_cast<int>(header.extradata.size());
            }
        }
        if (avcodec_open2(decoder, codec, nullptr) < 0) {
            avcodec_free_context(&decoder);
            return nullptr;
        }
        cached.decoder = decoder;
        return decoder;
    }

    bool decodes(int fd, uint64_t offset, uint32_t size) {
        mData.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
        std::fill(mData.begin() + size, mData.end(), 0);
        if (preadAll(fd, mData.data(), size, offset) != 0) {
            return false;
        }
        avcodec_flush_buffers(mDecoder);
        mPacket->data = mData.data();
        mPacket->size = static_cast<int>(size);
        if (avcodec_send_packet(mDecoder, mPacket) < 0 ||
            avcodec_receive_frame(mDecoder, mFrame) < 0) {
            return false;
        }
        const bool whole = mFrame->nb_samples > 0 && mFrame->nb_samples <= mHeader.framesPerPacket;
        av_frame_unref(mFrame);
        return whole;
    }

    const RecordingJournalHeader& mHeader;
    AVCodecContext* mDecoder = nullptr;
    AVFrame* mFrame = nullptr;
    AVPacket* mPacket = nullptr;
    std::vector<uint8_t> mData;
};

// The most a recording can hold after its last journalled packet when it is
// cut short: audio not yet journalled (the writer journals it every second,
// after handing it over a block at a time), what its output buffered, and an index that was being written.
uint64_t unjournalledAllowance(const RecordingJournalHeader& header, size_t packets) {
    const auto channels = static_cast<uint64_t>(header.channels);
    const uint64_t largestPacket = header.codec == "aac"
                                       ? 768 * channels
                                       : uint64_t(header.framesPerPacket) * channels * 4 + 64;
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
    if (preadAll(fd, start.data(), start.size(), 0) != 0 || !startMatches(start, header.fileHeader) ||
        !track || track->sampleEntryType != entry || !channelsFit ||
        track->mediaTimescale != static_cast<uint32_t>(header.sampleRate)) {
        return setAside(journalPath, path, "the journal does not belong to " + nameOf(path));
    }
    RecoveredRecording complete = result(Outcome::Complete, path);
    complete.startedAt = header.startedAt;
    complete.sampleRate = header.sampleRate;
    complete.frames = static_cast<int64_t>(track->totalSampleDuration) - header.priming;
    return complete;
}

RecoveredRecording rebuildIndex(int fd, const std::string& path, const std::string& journalPath,
                                const RecordingJournal::Contents& journal, uint64_t fileSize) {
    const RecordingJournalHeader& header = journal.header;
    std::vector<uint8_t> start(std::min<uint64_t>(fileSize, header.dataOffset));
    if (preadAll(fd, start.data(), start.size(), 0) != 0) {
        return result(Outcome::Failed, path, "cannot read it: " + errorText(errno));
    }
    if (fileSize <= header.dataOffset) {
        return removeEmptyLeftover(path, journalPath, start, header);
    }
    if (!startMatches(start, header.fileHeader)) {
        return setAside(journalPath, path, "the journal does not belong to " + nameOf(path));
    }
    const std::vector<uint32_t>& packets = journal.packetSizes;
    if (packets.empty()) {
        return setAside(journalPath, path,
                        "the journal lists no audio, but " + nameOf(path) + " holds some");
    }
    uint64_t audioEnd = header.dataOffset;
    for (const uint32_t size : packets) {
        audioEnd += size;
    }
    if (fileSize - audioEnd > unjournalledAllowance(header, packets.size())) {
        return setAside(journalPath, path,
                        nameOf(path) + " holds much more audio than its journal lists");
    }
    if (!PacketCheck(header).passes(fd, packets)) {
        return setAside(journalPath, path,
                        "the journal does not describe the audio in " + nameOf(path));
    }
    std::string error;
    if (!RecoveryIndexBuilder::finish(fd, header, packets, audioEnd, &error)) {
        return result(Outcome::Failed, path, error);
    }
    removeJournal(journalPath);
    RecoveredRecording recovered = result(Outcome::Recovered, path);
    recovered.frames =
        static_cast<int64_t>(packets.size()) * header.framesPerPacket - header.priming;
    recovered.sampleRate = header.sampleRate;
    recovered.startedAt = header.startedAt;
    return recovered;
}

// Removes `name` in `folder` when it is a plain file that nobody holds
// locked (live recordings, imports and commits lock theirs) and that
// `isLeftover` says is one, judged under the lock.
template <typename Check> bool removeUnlocked(int folder, const std::string& name, Check isLeftover) {
    FileDescriptor file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
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
            return setAside(journalPath, path, "a journal names " + nameOf(path) + ", which is gone");
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
                            nameOf(path) + " is a link or not a plain file, so it is not recovered");
        }
        return result(Outcome::Failed, path, "cannot open it: " + errorText(lock.error()));
    }
    // Under the lock: the recorder may have finished it in the meantime.
    if (lstat(journalPath.c_str(), &journalStatus) != 0) {
        return result(Outcome::Finished, path);
    }
    if (fstat(lock.descriptor(), &status) != 0) {
        return result(Outcome::Failed, path, errorText(errno));
    }
    const auto fileSize = static_cast<uint64_t>(status.st_size);
    RecordingJournal::ReadFailure failure = RecordingJournal::ReadFailure::None;
    const auto journal = RecordingJournal::read(journalPath, fileSize, &failure);
    if (!journal) {
        return setAside(journalPath, path,
                        failure == RecordingJournal::ReadFailure::TooLarge
                            ? "the journal of " + nameOf(path) + " is larger than any recording's"
                            : "the journal of " + nameOf(path) + " is damaged or not a journal");
    }
    const Mp4BoxReader reader(lock.descriptor(), false);
    if (hasFinishedIndex(reader)) {
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

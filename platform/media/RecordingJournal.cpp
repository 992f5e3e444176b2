#include "platform/media/RecordingJournal.h"

#include "platform/media/FileTransfer.h"
#include "platform/media/RecordingOutput.h"

extern "C" {
#include <libavutil/crc.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Version 1 journals (written by earlier versions) have no header checksum,
// write everything once and number no batches; they are still read.
constexpr char kMagicV1[] = "CASSORA RECORDING JOURNAL 1\n";
constexpr char kMagic[] = "CASSORA RECORDING JOURNAL 2\n";
constexpr size_t kMagicLength = sizeof(kMagic) - 1;
constexpr char kEndOfHeader[] = "\nend\n";
constexpr char kSuffix[] = ".journal";
constexpr char kMediaSuffix[] = ".m4a";
constexpr char kSetAsideSuffix[] = ".unrecoverable";
constexpr uint32_t kBatchMarkV1 = 0x50414b53; // "PAKS"
constexpr uint32_t kBatchMark = 0x50414b32;   // "PAK2"
constexpr uint32_t kMostPacketsInABatch = 1 << 16;
// A header is a few hundred bytes; both copies fit well inside this.
constexpr size_t kLargestHeader = 16 * 1024;

std::string hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::optional<std::vector<uint8_t>> unhex(const std::string& text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return bytes;
}

uint32_t checksum(const void* data, size_t size) {
    return av_crc(av_crc_get_table(AV_CRC_32_IEEE_LE), 0, static_cast<const uint8_t*>(data), size);
}

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t getU32(const uint8_t* data) {
    return uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 | data[3];
}

std::string headerFields(const RecordingJournalHeader& header) {
    std::ostringstream text;
    text << "codec " << header.codec << "\nmuxer " << header.muxer << "\nrate " << header.sampleRate
         << "\nchannels " << header.channels << "\nbits " << header.bitsPerRawSample << "\nbitrate "
         << header.bitRate << "\nframes-per-packet " << header.framesPerPacket << "\npriming "
         << header.priming << "\nextradata "
         << (header.extradata.empty() ? "-" : hex(header.extradata)) << "\ndata-offset "
         << header.dataOffset << "\nfile-header " << hex(header.fileHeader) << "\nstarted "
         << header.startedAt << "\n";
    return text.str();
}

// One copy of the header: the magic, the fields, their checksum, "end".
std::string serialise(const RecordingJournalHeader& header) {
    const std::string body = kMagic + headerFields(header);
    char crc[32];
    std::snprintf(crc, sizeof(crc), "crc %08x", checksum(body.data(), body.size()));
    return body + crc + kEndOfHeader;
}

// A whole decimal number in [lowest, highest], nothing else.
template <typename T>
bool parseNumber(const std::string& text, T lowest, T highest, T& out) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    long long value = 0;
    size_t used = 0;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception&) {
        return false;
    }
    if (used != text.size() || value < static_cast<long long>(lowest) ||
        value > static_cast<long long>(highest)) {
        return false;
    }
    out = static_cast<T>(value);
    return true;
}

bool parseHeaderLine(const std::string& key, const std::string& value,
                     RecordingJournalHeader& header) {
    constexpr int64_t kLarge = int64_t{1} << 40;
    if (key == "codec") {
        header.codec = value;
    } else if (key == "muxer") {
        header.muxer = value;
    } else if (key == "rate") {
        return parseNumber(value, 0, 1 << 20, header.sampleRate);
    } else if (key == "channels") {
        return parseNumber(value, 0, 64, header.channels);
    } else if (key == "bits") {
        return parseNumber(value, 0, 64, header.bitsPerRawSample);
    } else if (key == "bitrate") {
        return parseNumber(value, int64_t{0}, kLarge, header.bitRate);
    } else if (key == "frames-per-packet") {
        return parseNumber(value, 0, 1 << 20, header.framesPerPacket);
    } else if (key == "priming") {
        return parseNumber(value, 0, 1 << 20, header.priming);
    } else if (key == "extradata") {
        if (value != "-") {
            auto bytes = unhex(value);
            if (!bytes) {
                return false;
            }
            header.extradata = std::move(*bytes);
        }
    } else if (key == "data-offset") {
        return parseNumber(value, uint64_t{0}, uint64_t{kLargestHeader}, header.dataOffset);
    } else if (key == "file-header") {
        auto bytes = unhex(value);
        if (!bytes) {
            return false;
        }
        header.fileHeader = std::move(*bytes);
    } else if (key == "started") {
        return parseNumber(value, int64_t{0}, kLarge, header.startedAt);
    }
    return true; // unknown keys are for later versions
}

bool parseFields(const std::string& fields, RecordingJournalHeader& header) {
    std::istringstream lines(fields);
    for (std::string line; std::getline(lines, line);) {
        const auto space = line.find(' ');
        if (space == std::string::npos ||
            !parseHeaderLine(line.substr(0, space), line.substr(space + 1), header)) {
            return false;
        }
    }
    return true;
}

// One header copy starting at `at` in `text`; `end` is set past it.
std::optional<RecordingJournalHeader> parseHeaderCopy(const std::string& text, size_t at,
                                                      size_t* end) {
    const bool version1 = text.compare(at, kMagicLength, kMagicV1) == 0;
    if (!version1 && text.compare(at, kMagicLength, kMagic) != 0) {
        return std::nullopt;
    }
    const size_t close = text.find(kEndOfHeader, at + kMagicLength - 1);
    if (close == std::string::npos) {
        return std::nullopt;
    }
    *end = close + sizeof(kEndOfHeader) - 1;
    std::string fields = text.substr(at + kMagicLength, close + 1 - (at + kMagicLength));
    if (!version1) {
        // The last line before "end" is the checksum of everything before it.
        const size_t crcLine = fields.rfind("crc ");
        if (crcLine == std::string::npos || (crcLine > 0 && fields[crcLine - 1] != '\n')) {
            return std::nullopt;
        }
        uint32_t stored = 0;
        if (fields.size() - crcLine != 4 + 8 + 1 ||
            std::sscanf(fields.c_str() + crcLine + 4, "%8x", &stored) != 1 ||
            checksum(text.data() + at, kMagicLength + crcLine) != stored) {
            return std::nullopt;
        }
        fields.resize(crcLine);
    }
    RecordingJournalHeader header;
    if (!parseFields(fields, header)) {
        return std::nullopt;
    }
    return header;
}

// Reads a descriptor front to back, from its start whatever its position,
// through a window that never holds more
// than a batch or two, whatever the size of the file.
class JournalStream {
public:
    // `size` is the file's size as it was found: a small journal is read
    // whole into a buffer of its own size.
    JournalStream(int fd, uint64_t size)
        : mFd(fd), mReadSize(static_cast<size_t>(std::min<uint64_t>(size + 1, kReadSize))) {}

    // At least `count` bytes from the current position, unless the file ends first.
    bool ensure(size_t count) {
        if (mEnd - mAt >= count) {
            return true;
        }
        if (mAt > 0) {
            std::memmove(mBuffer.get(), mBuffer.get() + mAt, mEnd - mAt);
            mEnd -= mAt;
            mAt = 0;
        }
        while (mEnd < count && !mEnded) {
            if (mEnd == mCapacity) {
                // Read in sizeable pieces (asking for what a record needs
                // made a read of a few bytes per record), and grown only
                // as the reads fill it: a record that claims more than the
                // file holds costs no buffer of the size it claims.
                grow(std::max(mCapacity * 2, mReadSize));
            }
            const size_t asked = mCapacity - mEnd;
            const ssize_t got =
                ::pread(mFd, mBuffer.get() + mEnd, asked, static_cast<off_t>(mTotal));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            mEnd += static_cast<size_t>(std::max<ssize_t>(got, 0));
            mTotal += static_cast<uint64_t>(std::max<ssize_t>(got, 0));
            // A regular file reads short only at its end.
            if (got <= 0 || static_cast<size_t>(got) < asked ||
                mTotal > RecordingJournal::kLargestJournal) {
                mEnded = true;
            }
        }
        return mEnd - mAt >= count;
    }
    const uint8_t* data() const { return mBuffer.get() + mAt; }
    size_t available() const { return mEnd - mAt; }
    void advance(size_t count) { mAt += std::min(count, available()); }

private:
    void grow(size_t capacity) {
        // Not zeroed: only what the reads fill is ever looked at.
        std::unique_ptr<uint8_t[]> larger(new uint8_t[capacity]);
        if (mEnd > 0) {
            std::memcpy(larger.get(), mBuffer.get(), mEnd);
        }
        mBuffer = std::move(larger);
        mCapacity = capacity;
    }

    static constexpr size_t kReadSize = 64 << 10;

    int mFd;
    size_t mReadSize;
    std::unique_ptr<uint8_t[]> mBuffer;
    size_t mCapacity = 0;
    size_t mAt = 0;
    size_t mEnd = 0;
    uint64_t mTotal = 0;
    bool mEnded = false;
};

// Takes the packet sizes of every intact batch. A damaged batch is skipped
// and its copy read instead; the batches after a stretch that neither copy
// gives are kept apart, with the number of the packet they start at.
class BatchReader {
public:
    BatchReader(JournalStream& stream, bool version1, uint64_t largestAudio)
        : mStream(stream), mVersion1(version1), mRoomLeft(largestAudio) {}

    void readAll(RecordingJournal::Contents& contents) {
        mContents = &contents;
        while (!mFull && mStream.ensure(12)) {
            const size_t used = readOne();
            mStream.advance(used > 0 ? used : 1);
        }
    }

private:
    // Lost stretches kept track of at most; a journal damaged in more
    // places than this is read up to the last of them.
    static constexpr size_t kMostLosses = 1024;

    uint64_t packetsKnown() const {
        const auto& later = mContents->afterLosses;
        return later.empty() ? mContents->packetSizes.size()
                             : later.back().firstPacket + later.back().sizes.size();
    }

    // Bytes taken by an intact batch at the current position; 0 when there is none.
    size_t readOne() {
        const uint8_t* at = mStream.data();
        const uint32_t mark = getU32(at);
        if (mark != (mVersion1 ? kBatchMarkV1 : kBatchMark)) {
            return 0;
        }
        const size_t head = mVersion1 ? 8 : 12;
        const uint32_t count = getU32(at + head - 4);
        if (count == 0 || count > kMostPacketsInABatch) {
            return 0;
        }
        const size_t length = head + size_t{count} * 4;
        if (!mStream.ensure(length + 4)) {
            return 0;
        }
        at = mStream.data();
        if (checksum(at, length) != getU32(at + length)) {
            return 0;
        }
        const uint64_t known = packetsKnown();
        const uint64_t first = mVersion1 ? known : getU32(at + 4);
        if (first > known) {
            // A stretch is lost: what follows is kept apart.
            if (mContents->afterLosses.size() == kMostLosses) {
                mFull = true;
                return length + 4;
            }
            mContents->afterLosses.push_back({first, {}});
        }
        std::vector<uint32_t>& sizes = mContents->afterLosses.empty()
                                           ? mContents->packetSizes
                                           : mContents->afterLosses.back().sizes;
        for (uint64_t i = std::max(known, first) - first; i < count; ++i) {
            const uint32_t size = getU32(at + head + i * 4);
            if (size > mRoomLeft) {
                mFull = true;
                break;
            }
            mRoomLeft -= size;
            sizes.push_back(size);
        }
        if (!mContents->afterLosses.empty() && mContents->afterLosses.back().sizes.empty()) {
            mContents->afterLosses.pop_back();
        }
        return length + 4;
    }

    JournalStream& mStream;
    bool mVersion1;
    uint64_t mRoomLeft;
    bool mFull = false;
    RecordingJournal::Contents* mContents = nullptr;
};

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool endsWithIgnoringCase(const std::string& text, const char* suffix) {
    const size_t length = std::strlen(suffix);
    return text.size() >= length &&
           strncasecmp(text.c_str() + text.size() - length, suffix, length) == 0;
}

} // namespace

std::string RecordingJournal::pathFor(const std::string& recordingPath) {
    return folderOf(recordingPath) + "." + nameOf(recordingPath) + kSuffix;
}

bool RecordingJournal::isJournalName(const std::string& fileName) {
    const size_t suffix = sizeof(kSuffix) - 1;
    const size_t media = sizeof(kMediaSuffix) - 1;
    if (fileName.size() <= 1 + media + suffix || fileName[0] != '.' ||
        fileName.compare(fileName.size() - suffix, suffix, kSuffix) != 0) {
        return false;
    }
    return endsWithIgnoringCase(fileName.substr(0, fileName.size() - suffix), kMediaSuffix);
}

std::string RecordingJournal::recordingPathFor(const std::string& journalPath) {
    const std::string name = nameOf(journalPath);
    if (!isJournalName(name)) {
        return {};
    }
    return folderOf(journalPath) + name.substr(1, name.size() - 1 - (sizeof(kSuffix) - 1));
}

std::string RecordingJournal::setAsidePathFor(const std::string& journalPath) {
    return journalPath + kSetAsideSuffix;
}

namespace {

// Whether the encoder's configuration, which the decoder is opened with,
// says what the header's own fields say: the recorder copies both from the
// same encoder, so they always agree in a journal it wrote.
bool configurationAgrees(const RecordingJournalHeader& header) {
    const std::vector<uint8_t>& configuration = header.extradata;
    if (header.codec == "aac") {
        // AudioSpecificConfig: low complexity, the rate's index, the channels
        // (for more than two, the encoder may list them in a table of their
        // own instead, and say 0 here).
        static constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                         22050, 16000, 12000, 11025, 8000,  7350};
        static constexpr int kChannels[] = {0, 1, 2, 3, 4, 5, 6, 8};
        if (configuration.size() < 2) {
            return false;
        }
        const unsigned objectType = configuration[0] >> 3;
        const unsigned rateIndex = (configuration[0] & 7u) << 1 | configuration[1] >> 7;
        const unsigned channelIndex = configuration[1] >> 3 & 0xfu;
        const bool channelsAgree =
            (channelIndex == 0 && header.channels > 2 && configuration.size() > 2) ||
            (channelIndex < std::size(kChannels) && kChannels[channelIndex] == header.channels);
        return objectType == 2 && rateIndex < std::size(kRates) &&
               kRates[rateIndex] == header.sampleRate && channelsAgree;
    }
    // The lossless cookie: its size, "alac", and from byte 12 on the packet
    // length, the sample size, the channels and the rate.
    return configuration.size() == 36 && getU32(configuration.data()) == 36 &&
           std::memcmp(configuration.data() + 4, "alac", 4) == 0 &&
           getU32(configuration.data() + 12) == static_cast<uint32_t>(header.framesPerPacket) &&
           configuration[17] == header.bitsPerRawSample && configuration[21] == header.channels &&
           getU32(configuration.data() + 32) == static_cast<uint32_t>(header.sampleRate);
}

} // namespace

bool RecordingJournal::headerIsPlausible(const RecordingJournalHeader& header) {
    const bool aac = header.codec == "aac";
    const bool alac = header.codec == "alac";
    const bool codecFits = (aac && header.framesPerPacket == 1024 && header.priming <= 4096 &&
                            header.bitRate >= 8000 && header.bitRate <= 1'000'000) ||
                           (alac && header.framesPerPacket == 4096 && header.priming == 0 &&
                            (header.bitsPerRawSample == 16 || header.bitsPerRawSample == 20 ||
                             header.bitsPerRawSample == 24 || header.bitsPerRawSample == 32));
    const bool fileHeaderFits = header.dataOffset >= 16 &&
                                header.fileHeader.size() == header.dataOffset &&
                                std::memcmp(header.fileHeader.data() + 4, "ftyp", 4) == 0;
    return codecFits && fileHeaderFits && (header.muxer == "ipod" || header.muxer == "mp4") &&
           header.sampleRate >= 8000 && header.sampleRate <= 384000 && header.channels >= 1 &&
           header.channels <= 8 && header.extradata.size() <= 256 && configurationAgrees(header);
}

RecordingJournal::~RecordingJournal() {
    keep();
}

int RecordingJournal::create(const std::string& recordingPath,
                             const RecordingJournalHeader& header) {
    keep();
    const std::string folder = folderOf(recordingPath);
    mFolderFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (mFolderFd < 0) {
        return errno;
    }
    mName = nameOf(pathFor(recordingPath));
    // Never through a link, and never into a FIFO or device left under our name.
    mFd = ::openat(mFolderFd, mName.c_str(),
                   O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat status {};
    if (mFd < 0 || fstat(mFd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const int error = mFd < 0 ? errno : EINVAL;
        keep();
        return error;
    }
    const std::string copy = serialise(header);
    const std::string both = copy + copy;
    int error = pwriteAll(mFd, both.data(), both.size(), 0);
    mEnd = both.size();
    mPackets = 0;
    if (!error && fdatasync(mFd) != 0) {
        error = errno;
    }
    if (!error) {
        fsync(mFolderFd);
    }
    return error;
}

int RecordingJournal::append(const std::vector<uint32_t>& packetSizes) {
    if (mFd < 0) {
        return EBADF;
    }
    std::vector<uint8_t> records;
    for (size_t from = 0; from < packetSizes.size(); from += kMostPacketsInABatch) {
        const size_t count = std::min<size_t>(kMostPacketsInABatch, packetSizes.size() - from);
        std::vector<uint8_t> batch;
        batch.reserve(16 + count * 4);
        putU32(batch, kBatchMark);
        putU32(batch, static_cast<uint32_t>(mPackets + from));
        putU32(batch, static_cast<uint32_t>(count));
        for (size_t i = 0; i < count; ++i) {
            putU32(batch, packetSizes[from + i]);
        }
        putU32(batch, checksum(batch.data(), batch.size()));
        // Twice: a damaged copy is read from the other.
        records.insert(records.end(), batch.begin(), batch.end());
        records.insert(records.end(), batch.begin(), batch.end());
    }
    if (records.empty()) {
        return 0;
    }
    if (const int error = pwriteAll(mFd, records.data(), records.size(), mEnd)) {
        return error;
    }
    mEnd += records.size();
    mPackets += packetSizes.size();
    return fdatasync(mFd) == 0 ? 0 : errno;
}

void RecordingJournal::remove() {
    if (mFolderFd >= 0 && !mName.empty()) {
        ::unlinkat(mFolderFd, mName.c_str(), 0);
        fsync(mFolderFd);
    }
    keep();
}

void RecordingJournal::keep() {
    if (mFd >= 0) {
        ::close(mFd);
        mFd = -1;
    }
    if (mFolderFd >= 0) {
        ::close(mFolderFd);
        mFolderFd = -1;
    }
}

void RecordingJournal::removeFinished(const std::string& recordingPath) {
    const std::string journal = pathFor(recordingPath);
    struct stat status {};
    if (::lstat(journal.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        ::unlink(journal.c_str()) == 0) {
        syncParentFolder(journal);
    }
}

std::optional<RecordingJournal::Contents> RecordingJournal::read(const std::string& journalPath,
                                                                 uint64_t largestAudio,
                                                                 ReadFailure* failure) {
    const int fd = ::open(journalPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (failure) {
            *failure = ReadFailure::Unreadable;
        }
        return std::nullopt;
    }
    auto contents = readDescriptor(fd, largestAudio, failure);
    ::close(fd);
    return contents;
}

std::optional<RecordingJournal::Contents>
RecordingJournal::readDescriptor(int fd, uint64_t largestAudio, ReadFailure* failure) {
    const auto fail = [&](ReadFailure why) -> std::optional<Contents> {
        if (failure) {
            *failure = why;
        }
        return std::nullopt;
    };
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return fail(ReadFailure::Unreadable);
    }
    if (static_cast<uint64_t>(status.st_size) > kLargestJournal) {
        return fail(ReadFailure::TooLarge);
    }
    JournalStream stream(fd, static_cast<uint64_t>(status.st_size));
    stream.ensure(std::min<uint64_t>(kLargestHeader, static_cast<uint64_t>(status.st_size)));
    const std::string prefix(reinterpret_cast<const char*>(stream.data()),
                             std::min(stream.available(), kLargestHeader));
    // The first intact copy of the header; the second is read when the
    // first is damaged.
    size_t end = 0;
    std::optional<RecordingJournalHeader> header = parseHeaderCopy(prefix, 0, &end);
    const bool version1 = prefix.compare(0, kMagicLength, kMagicV1) == 0;
    if (!header && !version1) {
        const size_t second = prefix.find(kMagic, 1);
        if (second != std::string::npos) {
            header = parseHeaderCopy(prefix, second, &end);
        }
    }
    if (!header || !headerIsPlausible(*header)) {
        return fail(ReadFailure::NotAJournal);
    }
    Contents contents;
    contents.header = std::move(*header);
    stream.advance(end);
    BatchReader(stream, version1, largestAudio).readAll(contents);
    if (failure) {
        *failure = ReadFailure::None;
    }
    return contents;
}

std::optional<RecordingJournal::Contents>
RecordingJournal::readWithoutHeader(int fd, uint64_t largestAudio) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<uint64_t>(status.st_size) > kLargestJournal) {
        return std::nullopt;
    }
    // The header's text holds no batch mark with a checksum that fits, so
    // the batches are found by reading on from the start.
    JournalStream stream(fd, static_cast<uint64_t>(status.st_size));
    Contents contents;
    BatchReader(stream, false, largestAudio).readAll(contents);
    if (contents.packetSizes.empty() && contents.afterLosses.empty()) {
        return std::nullopt;
    }
    return contents;
}

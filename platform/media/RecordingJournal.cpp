#include "platform/media/RecordingJournal.h"

#include "platform/media/FileTransfer.h"
#include "platform/media/RecordingOutput.h"

extern "C" {
#include <libavutil/crc.h>
}

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace {

constexpr char kMagic[] = "CASSORA RECORDING JOURNAL 1\n";
constexpr char kEndOfHeader[] = "end\n";
constexpr char kSuffix[] = ".journal";
constexpr uint32_t kBatchMark = 0x50414b53; // "PAKS"
constexpr uint32_t kMostPacketsInABatch = 1 << 20;

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

std::optional<std::vector<uint8_t>> unhex(const std::string& text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(text.c_str() + i, "%2x", &value) != 1) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

uint32_t checksum(const uint8_t* data, size_t size) {
    return av_crc(av_crc_get_table(AV_CRC_32_IEEE_LE), 0, data, size);
}

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t getU32(const uint8_t* data) {
    return uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 | data[3];
}

std::string serialise(const RecordingJournalHeader& header) {
    std::ostringstream text;
    text << kMagic << "codec " << header.codec << "\nmuxer " << header.muxer << "\nrate "
         << header.sampleRate << "\nchannels " << header.channels << "\nbits "
         << header.bitsPerRawSample << "\nbitrate " << header.bitRate << "\nframes-per-packet "
         << header.framesPerPacket << "\npriming " << header.priming << "\nextradata "
         << (header.extradata.empty() ? "-" : hex(header.extradata)) << "\ndata-offset "
         << header.dataOffset << "\nfile-header " << hex(header.fileHeader) << "\nstarted "
         << header.startedAt << "\n"
         << kEndOfHeader;
    return text.str();
}

bool parseHeaderLine(const std::string& key, const std::string& value,
                     RecordingJournalHeader& header) {
    try {
        if (key == "codec") {
            header.codec = value;
        } else if (key == "muxer") {
            header.muxer = value;
        } else if (key == "rate") {
            header.sampleRate = std::stoi(value);
        } else if (key == "channels") {
            header.channels = std::stoi(value);
        } else if (key == "bits") {
            header.bitsPerRawSample = std::stoi(value);
        } else if (key == "bitrate") {
            header.bitRate = std::stoll(value);
        } else if (key == "frames-per-packet") {
            header.framesPerPacket = std::stoi(value);
        } else if (key == "priming") {
            header.priming = std::stoi(value);
        } else if (key == "extradata") {
            if (value != "-") {
                auto bytes = unhex(value);
                if (!bytes) {
                    return false;
                }
                header.extradata = std::move(*bytes);
            }
        } else if (key == "data-offset") {
            header.dataOffset = std::stoull(value);
        } else if (key == "file-header") {
            auto bytes = unhex(value);
            if (!bytes) {
                return false;
            }
            header.fileHeader = std::move(*bytes);
        } else if (key == "started") {
            header.startedAt = std::stoll(value);
        }
        return true; // unknown keys are for later versions
    } catch (const std::exception&) {
        return false;
    }
}

bool headerMakesSense(const RecordingJournalHeader& header) {
    return (header.codec == "aac" || header.codec == "alac") &&
           (header.muxer == "ipod" || header.muxer == "mp4") && header.sampleRate > 0 &&
           header.sampleRate <= 768000 && header.channels >= 1 && header.channels <= 8 &&
           header.framesPerPacket > 0 && header.framesPerPacket <= 65536 && header.priming >= 0 &&
           header.dataOffset > 0 && header.fileHeader.size() == header.dataOffset;
}

} // namespace

std::string RecordingJournal::pathFor(const std::string& recordingPath) {
    const auto slash = recordingPath.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : recordingPath.substr(0, slash + 1);
    const std::string name =
        slash == std::string::npos ? recordingPath : recordingPath.substr(slash + 1);
    return folder + "." + name + kSuffix;
}

bool RecordingJournal::isJournalName(const std::string& fileName) {
    const size_t suffix = sizeof(kSuffix) - 1;
    return fileName.size() > suffix + 1 && fileName[0] == '.' &&
           fileName.compare(fileName.size() - suffix, suffix, kSuffix) == 0;
}

std::string RecordingJournal::recordingPathFor(const std::string& journalPath) {
    const auto slash = journalPath.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : journalPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? journalPath : journalPath.substr(slash + 1);
    if (!isJournalName(name)) {
        return {};
    }
    return folder + name.substr(1, name.size() - 1 - (sizeof(kSuffix) - 1));
}

RecordingJournal::~RecordingJournal() {
    if (mFd >= 0) {
        ::close(mFd);
    }
}

int RecordingJournal::create(const std::string& recordingPath,
                             const RecordingJournalHeader& header) {
    mPath = pathFor(recordingPath);
    mFd = ::open(mPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (mFd < 0) {
        return errno;
    }
    const std::string text = serialise(header);
    int error = pwriteAll(mFd, text.data(), text.size(), 0);
    mEnd = text.size();
    if (!error && fdatasync(mFd) != 0) {
        error = errno;
    }
    if (!error) {
        syncParentFolder(mPath);
    }
    return error;
}

int RecordingJournal::append(const std::vector<uint32_t>& packetSizes) {
    if (mFd < 0) {
        return EBADF;
    }
    if (packetSizes.empty()) {
        return 0;
    }
    std::vector<uint8_t> batch;
    batch.reserve(12 + packetSizes.size() * 4);
    putU32(batch, kBatchMark);
    putU32(batch, static_cast<uint32_t>(packetSizes.size()));
    for (const uint32_t size : packetSizes) {
        putU32(batch, size);
    }
    putU32(batch, checksum(batch.data(), batch.size()));
    if (const int error = pwriteAll(mFd, batch.data(), batch.size(), mEnd)) {
        return error;
    }
    mEnd += batch.size();
    return fdatasync(mFd) == 0 ? 0 : errno;
}

void RecordingJournal::remove() {
    if (mFd >= 0) {
        ::close(mFd);
        mFd = -1;
    }
    if (!mPath.empty()) {
        ::unlink(mPath.c_str());
        syncParentFolder(mPath);
    }
}

std::optional<RecordingJournal::Contents> RecordingJournal::read(const std::string& journalPath) {
    const int fd = ::open(journalPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof(block));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        bytes.insert(bytes.end(), block, block + got);
    }
    ::close(fd);

    const std::string text(bytes.begin(), bytes.end());
    if (text.compare(0, sizeof(kMagic) - 1, kMagic) != 0) {
        return std::nullopt;
    }
    const size_t headerEnd = text.find(std::string("\n") + kEndOfHeader);
    if (headerEnd == std::string::npos) {
        return std::nullopt;
    }
    Contents contents;
    std::istringstream lines(text.substr(sizeof(kMagic) - 1, headerEnd - (sizeof(kMagic) - 1)));
    for (std::string line; std::getline(lines, line);) {
        const auto space = line.find(' ');
        if (space == std::string::npos ||
            !parseHeaderLine(line.substr(0, space), line.substr(space + 1), contents.header)) {
            return std::nullopt;
        }
    }
    if (!headerMakesSense(contents.header)) {
        return std::nullopt;
    }
    // Batches, up to the first one that is cut off or damaged.
    size_t at = headerEnd + 1 + sizeof(kEndOfHeader) - 1;
    while (at + 12 <= bytes.size()) {
        const uint8_t* batch = bytes.data() + at;
        const uint32_t count = getU32(batch + 4);
        if (getU32(batch) != kBatchMark || count == 0 || count > kMostPacketsInABatch) {
            break;
        }
        const size_t length = 8 + size_t{count} * 4;
        if (at + length + 4 > bytes.size() ||
            checksum(batch, length) != getU32(batch + length)) {
            break;
        }
        for (uint32_t i = 0; i < count; ++i) {
            contents.packetSizes.push_back(getU32(batch + 8 + size_t{i} * 4));
        }
        at += length + 4;
    }
    return contents;
}

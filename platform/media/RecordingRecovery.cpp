#include "platform/media/RecordingRecovery.h"

#include "platform/media/Mp4Boxes.h"
#include "platform/media/RecordingJournal.h"
#include "platform/media/FileTransfer.h"
#include "platform/media/RecordingOutput.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Outcome = RecoveredRecording::Outcome;

constexpr uint32_t kLargestPacket = 1 << 20;
// A file this small with no index holds no audio worth keeping.
constexpr uint64_t kLargestEmptyLeftover = 64 * 1024;

// Collects what the muxer writes, except the audio itself: the audio is in
// the file already, and only the bytes around it are needed.
struct IndexCapture {
    uint64_t position = 0;
    uint64_t end = 0;
    uint64_t audioBegin = 0;
    uint64_t audioEnd = 0;
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> writes;

    void keep(uint64_t at, const uint8_t* data, size_t size) {
        if (size > 0) {
            writes.emplace_back(at, std::vector<uint8_t>(data, data + size));
        }
    }

    static int write(void* opaque, uint8_t* data, int size) {
        auto* self = static_cast<IndexCapture*>(opaque);
        const uint64_t from = self->position;
        const uint64_t to = from + static_cast<uint64_t>(size);
        // The parts before and after the audio.
        if (from < self->audioBegin) {
            self->keep(from, data, std::min(to, self->audioBegin) - from);
        }
        if (to > self->audioEnd) {
            const uint64_t start = std::max(from, self->audioEnd);
            self->keep(start, data + (start - from), to - start);
        }
        self->position = to;
        self->end = std::max(self->end, to);
        return size;
    }

    static int64_t seek(void* opaque, int64_t offset, int whence) {
        auto* self = static_cast<IndexCapture*>(opaque);
        const int64_t target = outputSeekTarget(offset, whence, self->position, self->end);
        if (target >= 0 && whence != AVSEEK_SIZE) {
            self->position = static_cast<uint64_t>(target);
        }
        return target;
    }
};

std::string errorText(int error) {
    return std::strerror(error);
}

class IndexBuilder {
public:
    IndexBuilder(const RecordingJournalHeader& header, int fd) : mHeader(header), mFd(fd) {}
    ~IndexBuilder() {
        if (mFormat) {
            avformat_free_context(mFormat);
        }
        if (mIO) {
            av_freep(&mIO->buffer);
            avio_context_free(&mIO);
        }
        av_packet_free(&mPacket);
    }

    // Runs the muxer over the packets as they lie in the file; afterwards
    // `capture()` holds the header, the audio box's size and the index.
    bool build(const std::vector<uint32_t>& packetSizes, uint64_t audioEnd, std::string* error) {
        mCapture.audioBegin = mHeader.dataOffset;
        mCapture.audioEnd = audioEnd;
        if (!setUp(error)) {
            return false;
        }
        AVDictionary* options = nullptr;
        av_dict_set_int(&options, "movie_timescale", mHeader.sampleRate, 0);
        const int written = avformat_write_header(mFormat, &options);
        av_dict_free(&options);
        avio_flush(mIO);
        if (written < 0 || mCapture.position != mHeader.dataOffset) {
            *error = "the file's layout is not one this version can finish";
            return false;
        }
        std::vector<uint8_t> data;
        uint64_t offset = mHeader.dataOffset;
        const AVRational clientBase{1, mHeader.sampleRate};
        AVStream* stream = mFormat->streams[0];
        for (size_t i = 0; i < packetSizes.size(); ++i) {
            data.resize(packetSizes[i] + AV_INPUT_BUFFER_PADDING_SIZE);
            if (preadAll(mFd, data.data(), packetSizes[i], offset) != 0) {
                *error = "cannot read the audio";
                return false;
            }
            // The timing the encoder gave: its priming comes first.
            const int64_t start =
                static_cast<int64_t>(i) * mHeader.framesPerPacket - mHeader.priming;
            mPacket->data = data.data();
            mPacket->size = static_cast<int>(packetSizes[i]);
            mPacket->stream_index = 0;
            mPacket->pts = mPacket->dts = av_rescale_q(start, clientBase, stream->time_base);
            mPacket->duration = av_rescale_q(mHeader.framesPerPacket, clientBase, stream->time_base);
            mPacket->flags = AV_PKT_FLAG_KEY;
            if (av_write_frame(mFormat, mPacket) < 0) {
                *error = "the audio cannot be indexed";
                return false;
            }
            offset += packetSizes[i];
        }
        if (av_write_trailer(mFormat) < 0) {
            *error = "the index cannot be made";
            return false;
        }
        avio_flush(mIO);
        return true;
    }

    const IndexCapture& capture() const { return mCapture; }

private:
    bool setUp(std::string* error) {
        if (avformat_alloc_output_context2(&mFormat, nullptr, mHeader.muxer.c_str(), nullptr) <
            0) {
            *error = "no MPEG-4 muxer";
            return false;
        }
        AVStream* stream = avformat_new_stream(mFormat, nullptr);
        mPacket = av_packet_alloc();
        auto* buffer = static_cast<unsigned char*>(av_malloc(65536));
        mIO = buffer ? avio_alloc_context(buffer, 65536, 1, &mCapture, nullptr,
                                          &IndexCapture::write, &IndexCapture::seek)
                     : nullptr;
        if (!stream || !mPacket || !mIO) {
            av_free(mIO ? nullptr : buffer);
            *error = "out of memory";
            return false;
        }
        mIO->seekable = AVIO_SEEKABLE_NORMAL;
        mFormat->pb = mIO;
        AVCodecParameters* parameters = stream->codecpar;
        const bool aac = mHeader.codec == "aac";
        parameters->codec_type = AVMEDIA_TYPE_AUDIO;
        parameters->codec_id = aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ALAC;
        parameters->sample_rate = mHeader.sampleRate;
        av_channel_layout_default(&parameters->ch_layout, mHeader.channels);
        parameters->frame_size = mHeader.framesPerPacket;
        parameters->bit_rate = mHeader.bitRate;
        parameters->bits_per_raw_sample = mHeader.bitsPerRawSample;
        parameters->initial_padding = mHeader.priming;
        parameters->format = aac                              ? AV_SAMPLE_FMT_FLTP
                             : mHeader.bitsPerRawSample == 16 ? AV_SAMPLE_FMT_S16P
                                                              : AV_SAMPLE_FMT_S32P;
        if (!mHeader.extradata.empty()) {
            parameters->extradata = static_cast<uint8_t*>(
                av_mallocz(mHeader.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!parameters->extradata) {
                *error = "out of memory";
                return false;
            }
            std::memcpy(parameters->extradata, mHeader.extradata.data(), mHeader.extradata.size());
            parameters->extradata_size = static_cast<int>(mHeader.extradata.size());
        }
        stream->time_base = AVRational{1, mHeader.sampleRate};
        return true;
    }

    const RecordingJournalHeader& mHeader;
    int mFd;
    AVFormatContext* mFormat = nullptr;
    AVIOContext* mIO = nullptr;
    AVPacket* mPacket = nullptr;
    IndexCapture mCapture;
};

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

// Nothing of the recording reached the disk: the leftover goes, so that no
// blank tape shows in the library. Only a small file without an index is
// ever removed.
RecoveredRecording removeEmptyLeftover(const std::string& path, const std::string& journalPath,
                                       uint64_t fileSize) {
    if (fileSize > kLargestEmptyLeftover || readMp4AudioTrackInfo(path)) {
        return result(Outcome::Failed, path, "the journal names no audio, yet the file has some");
    }
    ::unlink(path.c_str());
    removeJournal(journalPath);
    return result(Outcome::Empty, path);
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
    return access(RecordingJournal::pathFor(recordingPath).c_str(), F_OK) == 0;
}

RecoveredRecording RecordingRecovery::recover(const std::string& journalPath) {
    const std::string path = RecordingJournal::recordingPathFor(journalPath);
    if (path.empty()) {
        return result(Outcome::Failed, journalPath, "not a recording journal");
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        removeJournal(journalPath);
        return result(Outcome::Abandoned, path);
    }
    FileLock lock(path);
    if (!lock.locked()) {
        return lock.error() == EWOULDBLOCK
                   ? result(Outcome::InUse, path)
                   : result(Outcome::Failed, path, "cannot open it: " + errorText(lock.error()));
    }
    // Under the lock: the recorder may have finished it in the meantime.
    if (access(journalPath.c_str(), F_OK) != 0) {
        return result(Outcome::Finished, path);
    }
    if (fstat(lock.descriptor(), &info) != 0) {
        return result(Outcome::Failed, path, errorText(errno));
    }
    const auto fileSize = static_cast<uint64_t>(info.st_size);
    const auto journal = RecordingJournal::read(journalPath);
    if (!journal) {
        // Cut off while it was being made, before any audio was written.
        return removeEmptyLeftover(path, journalPath, fileSize);
    }
    const RecordingJournalHeader& header = journal->header;
    std::vector<uint8_t> fileHeader(header.dataOffset);
    if (fileSize < header.dataOffset ||
        preadAll(lock.descriptor(), fileHeader.data(), fileHeader.size(), 0) != 0 ||
        fileHeader != header.fileHeader) {
        return result(Outcome::Failed, path, "the file does not match its recording journal");
    }
    // The packets that are wholly in the file.
    std::vector<uint32_t> packets;
    uint64_t audioEnd = header.dataOffset;
    for (const uint32_t size : journal->packetSizes) {
        if (size == 0 || size > kLargestPacket || audioEnd + size > fileSize) {
            break;
        }
        packets.push_back(size);
        audioEnd += size;
    }
    if (const auto track = readMp4AudioTrackInfo(path);
        track && track->sampleCount >= journal->packetSizes.size()) {
        removeJournal(journalPath); // finished before the journal could go
        return result(Outcome::Finished, path);
    }
    if (packets.empty()) {
        return removeEmptyLeftover(path, journalPath, fileSize);
    }

    IndexBuilder builder(header, lock.descriptor());
    std::string error;
    if (!builder.build(packets, audioEnd, &error)) {
        return result(Outcome::Failed, path, error);
    }
    const int fd = lock.descriptor();
    if (ftruncate(fd, static_cast<off_t>(audioEnd)) != 0) {
        return result(Outcome::Failed, path, "cannot cut the file: " + errorText(errno));
    }
    for (const auto& [offset, bytes] : builder.capture().writes) {
        if (pwriteAll(fd, bytes.data(), bytes.size(), offset) != 0) {
            return result(Outcome::Failed, path, "cannot write the index: " + errorText(errno));
        }
    }
    if (fdatasync(fd) != 0) {
        return result(Outcome::Failed, path, "cannot write the index: " + errorText(errno));
    }
    const int64_t frames =
        static_cast<int64_t>(packets.size()) * header.framesPerPacket - header.priming;
    if (!correctMp4AudioTrackTiming(path, frames, header.sampleRate,
                                    header.codec == "aac" ? static_cast<uint32_t>(header.bitRate)
                                                          : 0) ||
        fsync(fd) != 0) {
        return result(Outcome::Failed, path, "cannot finish the index");
    }
    removeJournal(journalPath);
    RecoveredRecording recovered = result(Outcome::Recovered, path);
    recovered.frames = frames;
    recovered.sampleRate = header.sampleRate;
    recovered.startedAt = header.startedAt;
    return recovered;
}

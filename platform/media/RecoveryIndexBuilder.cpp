#include "platform/media/RecoveryIndexBuilder.h"

#include "platform/media/FileTransfer.h"
#include "platform/media/Mp4Boxes.h"
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
#include <unistd.h>

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

// The audio's packets one after another, read a megabyte at a time; each
// comes with the zeroed padding FFmpeg wants after a packet.
class AudioReader {
public:
    AudioReader(int fd, uint64_t begin, uint64_t end) : mFd(fd), mNext(begin), mEnd(end) {}

    const uint8_t* next(uint32_t size) {
        if (mAt + size > mFilled) {
            if (!refill(size)) {
                return nullptr;
            }
        }
        // The padding overwrites the start of the next packet: keep a copy.
        const uint8_t* packet = mBuffer.data() + mAt;
        mPacket.assign(packet, packet + size);
        mPacket.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        mAt += size;
        return mPacket.data();
    }

    void skip(uint64_t bytes) {
        if (bytes <= mFilled - mAt) {
            mAt += static_cast<size_t>(bytes);
            return;
        }
        mNext += bytes - (mFilled - mAt);
        mAt = mFilled = 0;
    }

private:
    bool refill(uint32_t atLeast) {
        mNext -= mFilled - mAt; // what is left of the block is read again
        const uint64_t left = mEnd - mNext;
        const auto wanted =
            static_cast<size_t>(std::min<uint64_t>(left, std::max<uint64_t>(atLeast, 1 << 20)));
        if (wanted < atLeast) {
            return false;
        }
        mBuffer.resize(wanted);
        if (preadAll(mFd, mBuffer.data(), wanted, mNext) != 0) {
            return false;
        }
        mNext += wanted;
        mAt = 0;
        mFilled = wanted;
        return true;
    }

    int mFd;
    uint64_t mNext;
    uint64_t mEnd;
    std::vector<uint8_t> mBuffer;
    std::vector<uint8_t> mPacket;
    size_t mAt = 0;
    size_t mFilled = 0;
};

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
    bool build(const PacketLayout& packets, uint64_t audioEnd, std::string* error) {
        mCapture.audioBegin = mHeader.dataOffset;
        mCapture.audioEnd = audioEnd;
        if (!writeHeader(error) || mCapture.position != mHeader.dataOffset) {
            *error = "the file's layout is not one this version can finish";
            return false;
        }
        AudioReader audio(mFd, mHeader.dataOffset, audioEnd);
        const AVRational clientBase{1, mHeader.sampleRate};
        AVStream* stream = mFormat->streams[0];
        auto gap = packets.gaps.begin();
        for (size_t i = 0; i <= packets.sizes.size(); ++i) {
            for (; gap != packets.gaps.end() && gap->beforePacket == i; ++gap) {
                if (!stepOver(audio, gap->bytes)) {
                    *error = "the audio cannot be indexed";
                    return false;
                }
            }
            if (i == packets.sizes.size()) {
                break;
            }
            const uint8_t* data = audio.next(packets.sizes[i]);
            if (!data) {
                *error = "cannot read the audio";
                return false;
            }
            // The timing the encoder gave: its priming comes first. Packets
            // after a stretch stepped over follow on without a pause.
            const int64_t start =
                static_cast<int64_t>(i) * mHeader.framesPerPacket - mHeader.priming;
            mPacket->data = const_cast<uint8_t*>(data);
            mPacket->size = static_cast<int>(packets.sizes[i]);
            mPacket->stream_index = 0;
            mPacket->pts = mPacket->dts = av_rescale_q(start, clientBase, stream->time_base);
            mPacket->duration =
                av_rescale_q(mHeader.framesPerPacket, clientBase, stream->time_base);
            mPacket->flags = AV_PKT_FLAG_KEY;
            if (av_write_frame(mFormat, mPacket) < 0) {
                *error = "the audio cannot be indexed";
                return false;
            }
        }
        if (av_write_trailer(mFormat) < 0) {
            *error = "the index cannot be made";
            return false;
        }
        avio_flush(mIO);
        if (!packets.gaps.empty()) {
            sizeAudioBox(audioEnd);
        }
        return true;
    }

    const IndexCapture& capture() const { return mCapture; }

    // Only the muxer's header, as it writes it before any audio.
    bool header(std::vector<uint8_t>* bytes) {
        mCapture.audioBegin = mCapture.audioEnd = UINT64_MAX;
        std::string error;
        if (!writeHeader(&error)) {
            return false;
        }
        bytes->assign(mCapture.position, 0);
        for (const auto& [offset, data] : mCapture.writes) {
            if (offset + data.size() <= bytes->size()) {
                std::copy(data.begin(), data.end(), bytes->begin() + static_cast<long>(offset));
            }
        }
        return true;
    }

private:
    // Bytes in the file that no packet given to the muxer holds: its output
    // moves past them, so that the packets after them are indexed where
    // they lie.
    bool stepOver(AudioReader& audio, uint64_t bytes) {
        audio.skip(bytes);
        return avio_seek(mIO, avio_tell(mIO) + static_cast<int64_t>(bytes), SEEK_SET) >= 0;
    }

    // The muxer sizes the audio box by the packets it was given; the bytes
    // stepped over are in the box too. Its header is the last 8 bytes before
    // the audio, or, when it needs 64 bits, the 16 bytes with the 'free' box
    // before it, as the muxer itself writes it.
    void sizeAudioBox(uint64_t audioEnd) {
        const uint64_t begin = mHeader.dataOffset - 8;
        std::vector<uint8_t> header;
        const auto put = [&](uint64_t value, int bytes) {
            for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
                header.push_back(static_cast<uint8_t>(value >> shift));
            }
        };
        if (audioEnd - begin <= UINT32_MAX) {
            put(audioEnd - begin, 4);
            header.insert(header.end(), {'m', 'd', 'a', 't'});
            mCapture.keep(begin, header.data(), header.size());
        } else {
            put(1, 4);
            header.insert(header.end(), {'m', 'd', 'a', 't'});
            put(audioEnd - (begin - 8), 8);
            mCapture.keep(begin - 8, header.data(), header.size());
        }
    }

    // What the recorder's muxer wrote first, with the same options.
    bool writeHeader(std::string* error) {
        if (!setUp(error)) {
            return false;
        }
        AVDictionary* options = nullptr;
        av_dict_set_int(&options, "movie_timescale", mHeader.sampleRate, 0);
        const int written = avformat_write_header(mFormat, &options);
        av_dict_free(&options);
        avio_flush(mIO);
        if (written < 0) {
            *error = "the file's layout is not one this version can finish";
            return false;
        }
        return true;
    }

    bool setUp(std::string* error) {
        if (avformat_alloc_output_context2(&mFormat, nullptr, mHeader.muxer.c_str(), nullptr) < 0) {
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

// A typical recorder set-up for each file type, to learn its bare header.
RecordingJournalHeader typicalHeader(const char* muxer) {
    RecordingJournalHeader header;
    header.muxer = muxer;
    const bool lossless = header.muxer == "ipod";
    header.codec = lossless ? "alac" : "aac";
    header.sampleRate = 44100;
    header.channels = 2;
    header.bitsPerRawSample = lossless ? 16 : 0;
    header.bitRate = lossless ? 0 : 128000;
    header.framesPerPacket = lossless ? 4096 : 1024;
    header.priming = lossless ? 0 : 1024;
    return header;
}

std::vector<uint8_t> muxedBareHeader(const std::string& muxer) {
    const RecordingJournalHeader header = typicalHeader(muxer.c_str());
    IndexBuilder builder(header, -1);
    std::vector<uint8_t> bytes;
    if (!builder.header(&bytes)) {
        bytes.clear();
    }
    return bytes;
}

} // namespace

namespace RecoveryIndexBuilder {

bool finish(int fd, const RecordingJournalHeader& header, const PacketLayout& packets,
            uint64_t audioEnd, std::string* error) {
    IndexBuilder builder(header, fd);
    if (!builder.build(packets, audioEnd, error)) {
        return false;
    }
    if (ftruncate(fd, static_cast<off_t>(audioEnd)) != 0) {
        *error = "cannot cut the file: " + errorText(errno);
        return false;
    }
    for (const auto& [offset, bytes] : builder.capture().writes) {
        if (pwriteAll(fd, bytes.data(), bytes.size(), offset) != 0) {
            *error = "cannot write the index: " + errorText(errno);
            return false;
        }
    }
    if (fdatasync(fd) != 0) {
        *error = "cannot write the index: " + errorText(errno);
        return false;
    }
    const int64_t frames =
        static_cast<int64_t>(packets.sizes.size()) * header.framesPerPacket - header.priming;
    if (!correctMp4AudioTrackTiming(fd, frames, header.sampleRate,
                                    header.codec == "aac" ? static_cast<uint32_t>(header.bitRate)
                                                          : 0) ||
        fsync(fd) != 0) {
        *error = "cannot finish the index";
        return false;
    }
    return true;
}

const std::vector<std::vector<uint8_t>>& bareHeaders() {
    static const std::vector<std::vector<uint8_t>> headers = [] {
        std::vector<std::vector<uint8_t>> found;
        for (const char* muxer : {"ipod", "mp4"}) {
            if (const std::vector<uint8_t>& bytes = bareHeader(muxer); !bytes.empty()) {
                found.push_back(bytes);
            }
        }
        return found;
    }();
    return headers;
}

const std::vector<uint8_t>& bareHeader(const std::string& muxer) {
    // The muxers write the same every time, and running one is costly.
    static const std::vector<uint8_t> ipod = muxedBareHeader("ipod");
    static const std::vector<uint8_t> mp4 = muxedBareHeader("mp4");
    static const std::vector<uint8_t> none;
    return muxer == "ipod" ? ipod : muxer == "mp4" ? mp4 : none;
}

} // namespace RecoveryIndexBuilder

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What it takes to finish a recording that was cut short: the encoder's
// set-up, where the audio starts in the file, and the size of every packet
// that has reached the disk. It lives beside the recording as a hidden file
// (".NAME.m4a.journal") and goes when the recording is finished.
//
// The journal only ever names packets that were synced to the disk before
// it, and each batch carries a checksum, so a journal cut off anywhere still
// describes a prefix of the audio exactly.
struct RecordingJournalHeader {
    std::string codec; // "aac" or "alac"
    std::string muxer; // FFmpeg's muxer: "ipod" or "mp4"
    int sampleRate = 0;
    int channels = 0;
    int bitsPerRawSample = 0;
    int64_t bitRate = 0;
    int framesPerPacket = 0;
    int priming = 0;
    std::vector<uint8_t> extradata;
    uint64_t dataOffset = 0;         // the first audio byte in the file
    std::vector<uint8_t> fileHeader; // the file's bytes before dataOffset
    int64_t startedAt = 0;           // seconds since the epoch
};

class RecordingJournal {
public:
    static std::string pathFor(const std::string& recordingPath);
    // The recording a journal belongs to; empty when the name is not a journal's.
    static std::string recordingPathFor(const std::string& journalPath);
    static bool isJournalName(const std::string& fileName);

    RecordingJournal() = default;
    ~RecordingJournal();
    RecordingJournal(const RecordingJournal&) = delete;
    RecordingJournal& operator=(const RecordingJournal&) = delete;

    // Writes the header and syncs it. Returns 0 or an errno value.
    int create(const std::string& recordingPath, const RecordingJournalHeader& header);
    // Adds packet sizes that are already on the disk, then syncs.
    int append(const std::vector<uint32_t>& packetSizes);
    // Deletes the journal: the recording no longer needs it.
    void remove();
    bool isOpen() const { return mFd >= 0; }

    struct Contents {
        RecordingJournalHeader header;
        std::vector<uint32_t> packetSizes;
    };
    // Everything that a journal reliably says; nothing when it has no
    // complete header.
    static std::optional<Contents> read(const std::string& journalPath);

private:
    int mFd = -1;
    uint64_t mEnd = 0;
    std::string mPath;
};

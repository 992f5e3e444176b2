#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What it takes to finish a recording that was cut short: the encoder's
// set-up, where the audio starts in the file, and the size of every packet
// that has reached the disk. It lives beside the recording as a hidden file
// (".NAME.m4a.journal") and goes once the recording is finished and labelled.
//
// The journal only ever names packets that were synced to the disk before
// it. The header and every batch of packet sizes carry a checksum and are
// written twice, and each batch says which packet it starts at, so a journal
// cut off or damaged anywhere still describes a prefix of the audio exactly.
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
    // The longest journal a real recording makes: a week of the densest
    // packets with room to spare. Anything longer is not one of ours.
    static constexpr uint64_t kLargestJournal = 256ull << 20;

    static std::string pathFor(const std::string& recordingPath);
    // The recording a journal belongs to; empty when the name is not a
    // journal's (".NAME.m4a.journal", NAME not empty).
    static std::string recordingPathFor(const std::string& journalPath);
    static bool isJournalName(const std::string& fileName);
    // Where a journal that cannot be used is moved, so that it is reported once.
    static std::string setAsidePathFor(const std::string& journalPath);

    RecordingJournal() = default;
    ~RecordingJournal();
    RecordingJournal(const RecordingJournal&) = delete;
    RecordingJournal& operator=(const RecordingJournal&) = delete;

    // Writes the header and syncs it. The journal keeps a handle on the
    // recording's folder, so that it is found again if the folder is renamed.
    // Returns 0 or an errno value.
    int create(const std::string& recordingPath, const RecordingJournalHeader& header);
    // Adds packet sizes that are already on the disk, then syncs.
    int append(const std::vector<uint32_t>& packetSizes);
    // Deletes the journal: the recording no longer needs it.
    void remove();
    // Lets go of the journal and leaves it on the disk, for whoever labels
    // the finished recording to remove (see removeFinished).
    void keep();
    bool isOpen() const { return mFd >= 0; }
    uint64_t packetCount() const { return mPackets; }

    // Removes the journal of a finished, labelled recording; only a regular
    // file is removed.
    static void removeFinished(const std::string& recordingPath);

    // Packets the journal names after a stretch it lost (both copies of a
    // batch damaged): the number of the first, and the sizes of it and of
    // those that follow it without a break. Where they start in the file is
    // for the audio itself to show.
    struct LaterPackets {
        uint64_t firstPacket = 0;
        std::vector<uint32_t> sizes;
    };
    struct Contents {
        RecordingJournalHeader header;
        std::vector<uint32_t> packetSizes;     // from the first packet on, without a break
        std::vector<LaterPackets> afterLosses; // in order, each after a lost stretch
    };
    enum class ReadFailure {
        None,
        Unreadable, // cannot be opened, or not a regular file
        TooLarge,   // longer than any real recording's journal
        NotAJournal // no complete, intact header
    };
    // Everything that a journal reliably says, read as a stream: links are
    // not followed, only a regular file of a sane size is read, and no more
    // packets are taken than `largestAudio` bytes can hold (the room the
    // recording has for audio). Nothing when it has no intact header.
    static std::optional<Contents> read(const std::string& journalPath,
                                        uint64_t largestAudio = UINT64_MAX,
                                        ReadFailure* failure = nullptr);
    // The same, from an open descriptor (read from its start).
    static std::optional<Contents> readDescriptor(int fd, uint64_t largestAudio = UINT64_MAX,
                                                  ReadFailure* failure = nullptr);
    // The packet sizes of a journal whose header is lost (both copies
    // damaged), from an open descriptor: the batches of the current version
    // wherever they are found intact. The header is left empty; nothing when
    // no batch is intact.
    static std::optional<Contents> readWithoutHeader(int fd, uint64_t largestAudio);
    // Whether a header is one this program's recorder writes.
    static bool headerIsPlausible(const RecordingJournalHeader& header);

private:
    int mFd = -1;
    int mFolderFd = -1;
    uint64_t mEnd = 0;
    uint64_t mPackets = 0;
    std::string mName; // the journal's name in its folder
};

#include "JournalFuzzCase.h"

#include "FuzzScratch.h"
#include "platform/media/MediaAudioFile.h"
#include "platform/media/RecordingJournal.h"
#include "platform/media/RecordingRecovery.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kRecording[] = "recording.m4a";
constexpr char kJournal[] = ".recording.m4a.journal";
constexpr char kSetAside[] = ".recording.m4a.journal.unrecoverable";
constexpr char kUsersFile[] = "notes.txt";
constexpr char kUsersWords[] = "the user's own words, which nothing may change";

struct Fixture {
    std::string recording; // an interrupted recording's bytes
    std::string journal;   // its journal as it was at that moment
    uint64_t dataOffset = 0;
};

AudioStreamBasicDescription floatFormat(uint32_t channels, double rate) {
    AudioStreamBasicDescription format{};
    format.mSampleRate = rate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    format.mBytesPerPacket = format.mBytesPerFrame = 4;
    format.mFramesPerPacket = 1;
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = 32;
    return format;
}

// Records a second and a half of a chord and takes the file and its journal
// as they are before the recording is finished.
Fixture record(const FuzzScratch& scratch, bool lossless) {
    const uint32_t channels = lossless ? 2 : 1;
    const double rate = 44100;
    AudioStreamBasicDescription format = floatFormat(channels, rate);
    format.mFormatID = lossless ? kAudioFormatAppleLossless : kAudioFormatMPEG4AAC;
    format.mFormatFlags = lossless ? kAppleLosslessFormatFlag_16BitSourceData : 0;
    std::unique_ptr<MediaAudioFile> file;
    Fixture fixture;
    if (MediaAudioFile::create(scratch.path(kRecording),
                               lossless ? kAudioFileM4AType : kAudioFileMPEG4Type, format,
                               &file) != 0) {
        return fixture;
    }
    file->setClientFormat(floatFormat(channels, rate));
    if (!lossless) {
        file->setEncodeBitRate(64000);
    }
    std::vector<std::vector<float>> slice(channels, std::vector<float>(1024));
    std::vector<uint8_t> storage(AudioBufferListSize(channels));
    auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
    list->mNumberBuffers = channels;
    for (int64_t frame = 0; frame < static_cast<int64_t>(1.5 * rate); frame += 1024) {
        for (uint32_t c = 0; c < channels; ++c) {
            for (int i = 0; i < 1024; ++i) {
                const double t = double(frame + i) / rate;
                slice[c][i] = static_cast<float>(0.2 * std::sin(2 * M_PI * 220 * (c + 1) * t) +
                                                 0.1 * std::sin(2 * M_PI * 331 * t));
            }
            list->mBuffers[c] = {1, 1024 * sizeof(float), slice[c].data()};
        }
        file->write(1024, list);
    }
    fixture.recording = scratch.get(kRecording);
    fixture.journal = scratch.get(kJournal);
    if (const auto read = RecordingJournal::read(scratch.path(kJournal))) {
        fixture.dataOffset = read->header.dataOffset;
    }
    file.reset(); // finishes it; the copies above are what a kill leaves
    scratch.clear();
    return fixture;
}

const FuzzScratch& scratch() {
    static const FuzzScratch folder;
    return folder;
}

const Fixture& fixture(bool lossless) {
    static const Fixture lossy = record(scratch(), false);
    static const Fixture stereo = record(scratch(), true);
    return lossless ? stereo : lossy;
}

// What recovery left in the scratch folder.
struct Leftovers {
    bool journal = false;
    bool setAside = false;
    bool unexpected = false; // a file recovery had no business making
};

Leftovers leftoversIn(const FuzzScratch& folder) {
    Leftovers found;
    folder.forEachName([&](const char* name) {
        if (std::strcmp(name, kJournal) == 0) {
            found.journal = true;
        } else if (std::strcmp(name, kSetAside) == 0) {
            found.setAside = true;
        } else if (std::strcmp(name, kRecording) != 0 && std::strcmp(name, kUsersFile) != 0) {
            found.unexpected = true;
        }
    });
    return found;
}

bool broken(const char* why) {
    std::fprintf(stderr, "journal fuzz case: %s\n", why);
    return false;
}

// The recording as recovery left it: unchanged, or finished in place, its
// audio where it was and an index after it.
bool finishedInPlace(const std::string& before, const std::string& after, uint64_t dataOffset) {
    if (after.size() < dataOffset ||
        after.compare(0, dataOffset - 16, before, 0, dataOffset - 16)) {
        return false;
    }
    size_t at = dataOffset;
    while (at < after.size() && at < before.size() && after[at] == before[at]) {
        ++at;
    }
    if (at == after.size()) {
        return true;
    }
    // The first byte that differs is in the header of the index that follows.
    for (size_t j = at >= 3 ? at - 3 : 0; j <= at; ++j) {
        if (after.compare(j + 4, 4, "moov") == 0) {
            return true;
        }
    }
    return false;
}

// A folder for each kind of recording, holding it and the user's file, so
// that cases of either kind follow each other without rewriting them.
struct Stage {
    FuzzScratch folder;
    std::string journalPath = folder.path(kJournal);
    struct stat usersFile {};
    struct stat recordingFile {};
    bool inPlace = false; // the files are as the last case left them

    bool setUp(const Fixture& recording) {
        if (inPlace) {
            return true;
        }
        folder.clear();
        inPlace = folder.put(kRecording, recording.recording.data(), recording.recording.size()) &&
                  folder.put(kUsersFile, kUsersWords, sizeof(kUsersWords) - 1) &&
                  folder.stamp(kUsersFile, &usersFile) && folder.stamp(kRecording, &recordingFile);
        return inPlace;
    }
};

Stage& stage(bool lossless) {
    static Stage lossy;
    static Stage stereo;
    return lossless ? stereo : lossy;
}

} // namespace

bool runJournalFuzzCase(const uint8_t* data, size_t size) {
    if (size == 0) {
        return true;
    }
    const bool lossless = data[0] % 2 == 1;
    const Fixture& recording = fixture(lossless);
    Stage& stage = ::stage(lossless);
    const FuzzScratch& folder = stage.folder;
    if (recording.recording.empty() || !stage.setUp(recording)) {
        return true;
    }
    if (!folder.put(kJournal, data + 1, size - 1)) {
        return true;
    }
    const RecoveredRecording recovered = RecordingRecovery::recover(stage.journalPath);

    bool kept = true;
    const Leftovers left = leftoversIn(folder);
    if (left.unexpected) {
        kept = broken("recovery made a file");
    }
    if (folder.changedSince(kUsersFile, stage.usersFile) && folder.get(kUsersFile) != kUsersWords) {
        kept = broken("the user's file changed");
    }
    // An untouched recording still holds the bytes it was given.
    if (folder.changedSince(kRecording, stage.recordingFile)) {
        const std::string after = folder.get(kRecording);
        using Outcome = RecoveredRecording::Outcome;
        if (recovered.outcome == Outcome::Recovered) {
            if (!finishedInPlace(recording.recording, after, recording.dataOffset)) {
                kept = broken("recovery moved or changed the audio");
            }
        } else if (after != recording.recording) {
            kept = broken("a refused journal changed the recording");
        }
        stage.inPlace = false;
    }
    if (left.journal) {
        folder.remove(kJournal);
    }
    if (left.setAside) {
        folder.remove(kSetAside);
    }
    return kept;
}

std::vector<std::string> journalFuzzSeeds() {
    return {std::string(1, '\0') + fixture(false).journal,
            std::string(1, '\1') + fixture(true).journal};
}

#include "audio/realtime/VELKAudioFileStreamer.h"

#include "../file/AudioFileTestSupport.h"
#include "audio/format/NSXException.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <deque>
#include <memory>
#include <thread>

// The file reader and writer against real files: every sample of the test
// file says which frame it is, so what the render side receives shows
// exactly which frames came, in which order.

namespace {

constexpr int64_t kFrames = 60000;

// The frame a sample stands for; frames repeat every 65536.
int64_t frameOf(float sample) {
    return std::lround(sample * 32768.0f) + 32768;
}

// A mono 16-bit lossless file whose frame i holds the sample for i.
std::string countingFile(const ScratchFolder& folder, int64_t frames, const char* name) {
    const std::string path = folder.path(name);
    auto description = VELKAudioStreamBasicDescription::alacStreamDescription();
    description->setChannelsPerFrame(1);
    description->setSampleRate(48000);
    auto file = VELKExtendedAudioFile::forRecording(path, description, 0, nullptr);
    Channels ramp(1, std::vector<float>(static_cast<size_t>(frames)));
    for (int64_t i = 0; i < frames; ++i) {
        ramp[0][static_cast<size_t>(i)] = static_cast<float>((i % 65536) - 32768) / 32768.0f;
    }
    writeChannels(*file, ramp, 4096);
    file->closeFile();
    return path;
}

struct OneChannel {
    std::vector<float> samples;
    std::vector<uint8_t> storage = std::vector<uint8_t>(AudioBufferListSize(1));
    AudioBufferList* list = reinterpret_cast<AudioBufferList*>(storage.data());

    explicit OneChannel(uint32_t frames) : samples(frames) {
        list->mNumberBuffers = 1;
        list->mBuffers[0] = {1, frames * 4, samples.data()};
    }
};

// Pulls as the output would until `count` frames came (or the stream ended),
// giving the worker time to refill.
std::vector<int64_t> pull(VELKAudioFileReader& reader, size_t count, uint32_t slice = 512) {
    std::vector<int64_t> frames;
    OneChannel out(slice);
    for (int idle = 0; frames.size() < count && idle < 2000;) {
        auto wanted = static_cast<uint32_t>(std::min<size_t>(slice, count - frames.size()));
        VELKAudioBufferQueueCopyInto(&reader, out.list, &wanted);
        for (uint32_t i = 0; i < wanted; ++i) {
            frames.push_back(frameOf(out.samples[i]));
        }
        if (reader.endOfStream()) {
            break;
        }
        if (wanted == 0) {
            ++idle;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return frames;
}

class AudioFileReader : public ::testing::Test {
protected:
    ScratchFolder folder;
    std::shared_ptr<VELKExtendedAudioFile> file =
        VELKExtendedAudioFile::forPlayback(countingFile(folder, kFrames, "count.m4a"));
    std::unique_ptr<VELKAudioFileReader> reader =
        std::make_unique<VELKAudioFileReader>(3, 4096, *file->streamDescription(), file);

    void TearDown() override {
        if (reader) {
            reader->stop();
            reader->teardownWorkerThread();
        }
    }

    // Reads another file, through a reader of the same make.
    void readFrom(const std::string& path) {
        TearDown();
        file = VELKExtendedAudioFile::forPlayback(path);
        reader = std::make_unique<VELKAudioFileReader>(3, 4096, *file->streamDescription(), file);
    }
};

TEST_F(AudioFileReader, StopAndStartGoOnFromTheFrameTheOutputReached) {
    reader->start();
    std::vector<int64_t> heard = pull(*reader, 10000);
    reader->stop();
    EXPECT_EQ(reader->currentFrame(), 10000) << "not where the reading got ahead to";
    reader->start();
    const std::vector<int64_t> rest = pull(*reader, kFrames);
    heard.insert(heard.end(), rest.begin(), rest.end());
    ASSERT_EQ(heard.size(), static_cast<size_t>(kFrames)) << "nothing skipped or repeated";
    for (int64_t i = 0; i < kFrames; ++i) {
        ASSERT_EQ(heard[static_cast<size_t>(i)], i) << "frame " << i;
    }
    EXPECT_TRUE(reader->endOfStream());
}

TEST_F(AudioFileReader, StopAndStartBackwardsSkipNothing) {
    reader->setReverse(true);
    reader->setCurrentFrame(kFrames);
    reader->start();
    std::vector<int64_t> heard = pull(*reader, 10000);
    reader->stop();
    EXPECT_EQ(reader->currentFrame(), kFrames - 10000);
    reader->start();
    const std::vector<int64_t> rest = pull(*reader, kFrames);
    heard.insert(heard.end(), rest.begin(), rest.end());
    ASSERT_EQ(heard.size(), static_cast<size_t>(kFrames));
    for (int64_t i = 0; i < kFrames; ++i) {
        ASSERT_EQ(heard[static_cast<size_t>(i)], kFrames - 1 - i) << "frame " << i;
    }
}

TEST_F(AudioFileReader, ARefusedSeekKeepsThePositionAndThePlaying) {
    reader->setCurrentFrame(1000);
    EXPECT_THROW(reader->setCurrentFrame(kFrames + 5000), NSXException);
    EXPECT_EQ(reader->currentFrame(), 1000);

    reader->start();
    EXPECT_EQ(pull(*reader, 4000).front(), 1000);
    EXPECT_THROW(reader->setCurrentFrame(-10), NSXException);
    EXPECT_TRUE(reader->running());
    EXPECT_EQ(reader->currentFrame(), 5000);
    const std::vector<int64_t> next = pull(*reader, 100);
    ASSERT_EQ(next.size(), 100u) << "the output still gets frames";
    EXPECT_EQ(next.front(), 5000);
}

// Where the frames a block ended with leave the stream: at a file end (the
// first frame going backwards, the last going forwards) or mid-file.
std::string whereItEnded(const std::vector<int64_t>& heard, int64_t from, int64_t fileFrames,
                         bool endOfStream) {
    std::string where =
        std::to_string(heard.size()) + " frames came after frame " + std::to_string(from);
    if (!heard.empty()) {
        const int64_t last = heard.back();
        const bool atAnEnd = last == 0 || last == (fileFrames - 1) % 65536;
        where += ", the last being frame " + std::to_string(last) + " (mod 65536, " +
                 (atAnEnd ? "a file end" : "mid-file") + ")";
    }
    return where + (endOfStream ? "; the stream ended" : "; the stream went on");
}

// The direction flips while the worker refills: each refill must be read and
// positioned in one direction. A forward block c..c+4095 leaves the reader at
// c+4096, a backward one c-1 down to c-4096 at c-4096; the next block starts
// there. A thread flips at random; the thread that takes the blocks turns the
// reader back from the outer quarters itself, so the stream reaches neither
// end however late the flipper runs.
TEST_F(AudioFileReader, EachRefillKeepsOneDirection) {
    const int64_t frames = 600000;
    readFrom(countingFile(folder, frames, "long.m4a"));
    reader->setCurrentFrame(frames / 2);
    reader->start();
    const auto inTheMiddle = [&](int64_t at) { return at >= frames / 4 && at <= frames * 3 / 4; };
    std::atomic<int64_t> position{frames / 2};
    std::atomic<bool> done{false};
    std::thread flipper([&] {
        while (!done.load()) {
            if (inTheMiddle(position.load())) {
                reader->setReverse(!reader->reverse());
            }
            std::this_thread::sleep_for(std::chrono::microseconds(150));
        }
    });
    std::string fault;
    int64_t at = frames / 2;
    for (int block = 0; block < 400 && fault.empty(); ++block) {
        if (!inTheMiddle(at)) {
            reader->setReverse(at > frames / 2); // back towards the middle
        }
        const std::vector<int64_t> heard = pull(*reader, 4096, 4096);
        if (heard.size() != 4096) {
            fault = "block " + std::to_string(block) +
                    " is short: " + whereItEnded(heard, at, frames, reader->endOfStream());
            break;
        }
        const bool forward = heard[0] == at % 65536;
        for (int64_t i = 0; i < 4096 && fault.empty(); ++i) {
            const int64_t expected = forward ? at + i : at - 1 - i;
            if (heard[static_cast<size_t>(i)] != expected % 65536) {
                fault = "block " + std::to_string(block) + " frame " + std::to_string(i) +
                        " is not the one after frame " + std::to_string(at) + " " +
                        (forward ? "forwards" : "backwards");
            }
        }
        at += forward ? 4096 : -4096;
        position = at;
    }
    done = true;
    flipper.join();
    EXPECT_TRUE(fault.empty()) << fault;
}

// Takes the render side's current buffer whole, once the worker has filled
// it, and waits until the worker has refilled it in turn: between two takes
// the worker holds nothing. Empty when the stream ended.
std::vector<int64_t> takeOneRefill(VELKAudioFileReader& reader) {
    const auto settled = [](const SQueueableAudioBuffer* buffer) {
        for (int i = 0; i < 5000 && buffer->mInProgress.load(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return !buffer->mInProgress.load();
    };
    SQueueableAudioBuffer* current =
        reader.buffer(static_cast<uint32_t>(reader.currentBufferIndex()));
    if (!settled(current)) {
        return {};
    }
    const uint32_t count = SAudioBufferFrameCount(&current->mBuffer);
    OneChannel out(std::max<uint32_t>(count, 1));
    uint32_t wanted = std::max<uint32_t>(count, 1);
    VELKAudioBufferQueueCopyInto(&reader, out.list, &wanted);
    std::vector<int64_t> frames;
    for (uint32_t i = 0; i < wanted; ++i) {
        frames.push_back(frameOf(out.samples[i]));
    }
    settled(current);
    return frames;
}

// The reader turns at fixed frames: at the file's last frame, at its first,
// and mid-file, and ends at the first. It is turned only while the worker
// holds nothing, so which way every refill goes is known: each block heard
// must be exactly the one that follows the block before it, and the stream
// ends only once a file end is reached.
TEST_F(AudioFileReader, TurnsAtFixedFramesKeepEveryBlockContiguous) {
    const int64_t frames = 15 * 4096 + 1234; // short blocks at both ends
    readFrom(countingFile(folder, frames, "turns.m4a"));
    const std::vector<int64_t> turns = {frames, 0, 30000};

    struct Block {
        int64_t from;
        int64_t count;
        bool reverse;
    };
    std::deque<Block> refills; // filled, not yet heard
    int64_t ahead = 10000;     // where the next refill starts
    bool reverse = false;
    const auto refill = [&] {
        const int64_t count = std::min<int64_t>(4096, reverse ? ahead : frames - ahead);
        refills.push_back({ahead, count, reverse});
        ahead += reverse ? -count : count;
    };

    reader->setCurrentFrame(ahead);
    reader->start();
    for (uint32_t i = 0; i < reader->numberOfBuffers(); ++i) {
        refill(); // the start fills the ring on this thread
    }
    size_t nextTurn = 0;
    for (int block = 0; block < 200; ++block) {
        if (nextTurn < turns.size() &&
            (reverse ? ahead <= turns[nextTurn] : ahead >= turns[nextTurn])) {
            reverse = !reverse;
            reader->setReverse(reverse);
            ++nextTurn;
        }
        const std::vector<int64_t> heard = takeOneRefill(*reader);
        const Block expected = refills.front();
        refills.pop_front();
        if (expected.count > 0) {
            refill(); // taking the buffer handed it back for this refill
        }
        ASSERT_EQ(static_cast<int64_t>(heard.size()), expected.count)
            << "block " << block << ": "
            << whereItEnded(heard, expected.from, frames, reader->endOfStream());
        for (int64_t i = 0; i < expected.count; ++i) {
            const int64_t frame = expected.reverse ? expected.from - 1 - i : expected.from + i;
            ASSERT_EQ(heard[static_cast<size_t>(i)], frame % 65536)
                << "block " << block << " from frame " << expected.from
                << (expected.reverse ? " backwards" : " forwards") << ", frame " << i;
        }
        if (expected.count == 0) {
            EXPECT_TRUE(reader->endOfStream()) << "the stream went on past the file's first frame";
            EXPECT_EQ(expected.from, 0);
            EXPECT_EQ(nextTurn, turns.size()) << "ended before every turn was made";
            return;
        }
        ASSERT_FALSE(reader->endOfStream()) << "the stream ended mid-file after block " << block;
    }
    FAIL() << "the stream never ended";
}

// The worker refills while the file becomes unreadable (here: closed; a
// damaged file does the same): the process goes on, the stream ends and the
// reader says it failed.
TEST_F(AudioFileReader, AFileThatCannotBeReadEndsTheStreamAsAFailure) {
    reader->setReverse(true); // backwards, every refill seeks
    reader->setCurrentFrame(30000);
    reader->start();
    ASSERT_EQ(pull(*reader, 2000).front(), 29999);
    file->closeFile();
    pull(*reader, kFrames);
    EXPECT_TRUE(reader->endOfStream());
    EXPECT_TRUE(reader->failed());
    EXPECT_FALSE(reader->failureReason().empty());

    reader->stop();
    EXPECT_NO_THROW(reader->start()) << "a refill on the caller's thread fails the same way";
    EXPECT_TRUE(reader->failed());
    EXPECT_TRUE(pull(*reader, 100).empty());
    EXPECT_TRUE(reader->endOfStream());
}

// A streamer whose worker calls back into a subclass while it is destroyed
// without a teardown. The worker is made to hold a batch of two buffers and
// to be inside the first when destruction begins.
template <typename Streamer>
class HeldStreamer : public Streamer {
public:
    using Streamer::Streamer;

    void processBuffer(SQueueableAudioBuffer* buffer) override {
        const int call = ++mCalls;
        if (call == mBlockedCall) {
            while (!mRelease.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        } else if (call == mBlockedCall + 1) {
            mInsideBatch = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Streamer::processBuffer(buffer);
    }

    int mBlockedCall = 1;
    std::atomic<int> mCalls{0};
    std::atomic<bool> mRelease{false};
    std::atomic<bool> mInsideBatch{false};
};

bool waitFor(const std::atomic<bool>& flag) {
    for (int i = 0; i < 2000 && !flag.load(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return flag.load();
}

TEST(FileStreamer, ReaderDestroyedWithoutTeardownFinishesItsRefills) {
    ScratchFolder folder;
    auto file = VELKExtendedAudioFile::forPlayback(countingFile(folder, kFrames, "count.m4a"));
    auto reader = std::make_unique<HeldStreamer<VELKAudioFileReader>>(
        3, 1000, *file->streamDescription(), file);
    reader->mBlockedCall = 4; // the first refill after the three of start
    reader->start();
    OneChannel out(3000);
    uint32_t frames = 1000;
    VELKAudioBufferQueueCopyInto(reader.get(), out.list, &frames); // buffer 0 to the worker
    frames = 2000;
    VELKAudioBufferQueueCopyInto(reader.get(), out.list, &frames); // buffers 1 and 2 wait
    ASSERT_EQ(frames, 2000u);
    testing::internal::CaptureStderr();
    reader->mRelease = true;
    ASSERT_TRUE(waitFor(reader->mInsideBatch));
    reader.reset();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find("Abstract"), std::string::npos) << log;
    EXPECT_EQ(log.find("(ERROR)"), std::string::npos) << log;
}

TEST(FileStreamer, WriterDestroyedWithoutTeardownFinishesItsWrites) {
    ScratchFolder folder;
    auto description = VELKAudioStreamBasicDescription::alacStreamDescription();
    description->setChannelsPerFrame(1);
    description->setSampleRate(48000);
    auto file = VELKExtendedAudioFile::forRecording(folder.path("w.m4a"), description, 0, nullptr);
    auto writer = std::make_unique<HeldStreamer<VELKAudioFileWriter>>(
        3, 1000, *file->streamDescription(), file);
    writer->start();
    OneChannel in(3000);
    VELKAudioBufferQueueCopyFrom(writer.get(), in.list, 1000); // buffer 0 to the worker
    VELKAudioBufferQueueCopyFrom(writer.get(), in.list, 2000); // buffers 1 and 2 wait
    testing::internal::CaptureStderr();
    writer->mRelease = true;
    ASSERT_TRUE(waitFor(writer->mInsideBatch));
    writer.reset();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find("Abstract"), std::string::npos) << log;
    file->closeFile();
    EXPECT_EQ(VELKExtendedAudioFile::forPlayback(folder.path("w.m4a"))->frameCount(), 3000)
        << "every buffer handed over was written";
}

} // namespace

#include "audio/realtime/VELKAudioFileStreamer.h"

#include "../file/AudioFileTestSupport.h"
#include "audio/format/NSXException.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
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

// The direction flips while the worker refills: each refill must be read and
// positioned in one direction. A forward block c..c+4095 leaves the reader at
// c+4096, a backward one c-1 down to c-4096 at c-4096; the next block starts
// there.
TEST_F(AudioFileReader, EachRefillKeepsOneDirection) {
    const int64_t frames = 600000;
    file = VELKExtendedAudioFile::forPlayback(countingFile(folder, frames, "long.m4a"));
    reader = std::make_unique<VELKAudioFileReader>(3, 4096, *file->streamDescription(), file);
    reader->setCurrentFrame(frames / 2);
    reader->start();
    std::atomic<int64_t> position{frames / 2};
    std::atomic<bool> done{false};
    std::thread flipper([&] { // flips at random, but keeps away from the file's ends
        while (!done.load()) {
            const int64_t at = position.load();
            reader->setReverse(at < frames / 4       ? false
                               : at > frames * 3 / 4 ? true
                                                     : !reader->reverse());
            std::this_thread::sleep_for(std::chrono::microseconds(150));
        }
    });
    std::string fault;
    int64_t at = frames / 2;
    for (int block = 0; block < 400 && fault.empty(); ++block) {
        const std::vector<int64_t> heard = pull(*reader, 4096, 4096);
        if (heard.size() != 4096) {
            fault = "block " + std::to_string(block) + " is short";
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

#include "AudioServerTools.h"
#include "audio/file/VELKExtendedAudioFile.h"
#include "audio/format/NSXException.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "audio/recorder/VELKExtendedAudioFileRecorder.h"
#include "platform/audio/AudioHardwareService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// These tests point the process at servers of their own before its first
// connection, so they do not touch the shared test server.

namespace {

namespace fs = std::filesystem;

// A PulseAudio server with one null sink, on a socket of its own.
class OwnServer {
public:
    explicit OwnServer(const std::string& moreConfiguration = {})
        : mFolder(fs::temp_directory_path() / ("cassora-own-" + std::to_string(getpid()))) {
        fs::create_directories(mFolder);
        std::ofstream(mFolder / "server.pa")
            << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket()
            << "\nload-module module-null-sink sink_name=own_sink\n"
            << moreConfiguration;
    }
    ~OwnServer() {
        stop();
        fs::remove_all(mFolder);
    }

    std::string socket() const { return (mFolder / "native").string(); }

    void start() {
        mPid = fork();
        if (mPid == 0) {
            const std::string folder = mFolder.string();
            setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
            setenv("PULSE_RUNTIME_PATH", folder.c_str(), 1);
            setenv("PULSE_STATE_PATH", folder.c_str(), 1);
            const std::string file = "--file=" + (mFolder / "server.pa").string();
            execlp("pulseaudio", "pulseaudio", "-n", file.c_str(), "--daemonize=no",
                   "--exit-idle-time=-1", "--use-pid-file=no", "--realtime=no",
                   "--high-priority=no", "--log-target=stderr", "--log-level=error", nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100 && !fs::exists(socket()); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(fs::exists(socket())) << "the test's own server did not start";
    }

    void stop() {
        if (mPid > 0) {
            kill(mPid, SIGTERM);
            waitpid(mPid, nullptr, 0);
            mPid = -1;
            fs::remove(socket());
        }
    }

private:
    fs::path mFolder;
    pid_t mPid = -1;
};

std::vector<AudioDeviceID> deviceIDs() {
    const AudioObjectPropertyAddress address{kAudioHardwarePropertyDevices,
                                             kAudioObjectPropertyScopeGlobal, 0};
    std::vector<AudioDeviceID> ids(64);
    uint32_t size = static_cast<uint32_t>(ids.size() * sizeof(AudioDeviceID));
    if (AudioObjectGetPropertyData(kAudioObjectSystemObject, &address, 0, nullptr, &size,
                                   ids.data()) != 0) {
        return {};
    }
    ids.resize(size / sizeof(AudioDeviceID));
    return ids;
}

template <typename Condition>
bool waitFor(Condition condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::atomic<int> gDeviceListNotices{0};

OSStatus countDeviceListNotices(AudioObjectID, uint32_t, const AudioObjectPropertyAddress*, void*) {
    ++gDeviceListNotices;
    return 0;
}

TEST(PulseHardware, NoServerIsAClearErrorNotAHang) {
    setenv("PULSE_SERVER", "unix:/nonexistent/cassora/native", 1);
    const auto started = std::chrono::steady_clock::now();
    AudioDeviceID device = 0;
    uint32_t size = sizeof(device);
    const AudioObjectPropertyAddress address{kAudioHardwarePropertyDefaultInputDevice,
                                             kAudioObjectPropertyScopeGlobal, 0};
    EXPECT_EQ(
        AudioObjectGetPropertyData(kAudioObjectSystemObject, &address, 0, nullptr, &size, &device),
        kAudioHardwareNotRunningError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
    EXPECT_NE(AudioHardwareStatusDescription(kAudioHardwareNotRunningError)
                  .find("unix:/nonexistent/cassora/native"),
              std::string::npos);
    EXPECT_THROW(VELKAudioHardware::sharedInstance(), NSXException);
}

TEST(PulseHardware, ReconnectsWhenTheServerComesBack) {
    OwnServer server;
    server.start();
    setenv("PULSE_SERVER", ("unix:" + server.socket()).c_str(), 1);
    ASSERT_EQ(deviceIDs().size(), 2u) << "the sink and its monitor";
    const AudioDeviceID sink = deviceIDs().front();

    const AudioObjectPropertyAddress devices{kAudioHardwarePropertyDevices,
                                             kAudioObjectPropertyScopeGlobal, 0};
    ASSERT_EQ(AudioObjectAddPropertyListener(kAudioObjectSystemObject, &devices,
                                             countDeviceListNotices, nullptr),
              0);

    server.stop();
    EXPECT_TRUE(waitFor([] { return gDeviceListNotices > 0; }, 5.0));
    EXPECT_TRUE(deviceIDs().empty());

    const int noticesWhileDown = gDeviceListNotices;
    server.start();
    EXPECT_TRUE(waitFor([&] { return gDeviceListNotices > noticesWhileDown; }, 10.0));
    ASSERT_EQ(deviceIDs().size(), 2u);
    EXPECT_EQ(deviceIDs().front(), sink) << "a device keeps its ID for the life of the process";

    EXPECT_EQ(AudioObjectRemovePropertyListener(kAudioObjectSystemObject, &devices,
                                                countDeviceListNotices, nullptr),
              0);
}

class RecorderWatch : public VELKExtendedAudioFileRecorderDelegate {
public:
    std::string failure;
    bool stopped = false;
    void audioFileRecorderDidFail(VELKExtendedAudioFileRecorder*, const std::string& why) override {
        failure = why;
    }
    void audioFileRecorderDidStop(VELKExtendedAudioFileRecorder*) override { stopped = true; }
};

// Records from the server's tone until `enough` frames came in.
std::shared_ptr<VELKExtendedAudioFileRecorder> startRecording(const std::string& path,
                                                              RecorderWatch& watch,
                                                              std::shared_ptr<VELKExtendedAudioFile>* file) {
    auto device = VELKAudioDevice::withDeviceUID("own_sink.monitor");
    if (!device) {
        ADD_FAILURE() << "no monitor device";
        return nullptr;
    }
    auto description = VELKAudioStreamBasicDescription::aacStreamDescription();
    description->setChannelsPerFrame(2);
    description->setSampleRate(44100);
    *file = VELKExtendedAudioFile::forRecording(path, description, 128000, device);
    auto recorder = VELKExtendedAudioFileRecorder::withFile(*file, device);
    recorder->setDelegate(&watch);
    recorder->startRecording();
    return recorder;
}

// The server dies in the middle of a recording: the recording stops by
// itself, keeps what was captured, and once the server is back the next
// recording works in the same process.
TEST(PulseHardware, RecordingSurvivesTheServerGoingAndTheNextOneWorks) {
    OwnServer server("load-module module-sine sink=own_sink frequency=440\n");
    server.start();
    setenv("PULSE_SERVER", ("unix:" + server.socket()).c_str(), 1);
    const fs::path folder = fs::temp_directory_path() / ("cassora-restart-" + std::to_string(getpid()));
    fs::create_directories(folder);

    RecorderWatch first;
    std::shared_ptr<VELKExtendedAudioFile> firstFile;
    auto recorder = startRecording((folder / "first.m4a").string(), first, &firstFile);
    ASSERT_TRUE(recorder);
    ASSERT_TRUE(AudioServerTools::pumpUntil([&] { return recorder->currentTime() > 1500.0; }, 8.0));
    server.stop();
    EXPECT_TRUE(AudioServerTools::pumpUntil([&] { return !first.failure.empty(); }, 2.0))
        << "the recorder did not notice that the server went away";
    EXPECT_TRUE(AudioServerTools::pumpUntil([&] { return first.stopped; }, 1.0));
    const int64_t captured = recorder->currentFrame();
    recorder.reset();
    firstFile->closeFile();
    const auto kept = VELKExtendedAudioFile::forPlayback((folder / "first.m4a").string());
    EXPECT_NEAR(kept->frameCount(), captured, 2048) << "what was captured is in the file";

    server.start();
    ASSERT_TRUE(waitFor([] { return deviceIDs().size() == 2u; }, 10.0));
    RecorderWatch second;
    std::shared_ptr<VELKExtendedAudioFile> secondFile;
    recorder = startRecording((folder / "second.m4a").string(), second, &secondFile);
    ASSERT_TRUE(recorder);
    EXPECT_TRUE(AudioServerTools::pumpUntil([&] { return recorder->currentTime() > 500.0; }, 8.0));
    EXPECT_TRUE(second.failure.empty()) << second.failure;
    recorder->stopRecording();
    recorder.reset();
    secondFile->closeFile();
    EXPECT_GT(VELKExtendedAudioFile::forPlayback((folder / "second.m4a").string())->frameCount(),
              22050);
    fs::remove_all(folder);
}

} // namespace

#include "app/monitoring/CassoraSoftwarePlayThroughManager.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "platform/desktop/UserDefaults.h"

#include "AudioServerTools.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

// The monitoring settings drive the play-through on the private server.

namespace {

bool settle(const std::function<bool()>& done, int milliseconds = 8000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

AudioDeviceID idOf(const std::string& uid) {
    AudioDeviceID id = 0;
    settle([&] { return (id = VELKAudioHardware::deviceIDForDeviceUID(uid)) != 0; }, 3000);
    return id;
}

class Monitoring : public ::testing::Test {
protected:
    QTemporaryDir folder;
    UserDefaults defaults{
        std::make_unique<QSettings>(folder.filePath("Cassora.conf"), QSettings::IniFormat)};
    std::vector<std::string> modules;

    void SetUp() override {
        defaults.registerDefaults({{"EnableSoftwarePlaythrough", false},
                                   {"RecordDeviceChannels", QVariantList{0, 1}}});
    }
    void TearDown() override {
        for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
            std::system(("pactl unload-module " + *it + " >/dev/null 2>&1").c_str());
        }
    }
    std::string load(const std::string& arguments) {
        modules.push_back(AudioServerTools::run("pactl load-module " + arguments));
        return modules.back();
    }
};

} // namespace

TEST_F(Monitoring, LeftOnItStartsWithTheManager) {
    defaults.setValue("EnableSoftwarePlaythrough", true);
    defaults.setValue("RecordDeviceChannels", QVariantList{0});
    CassoraSoftwarePlayThroughManager manager(defaults);
    const auto state = manager.snapshot();
    EXPECT_TRUE(state.running);
    EXPECT_EQ(state.input, VELKAudioHardware::defaultInputDeviceID());
    EXPECT_EQ(state.output, VELKAudioHardware::defaultOutputDeviceID());
    EXPECT_TRUE(settle([&] { return manager.isMonitoring(); }));
}

TEST_F(Monitoring, FollowsTheSwitchTheChannelsAndTheDevices) {
    load("module-null-sink sink_name=pt_four format=float32le rate=48000 channels=4");
    load("module-null-sink sink_name=pt_other format=float32le rate=48000 channels=2");
    const AudioDeviceID four = idOf("pt_four.monitor");
    const AudioDeviceID other = idOf("pt_other");
    ASSERT_NE(four, 0u);
    ASSERT_NE(other, 0u);
    defaults.setValue("RecordDeviceUID", "pt_four.monitor");
    CassoraSoftwarePlayThroughManager manager(defaults);
    EXPECT_EQ(manager.snapshot().builds, 0u) << "off: nothing is built";

    // Changing the playback device while off builds nothing.
    defaults.setValue("PlaybackDeviceUID", "pt_other");
    EXPECT_EQ(manager.snapshot().builds, 0u);

    defaults.setValue("EnableSoftwarePlaythrough", true);
    auto state = manager.snapshot();
    EXPECT_TRUE(state.running);
    EXPECT_EQ(state.input, four);
    EXPECT_EQ(state.output, other);

    // Channels 3-4.
    const uint64_t before = state.builds;
    defaults.setValue("RecordDeviceChannels", QVariantList{2, 3});
    state = manager.snapshot();
    EXPECT_GT(state.builds, before);
    EXPECT_TRUE(state.running);
    ASSERT_TRUE(state.channels);
    EXPECT_EQ(*state.channels, (std::vector<int32_t>{2, 3}));

    defaults.setValue("EnableSoftwarePlaythrough", false);
    state = manager.snapshot();
    EXPECT_FALSE(state.exists) << "turned off, the play-through is gone";
    EXPECT_TRUE(settle([&] { return !manager.isMonitoring(); }));

    // On again: a new one from the settings as they are now.
    defaults.setValue("PlaybackDeviceUID", QString());
    defaults.setValue("EnableSoftwarePlaythrough", true);
    state = manager.snapshot();
    EXPECT_TRUE(state.running);
    EXPECT_EQ(state.output, VELKAudioHardware::defaultOutputDeviceID());
}

TEST_F(Monitoring, APlaybackDeviceThatGoesAwayFallsBackToTheDefault) {
    const std::string sink =
        load("module-null-sink sink_name=pt_unplugged format=float32le rate=48000 channels=2");
    const AudioDeviceID unplugged = idOf("pt_unplugged");
    ASSERT_NE(unplugged, 0u);
    defaults.setValue("PlaybackDeviceUID", "pt_unplugged");
    defaults.setValue("RecordDeviceChannels", QVariantList{0});
    defaults.setValue("EnableSoftwarePlaythrough", true);
    CassoraSoftwarePlayThroughManager manager(defaults);
    ASSERT_EQ(manager.snapshot().output, unplugged);

    AudioServerTools::run("pactl unload-module " + sink);
    modules.pop_back();
    const AudioDeviceID fallback = VELKAudioHardware::defaultOutputDeviceID();
    EXPECT_TRUE(settle([&] {
        const auto state = manager.snapshot();
        return state.running && state.output == fallback;
    })) << "monitoring did not come back on the default output";
}

TEST_F(Monitoring, ABadChannelListIsNotHandedToTheDevice) {
    defaults.setValue("RecordDeviceChannels", QVariantList{"left", -1, 0});
    CassoraSoftwarePlayThroughManager manager(defaults);
    ASSERT_TRUE(manager.recordDeviceChannels());
    EXPECT_EQ(*manager.recordDeviceChannels(), std::vector<int32_t>{0});
    defaults.setValue("EnableSoftwarePlaythrough", true);
    EXPECT_TRUE(manager.snapshot().running);
}

// A playback device that cannot play (here a recording device named in its
// place, as a hand-edited setting may): the user is told why, once, however
// often the devices change meanwhile, and the reason goes when monitoring
// runs.
TEST_F(Monitoring, SaysOnceWhyItCannotStartAndForgetsItOnceItRuns) {
    defaults.setValue("PlaybackDeviceUID", "cassora_sine");
    CassoraSoftwarePlayThroughManager manager(defaults);
    QStringList reasons;
    QObject::connect(&manager, &CassoraSoftwarePlayThroughManager::failureChanged,
                     [&](const QString& reason) { reasons << reason; });
    defaults.setValue("EnableSoftwarePlaythrough", true);
    ASSERT_TRUE(settle([&] { return !reasons.isEmpty(); }));
    EXPECT_FALSE(manager.isMonitoring());
    EXPECT_TRUE(reasons.first().contains("playback device")) << reasons.first().toStdString();
    EXPECT_EQ(manager.failure(), reasons.first());

    // Devices come and go: monitoring is tried again, and said no more.
    load("module-null-sink sink_name=pt_extra format=float32le rate=48000 channels=2");
    ASSERT_NE(idOf("pt_extra"), 0u);
    manager.waitUntilSettled();
    settle([] { return false; }, 500);
    EXPECT_EQ(reasons.size(), 1) << reasons.join(" | ").toStdString();

    defaults.setValue("PlaybackDeviceUID", "pt_extra");
    EXPECT_TRUE(settle([&] { return manager.isMonitoring(); }));
    EXPECT_TRUE(settle([&] { return manager.failure().isEmpty(); }));
    EXPECT_EQ(reasons.size(), 2);
    EXPECT_TRUE(reasons.last().isEmpty());
}

// A one-channel microphone recorded "in stereo" (channels 1 and 2, the
// deck's default) is monitored.
TEST_F(Monitoring, AMonoMicrophoneIsMonitored) {
    load("module-null-sink sink_name=pt_mono format=float32le rate=48000 channels=1");
    ASSERT_NE(idOf("pt_mono.monitor"), 0u);
    defaults.setValue("RecordDeviceUID", "pt_mono.monitor");
    defaults.setValue("RecordDeviceChannels", QVariantList{0, 1});
    defaults.setValue("EnableSoftwarePlaythrough", true);
    CassoraSoftwarePlayThroughManager manager(defaults);
    EXPECT_TRUE(manager.snapshot().running);
    EXPECT_TRUE(settle([&] { return manager.isMonitoring(); }));
    EXPECT_TRUE(manager.failure().isEmpty()) << manager.failure().toStdString();
}

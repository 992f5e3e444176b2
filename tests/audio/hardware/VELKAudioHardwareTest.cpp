#include "audio/hardware/VELKAudioHardware.h"

#include "AudioServerTools.h"
#include "audio/format/NSXException.h"
#include "platform/audio/MainQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

// These tests run against the private server of the test command: a stereo
// null sink "cassora_null" (with its monitor) and a mono sine source
// "cassora_sine", both at 48 kHz.

namespace {

using AudioServerTools::pumpFor;
using AudioServerTools::pumpUntil;
using AudioServerTools::run;

std::vector<std::string> uidsOf(const std::vector<std::shared_ptr<VELKAudioDevice>>& devices) {
    std::vector<std::string> uids;
    for (const auto& device : devices) {
        uids.push_back(device->deviceUID());
    }
    return uids;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(AudioDevices, TheServersDevicesWithTheirChannelsAndRates) {
    const auto sink = VELKAudioDevice::withDeviceUID("cassora_null");
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(sink->deviceName(), "Cassora Null Output");
    EXPECT_EQ(sink->numberOfPlaybackChannels(), 2u);
    EXPECT_EQ(sink->numberOfRecordChannels(), 0u);
    EXPECT_EQ(sink->sampleRateForDirection(kVELKAudioDirectionOutput), 48000.0);

    const auto sine = VELKAudioDevice::withDeviceUID("cassora_sine");
    ASSERT_NE(sine, nullptr);
    EXPECT_EQ(sine->numberOfRecordChannels(), 1u);
    EXPECT_EQ(sine->numberOfPlaybackChannels(), 0u);
    EXPECT_FALSE(sine->canRecordStereo());

    const auto monitor = VELKAudioDevice::withDeviceUID("cassora_null.monitor");
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(monitor->canRecordStereo());

    const auto format = sine->deviceNativeRecordStreamDescription();
    EXPECT_EQ(format->channelsPerFrame(), 1u);
    EXPECT_EQ(format->sampleRate(), 48000.0);
    EXPECT_EQ(format->formatFlags(), 41u);

    EXPECT_EQ(VELKAudioHardware::defaultInputDevice()->deviceUID(), "cassora_sine");
    EXPECT_EQ(VELKAudioHardware::defaultOutputDevice()->deviceUID(), "cassora_null");
    EXPECT_EQ(VELKAudioHardware::systemOutputDeviceID(), sink->deviceID());
}

TEST(AudioDevices, ListsFilterByDirection) {
    const auto all = uidsOf(VELKAudioHardware::allDevices());
    const auto playback = uidsOf(VELKAudioHardware::playbackDevices());
    const auto recording = uidsOf(VELKAudioHardware::recordingDevices());
    const auto stereo = uidsOf(VELKAudioHardware::stereoRecordingDevices());
    EXPECT_EQ(all.size(), VELKAudioHardware::allDeviceIDs().size());
    EXPECT_TRUE(contains(playback, "cassora_null"));
    EXPECT_FALSE(contains(playback, "cassora_sine"));
    EXPECT_TRUE(contains(recording, "cassora_sine"));
    EXPECT_TRUE(contains(recording, "cassora_null.monitor"));
    EXPECT_FALSE(contains(recording, "cassora_null"));
    EXPECT_TRUE(contains(stereo, "cassora_null.monitor"));
    EXPECT_FALSE(contains(stereo, "cassora_sine")) << "a mono source cannot record stereo";

    // Filtering keeps the system's order.
    std::vector<std::string> expected;
    std::copy_if(all.begin(), all.end(), std::back_inserter(expected),
                 [&](const std::string& uid) { return contains(recording, uid); });
    EXPECT_EQ(recording, expected);
}

TEST(AudioDevices, UnknownUIDsAndEquality) {
    EXPECT_EQ(VELKAudioHardware::deviceIDForDeviceUID("no-such-device"), 0u);
    EXPECT_EQ(VELKAudioDevice::withDeviceUID("no-such-device"), nullptr);
    EXPECT_EQ(VELKAudioDevice::withDeviceUID(""), nullptr);

    const auto a = VELKAudioDevice::withDeviceUID("cassora_sine");
    const auto b = VELKAudioDevice::withDeviceID(a->deviceID());
    EXPECT_TRUE(*a == *b);
    EXPECT_FALSE(*a == *VELKAudioDevice::withDeviceUID("cassora_null"));
}

TEST(AudioDevices, AVanishedDeviceRaisesTheEnginesError) {
    const VELKAudioDevice gone(0x7FFFFFF0);
    try {
        gone.deviceUID();
        FAIL() << "no exception";
    } catch (const NSXException& exception) {
        EXPECT_EQ(exception.name(), "NSXError");
        EXPECT_EQ(exception.error().stringDetail("reportingFile"), "VELKAudioDevice");
        EXPECT_EQ(exception.error().code(), kAudioHardwareBadObjectError);
    }
}

// Writes down every notice with the thread it arrived on.
class NoticeLog : public VELKAudioHardwareDelegate {
public:
    struct Entry {
        std::string delegate;
        std::string notice;
        std::thread::id thread;
        AudioDeviceID watchedInput; // the device whose rate was watched then
    };

    NoticeLog(std::string label, std::vector<Entry>& log) : mLabel(std::move(label)), mLog(log) {}
    void defaultInputDeviceDidChange() override { note("defaultInputDeviceDidChange"); }
    void deviceListDidChange() override { note("deviceListDidChange"); }
    void defaultInputDeviceSampleRateDidChange() override {
        note("defaultInputDeviceSampleRateDidChange");
    }

private:
    void note(const std::string& notice) {
        mLog.push_back({mLabel, notice, std::this_thread::get_id(),
                        VELKAudioHardware::sharedInstance().watchedInputDevice()});
    }
    std::string mLabel;
    std::vector<Entry>& mLog;
};

class HardwareNotices : public ::testing::Test {
protected:
    std::vector<NoticeLog::Entry> log;
    NoticeLog first{"first", log};
    NoticeLog second{"second", log};
    VELKAudioHardware& hardware = VELKAudioHardware::sharedInstance();
    std::vector<std::string> modules;

    void SetUp() override {
        hardware.addDelegate(&first);
        hardware.addDelegate(&second);
        hardware.addDelegate(&first);
    }

    void TearDown() override {
        hardware.removeDelegate(&first);
        hardware.removeDelegate(&second);
        run("pactl set-default-source cassora_sine");
        for (const auto& module : modules) {
            run("pactl unload-module " + module);
        }
    }

    void loadNullSink(const std::string& name) {
        modules.push_back(
            run("pactl load-module module-null-sink sink_name=" + name + " rate=48000 channels=2"));
    }

    size_t count(const std::string& notice) const {
        return std::count_if(log.begin(), log.end(),
                             [&](const NoticeLog::Entry& e) { return e.notice == notice; });
    }

    // Each notice reaches first, second and first again, on this thread.
    void expectDeliveredInOrder(const std::string& notice) {
        std::vector<std::string> order;
        for (const auto& entry : log) {
            if (entry.notice == notice) {
                order.push_back(entry.delegate);
                EXPECT_EQ(entry.thread, std::this_thread::get_id());
            }
        }
        ASSERT_FALSE(order.empty());
        ASSERT_EQ(order.size() % 3, 0u);
        for (size_t i = 0; i < order.size(); i += 3) {
            EXPECT_EQ(order[i], "first");
            EXPECT_EQ(order[i + 1], "second");
            EXPECT_EQ(order[i + 2], "first");
        }
    }
};

TEST_F(HardwareNotices, NewDeviceChangesTheList) {
    loadNullSink("cassora_probe_list");
    ASSERT_TRUE(pumpUntil([&] { return count("deviceListDidChange") >= 3; }));
    expectDeliveredInOrder("deviceListDidChange");
    EXPECT_NE(VELKAudioHardware::deviceIDForDeviceUID("cassora_probe_list"), 0u);

    const auto before = count("deviceListDidChange");
    run("pactl unload-module " + modules.back());
    modules.pop_back();
    ASSERT_TRUE(pumpUntil([&] { return count("deviceListDidChange") > before; }));
    pumpUntil([] { return VELKAudioHardware::deviceIDForDeviceUID("cassora_probe_list") == 0; });
    EXPECT_EQ(VELKAudioHardware::deviceIDForDeviceUID("cassora_probe_list"), 0u);
}

TEST_F(HardwareNotices, NewDefaultInputMovesTheRateWatch) {
    const AudioDeviceID monitor = VELKAudioHardware::deviceIDForDeviceUID("cassora_null.monitor");
    EXPECT_EQ(hardware.watchedInputDevice(),
              VELKAudioHardware::deviceIDForDeviceUID("cassora_sine"));
    log.clear();
    run("pactl set-default-source cassora_null.monitor");
    ASSERT_TRUE(pumpUntil([&] { return count("defaultInputDeviceDidChange") >= 3; }));
    expectDeliveredInOrder("defaultInputDeviceDidChange");
    for (const auto& entry : log) {
        EXPECT_NE(entry.watchedInput, monitor)
            << "delegates hear of the change before the watch moves";
    }
    EXPECT_EQ(hardware.watchedInputDevice(), monitor);
    EXPECT_EQ(VELKAudioHardware::defaultInputDeviceID(), monitor);
}

TEST_F(HardwareNotices, DefaultInputRateChange) {
    loadNullSink("cassora_probe_rate");
    run("pactl set-default-source cassora_probe_rate.monitor");
    ASSERT_TRUE(pumpUntil([&] {
        return hardware.watchedInputDevice() ==
               VELKAudioHardware::deviceIDForDeviceUID("cassora_probe_rate.monitor");
    }));
    log.clear();
    // The idle sink (and its monitor) takes the rate of what starts playing.
    run("sox -q -n -r 96000 -c 2 -b 16 -t wav - synth 1 sine 440 | "
        "paplay --device=cassora_probe_rate");
    ASSERT_TRUE(pumpUntil([&] { return count("defaultInputDeviceSampleRateDidChange") >= 3; }));
    expectDeliveredInOrder("defaultInputDeviceSampleRateDidChange");
    EXPECT_EQ(
        VELKAudioHardware::defaultInputDevice()->sampleRateForDirection(kVELKAudioDirectionInput),
        96000.0);
}

TEST_F(HardwareNotices, RemovingADelegateRemovesEveryOccurrence) {
    hardware.removeDelegate(&first);
    hardware.notifyDelegatesWithSelectorString("deviceListDidChange");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].delegate, "second");
}

TEST_F(HardwareNotices, ADelegateRemovedDuringANoticeHearsNoMore) {
    class Remover : public VELKAudioHardwareDelegate {
    public:
        VELKAudioHardware* hardware = nullptr;
        VELKAudioHardwareDelegate* victim = nullptr;
        void defaultInputDeviceDidChange() override {}
        void deviceListDidChange() override { hardware->removeDelegate(victim); }
        void defaultInputDeviceSampleRateDidChange() override {}
    } remover;
    remover.hardware = &hardware;
    remover.victim = &second;
    hardware.removeDelegate(&first);
    hardware.removeDelegate(&second);
    hardware.addDelegate(&remover);
    hardware.addDelegate(&second);
    hardware.notifyDelegatesWithSelectorString("deviceListDidChange");
    EXPECT_TRUE(log.empty());
    hardware.removeDelegate(&remover);
}

} // namespace

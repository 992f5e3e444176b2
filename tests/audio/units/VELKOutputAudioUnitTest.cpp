#include "audio/units/VELKOutputAudioUnit.h"
#include "audio/units/VELKInputAudioUnit.h"

#include "audio/format/NSXException.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>

namespace {

// Lets the process map at most `headroom` bytes more than it has now. A new
// thread's stack is mapped when it starts, so no thread can start after this.
void limitAddressSpace(rlim_t headroom) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmSize:", 0) == 0) {
            const rlim_t used = std::strtoull(line.c_str() + 7, nullptr, 10) * 1024;
            const rlimit limit{used + headroom, used + headroom};
            setrlimit(RLIMIT_AS, &limit);
            return;
        }
    }
}

// Exits 0 when creation fails with the engine's exception for the worker.
void createWithoutRoomForTheNotificationWorker(const std::shared_ptr<VELKAudioDevice>& sink) {
    const auto format = VELKAudioStreamBasicDescription::clientStreamDescription(2, 48000);
    // A unit of another kind first, so that the audio layer has started its
    // own threads (and no worker's stack is left over for reuse).
    std::make_unique<VELKInputAudioUnit>(VELKAudioDevice::withDeviceUID("cassora_sine")).reset();
    limitAddressSpace(2 << 20);
    try {
        VELKOutputAudioUnit unit(format, sink);
        unit.start();
        unit.stop();
        std::_Exit(1);
    } catch (const NSXException& exception) {
        const std::string origin = exception.error().stringDetail(NSXOriginKey);
        std::_Exit(origin.find("SAudioNotificationQueueWorkerCreate") != std::string::npos ? 0 : 2);
    }
}

TEST(OutputUnitDeathTest, NotificationWorkerThatCannotStartFailsCreation) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto sink = VELKAudioDevice::withDeviceUID("cassora_null");
    ASSERT_NE(sink, nullptr);
    EXPECT_EXIT(createWithoutRoomForTheNotificationWorker(sink), testing::ExitedWithCode(0), "");
}

} // namespace

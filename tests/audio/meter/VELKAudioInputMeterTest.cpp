#include "audio/meter/VELKAudioInputMeter.h"

#include "audio/format/NSXException.h"

#include <gtest/gtest.h>

// Against the private test server. The deck logs a meter that cannot be made
// and works on without it, so creation must fail with the engine's exception.

namespace {

TEST(InputMeter, MissingOrUnfitDeviceFailsCreation) {
    try {
        VELKAudioInputMeter meter(nullptr);
        FAIL() << "a meter without a device";
    } catch (const NSXException& exception) {
        EXPECT_NE(exception.reason().find("no input device"), std::string::npos)
            << exception.reason();
    }
    const auto sink = VELKAudioDevice::withDeviceUID("cassora_null");
    ASSERT_NE(sink, nullptr);
    ASSERT_EQ(sink->numberOfRecordChannels(), 0u);
    EXPECT_THROW(VELKAudioInputMeter meter(sink), NSXException) << "an output cannot be metered";
}

} // namespace

#pragma once

#include "audio/hardware/VELKAudioDevice.h"
#include "audio/realtime/VELKAudioBuffer.h"
#include "audio/units/VELKAudioUnit.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Called on the I/O thread with each captured slice: flags, time stamp, bus,
// frame count and the capture buffer list. It must not allocate, lock or block.
using VELKInputProcessingBlock =
    std::function<void(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                       uint32_t bus, uint32_t frames, AudioBufferList* data)>;

// Captures from an input device, optionally choosing which device channels
// (zero-based) feed the stream's channels, and hands every slice to the
// installed processing block.
class VELKInputAudioUnit : public VELKAudioUnit {
public:
    VELKInputAudioUnit(std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription,
                       std::shared_ptr<VELKAudioDevice> device,
                       std::optional<std::vector<int32_t>> channels = std::nullopt);
    // With the device's own client format.
    VELKInputAudioUnit(std::shared_ptr<VELKAudioDevice> device,
                       std::optional<std::vector<int32_t>> channels = std::nullopt);
    ~VELKInputAudioUnit() override;

    void audioUnitInitialize() override;
    void audioUnitUninitialize() override;

    std::shared_ptr<VELKAudioDevice> device() const { return mDevice; }
    const std::optional<std::vector<int32_t>>& channels() const { return mChannels; }
    VELKAudioBuffer* inputAudioBuffer() const { return mInputAudioBuffer.get(); }
    // How long the server may gather audio before it wakes the unit (the
    // slices handed to the block stay as small as the device's buffer).
    // Longer saves wake-ups where latency does not matter. Set while stopped.
    void setWakeInterval(double seconds);
    // The frames the server gathers before it wakes the unit: as asked while
    // stopped, as the server granted them while running.
    uint32_t wakeFrames() const;
    // Set while the unit is stopped.
    void setInputProcessingBlock(VELKInputProcessingBlock block) {
        mInputProcessingBlock = std::move(block);
    }

private:
    static OSStatus IAUInputProc(void* refCon, AudioUnitRenderActionFlags* flags,
                                 const AudioTimeStamp* timeStamp, uint32_t bus, uint32_t frames,
                                 AudioBufferList* data);

    std::shared_ptr<VELKAudioDevice> mDevice;
    std::optional<std::vector<int32_t>> mChannels;
    std::unique_ptr<VELKAudioBuffer> mInputAudioBuffer;
    VELKInputProcessingBlock mInputProcessingBlock;
};

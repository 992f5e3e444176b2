#pragma once

#include "audio/format/VELKAudioStreamBasicDescription.h"
#include "platform/audio/AudioUnitTypes.h"

#include <memory>

extern const char* const kAudioUnitDidStartNotification; // "AudioUnitDidStartNotification"
extern const char* const kAudioUnitDidStopNotification;  // "AudioUnitDidStopNotification"

class VELKAudioUnit;

// Told when a unit starts or stops, on the audio-unit service's thread.
class VELKAudioUnitDelegate {
public:
    virtual ~VELKAudioUnitDelegate() = default;
    virtual void audioUnitDidStart(VELKAudioUnit*) {}
    virtual void audioUnitDidStop(VELKAudioUnit*) {}
};

// A platform audio unit with the engine's client format. Failed platform
// calls raise NSXException.
class VELKAudioUnit {
public:
    explicit VELKAudioUnit(std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription);
    virtual ~VELKAudioUnit();
    VELKAudioUnit(const VELKAudioUnit&) = delete;
    VELKAudioUnit& operator=(const VELKAudioUnit&) = delete;

    virtual void start();
    virtual void stop();
    bool isRunning() const;
    void installPropertyListener();
    void setProperty(uint32_t property, uint32_t scope, uint32_t element, const void* data,
                     uint32_t size);
    virtual void audioUnitInitialize();
    virtual void audioUnitUninitialize();

    // Opens the default output component; the arguments are not consulted.
    static AudioUnit openDefaultComponentType(uint32_t type, uint32_t subType);

    AudioUnit audioUnit() const { return mAudioUnit; }
    std::shared_ptr<VELKAudioStreamBasicDescription> streamDescription() const {
        return mStreamDescription;
    }
    VELKAudioUnitDelegate* delegate() const { return mDelegate; }
    void setDelegate(VELKAudioUnitDelegate* delegate) { mDelegate = delegate; }

protected:
    AudioUnit mAudioUnit = nullptr;
    std::shared_ptr<VELKAudioStreamBasicDescription> mStreamDescription;
    VELKAudioUnitDelegate* mDelegate = nullptr;
    bool mListening = false;

private:
    static void AUPropertyListenerProc(void* refCon, AudioUnit unit, uint32_t property,
                                       uint32_t scope, uint32_t element);
};

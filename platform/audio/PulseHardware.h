#pragma once

#include "platform/audio/AudioHardwareTypes.h"
#include "platform/audio/SerialQueue.h"

#include <pulse/pulseaudio.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One device of the hardware layer: a PulseAudio sink (output) or source
// (input, monitor sources included).
struct PulseDevice {
    AudioDeviceID id = 0;
    bool isOutput = false;
    uint32_t paIndex = PA_INVALID_INDEX;
    std::string name;        // the UID
    std::string description; // the name shown to people
    uint32_t channels = 0;
    double sampleRate = 0.0;
    pa_sample_format_t sampleFormat = PA_SAMPLE_INVALID;
    pa_channel_map channelMap{};
    uint32_t latencyFrames = 0; // what the server reports for the device itself
    uint32_t bufferFrameSize = 512;
    bool isMonitor = false;
};

// The process-wide connection to the PulseAudio server, made on first use.
// It keeps a snapshot of the server's devices and default devices, updated
// from the server's change events, and tells property listeners about
// changes on a notification thread of its own. When the server goes away the
// snapshot empties and the connection is retried every second.
class PulseHardware {
public:
    static PulseHardware& shared();

    // Connects when not connected, waiting for the first snapshot.
    // kAudioHardwareNotRunningError when no server answers.
    OSStatus connect();
    bool isConnected() const;
    // The server this process talks to, as PulseAudio names it.
    std::string serverName() const;
    // Why the last connection attempt failed.
    std::string lastError() const;

    std::vector<PulseDevice> devices() const;
    std::optional<PulseDevice> device(AudioDeviceID id) const;
    AudioDeviceID deviceIDForName(const std::string& name) const;
    AudioDeviceID defaultInputDevice() const;
    AudioDeviceID defaultOutputDevice() const;
    OSStatus setBufferFrameSize(AudioDeviceID id, uint32_t frames);

    OSStatus addListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                         AudioObjectPropertyListenerProc proc, void* clientData);
    // When this returns, the listener is not running and will not run again.
    OSStatus removeListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                            AudioObjectPropertyListenerProc proc, void* clientData);

    // Real-time priorities (SCHED_FIFO) where the system grants them: the
    // I/O thread above the workers it wakes.
    static constexpr int kIOThreadPriority = 20;
    static constexpr int kWorkerThreadPriority = 10;

    // For the I/O streams: the server's main loop and context. Use the
    // context only while holding the loop's lock.
    pa_threaded_mainloop* mainloop() const { return mMainloop; }
    pa_context* context() const { return mContext; }

private:
    enum class State { Disconnected, Connecting, Loading, Ready, Failed };

    struct Listener {
        AudioObjectID object;
        AudioObjectPropertyAddress address;
        AudioObjectPropertyListenerProc proc;
        void* clientData;
    };

    PulseHardware();
    void raiseIOThreadPriority();

    // All of these run with the main loop's lock held.
    void startConnectingLocked();
    void dropContextLocked();
    void loadSnapshotLocked();
    void finishLoadLocked();
    void connectionLostLocked();
    void scheduleReconnectLocked();
    static void contextStateChanged(pa_context* context, void* self);
    static void subscriptionEvent(pa_context* context, pa_subscription_event_type_t type,
                                  uint32_t index, void* self);
    static void serverInfoArrived(pa_context* context, const pa_server_info* info, void* self);
    static void sinkInfoArrived(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void sourceInfoArrived(pa_context* context, const pa_source_info* info, int eol,
                                  void* self);
    static void reconnectTimerFired(pa_mainloop_api* api, pa_time_event* event,
                                    const struct timeval* tv, void* self);
    static void connectTimeoutFired(pa_mainloop_api* api, pa_time_event* event,
                                    const struct timeval* tv, void* self);

    bool isLoading() const;
    void deviceArrived(std::optional<PulseDevice> device, bool endOfList);
    void updateDevice(PulseDevice device);
    void removeDevice(bool isOutput, uint32_t paIndex);
    void updateDefaults(const std::string& sinkName, const std::string& sourceName);
    AudioDeviceID idForNameLocked(bool isOutput, const std::string& name);

    void notify(AudioObjectID object, uint32_t selector, uint32_t scope);
    void dispatch(AudioObjectID object, AudioObjectPropertyAddress address);

    pa_threaded_mainloop* mMainloop = nullptr;
    pa_context* mContext = nullptr;
    pa_time_event* mReconnectTimer = nullptr;
    pa_time_event* mConnectTimer = nullptr;
    State mState = State::Disconnected;
    bool mEverConnected = false;
    int mPendingLoads = 0;
    std::vector<PulseDevice> mLoadingDevices;
    std::string mLoadingDefaultSink, mLoadingDefaultSource;

    // The snapshot, guarded by mMutex.
    mutable std::mutex mMutex;
    std::vector<PulseDevice> mDevices;
    std::string mDefaultSinkName, mDefaultSourceName;
    std::map<std::pair<bool, std::string>, AudioDeviceID> mDeviceIDs; // never shrinks
    AudioDeviceID mNextDeviceID = 0x100;
    std::vector<Listener> mListeners;
    std::string mServerName;
    std::string mLastError;

    std::mutex mDispatchMutex; // held while listeners run
    std::unique_ptr<SerialQueue> mNotifier;
};

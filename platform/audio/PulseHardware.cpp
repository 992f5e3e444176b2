#include "platform/audio/PulseHardware.h"

#include <algorithm>
#include <cstdlib>
#include <pthread.h>
#include <sched.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr pa_usec_t kConnectTimeout = 5 * PA_USEC_PER_SEC;
constexpr pa_usec_t kReconnectInterval = 1 * PA_USEC_PER_SEC;

struct timeval timeFromNow(pa_usec_t delay) {
    struct timeval tv {};
    pa_gettimeofday(&tv);
    pa_timeval_add(&tv, delay);
    return tv;
}

uint32_t framesForLatency(pa_usec_t usec, double rate) {
    return static_cast<uint32_t>(static_cast<double>(usec) * rate / 1e6 + 0.5);
}

template <typename Info>
PulseDevice deviceFromInfo(const Info* info, bool isOutput) {
    PulseDevice device;
    device.isOutput = isOutput;
    device.paIndex = info->index;
    device.name = info->name ? info->name : "";
    device.description = info->description ? info->description : device.name;
    device.channels = info->sample_spec.channels;
    device.sampleRate = info->sample_spec.rate;
    device.sampleFormat = info->sample_spec.format;
    device.channelMap = info->channel_map;
    device.latencyFrames =
        framesForLatency(std::max(info->configured_latency, info->latency), device.sampleRate);
    return device;
}

bool addressMatches(const AudioObjectPropertyAddress& wanted,
                    const AudioObjectPropertyAddress& changed) {
    auto matches = [](uint32_t a, uint32_t b, uint32_t wildcard) {
        return a == b || a == wildcard || b == wildcard;
    };
    return matches(wanted.mSelector, changed.mSelector, kAudioObjectPropertyScopeWildcard) &&
           matches(wanted.mScope, changed.mScope, kAudioObjectPropertyScopeWildcard) &&
           matches(wanted.mElement, changed.mElement, 0xFFFFFFFFu);
}

void dropOperation(pa_operation* operation) {
    if (operation) {
        pa_operation_unref(operation);
    }
}

} // namespace

PulseHardware& PulseHardware::shared() {
    static PulseHardware* hardware = new PulseHardware; // lives until the process ends
    return *hardware;
}

PulseHardware::PulseHardware() : mNotifier(std::make_unique<SerialQueue>("AudioHardware")) {
    mMainloop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_set_name(mMainloop, "PulseHardware");
    pa_threaded_mainloop_start(mMainloop);
    raiseIOThreadPriority();
}

// The connection's thread runs every I/O callback: it goes ahead of the
// buffer workers it wakes, where the system allows real-time scheduling.
void PulseHardware::raiseIOThreadPriority() {
    pa_threaded_mainloop_lock(mMainloop);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mMainloop);
    api->defer_new(
        api,
        [](pa_mainloop_api* loopApi, pa_defer_event* event, void*) {
            sched_param parameters{};
            parameters.sched_priority = kIOThreadPriority;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters); // failure: stay normal
            loopApi->defer_free(event);
        },
        nullptr);
    pa_threaded_mainloop_unlock(mMainloop);
}

OSStatus PulseHardware::connect() {
    if (pa_threaded_mainloop_in_thread(mMainloop)) {
        std::lock_guard lock(mMutex);
        return mState == State::Ready ? kAudioHardwareNoError : kAudioHardwareNotRunningError;
    }
    pa_threaded_mainloop_lock(mMainloop);
    if (mState != State::Ready && mState != State::Connecting && mState != State::Loading) {
        startConnectingLocked();
    }
    while (mState == State::Connecting || mState == State::Loading) {
        pa_threaded_mainloop_wait(mMainloop);
    }
    const OSStatus status =
        mState == State::Ready ? kAudioHardwareNoError : kAudioHardwareNotRunningError;
    pa_threaded_mainloop_unlock(mMainloop);
    return status;
}

bool PulseHardware::isConnected() const {
    std::lock_guard lock(mMutex);
    return mState == State::Ready;
}

std::string PulseHardware::serverName() const {
    {
        std::lock_guard lock(mMutex);
        if (!mServerName.empty()) {
            return mServerName;
        }
    }
    if (const char* server = std::getenv("PULSE_SERVER"); server && *server) {
        return server;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder =
        runtime && *runtime ? runtime : "/run/user/" + std::to_string(getuid());
    return "unix:" + folder + "/pulse/native";
}

std::string PulseHardware::lastError() const {
    std::lock_guard lock(mMutex);
    return mLastError;
}

// Connection

void PulseHardware::startConnectingLocked() {
    dropContextLocked();
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mMainloop);
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Cassora");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "org.cassora.Cassora");
    mContext = pa_context_new_with_proplist(api, "Cassora", properties);
    pa_proplist_free(properties);
    pa_context_set_state_callback(mContext, &PulseHardware::contextStateChanged, this);
    {
        std::lock_guard lock(mMutex);
        mState = State::Connecting;
    }
    if (pa_context_connect(mContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        std::lock_guard lock(mMutex);
        mLastError = pa_strerror(pa_context_errno(mContext));
        mState = State::Failed;
        return;
    }
    const struct timeval deadline = timeFromNow(kConnectTimeout);
    mConnectTimer = api->time_new(api, &deadline, &PulseHardware::connectTimeoutFired, this);
}

void PulseHardware::dropContextLocked() {
    if (mConnectTimer) {
        pa_threaded_mainloop_get_api(mMainloop)->time_free(mConnectTimer);
        mConnectTimer = nullptr;
    }
    if (mContext) {
        pa_context_set_state_callback(mContext, nullptr, nullptr);
        pa_context_set_subscribe_callback(mContext, nullptr, nullptr);
        pa_context_disconnect(mContext);
        pa_context_unref(mContext);
        mContext = nullptr;
    }
}

void PulseHardware::contextStateChanged(pa_context* context, void* userData) {
    auto* self = static_cast<PulseHardware*>(userData);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
        {
            std::lock_guard lock(self->mMutex);
            if (self->mState != State::Connecting) {
                return;
            }
            self->mState = State::Loading;
            const char* server = pa_context_get_server(context);
            self->mServerName = server ? server : "";
        }
        pa_context_set_subscribe_callback(context, &PulseHardware::subscriptionEvent, self);
        dropOperation(
            pa_context_subscribe(context,
                                 static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                                     PA_SUBSCRIPTION_MASK_SOURCE |
                                                                     PA_SUBSCRIPTION_MASK_SERVER),
                                 nullptr, nullptr));
        self->loadSnapshotLocked();
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: {
        bool wasReady = false;
        {
            std::lock_guard lock(self->mMutex);
            wasReady = self->mState == State::Ready;
            self->mLastError = pa_strerror(pa_context_errno(context));
            self->mState = State::Failed;
        }
        if (self->mConnectTimer) {
            pa_threaded_mainloop_get_api(self->mMainloop)->time_free(self->mConnectTimer);
            self->mConnectTimer = nullptr;
        }
        if (wasReady) {
            self->connectionLostLocked();
        } else if (self->mEverConnected) {
            self->scheduleReconnectLocked();
        }
        pa_threaded_mainloop_signal(self->mMainloop, 0);
        break;
    }
    default:
        break;
    }
}

void PulseHardware::connectTimeoutFired(pa_mainloop_api* api, pa_time_event* event,
                                        const struct timeval*, void* userData) {
    auto* self = static_cast<PulseHardware*>(userData);
    api->time_free(event);
    self->mConnectTimer = nullptr;
    {
        std::lock_guard lock(self->mMutex);
        if (self->mState != State::Connecting && self->mState != State::Loading) {
            return;
        }
        self->mLastError = "the server did not answer in time";
        self->mState = State::Failed;
    }
    self->dropContextLocked();
    if (self->mEverConnected) {
        self->scheduleReconnectLocked();
    }
    pa_threaded_mainloop_signal(self->mMainloop, 0);
}

void PulseHardware::connectionLostLocked() {
    {
        std::lock_guard lock(mMutex);
        mDevices.clear();
        mDefaultSinkName.clear();
        mDefaultSourceName.clear();
    }
    notify(kAudioObjectSystemObject, kAudioHardwarePropertyDevices,
           kAudioObjectPropertyScopeGlobal);
    notify(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultInputDevice,
           kAudioObjectPropertyScopeGlobal);
    notify(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice,
           kAudioObjectPropertyScopeGlobal);
    scheduleReconnectLocked();
}

void PulseHardware::scheduleReconnectLocked() {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mMainloop);
    const struct timeval when = timeFromNow(kReconnectInterval);
    if (mReconnectTimer) {
        api->time_restart(mReconnectTimer, &when);
    } else {
        mReconnectTimer = api->time_new(api, &when, &PulseHardware::reconnectTimerFired, this);
    }
}

void PulseHardware::reconnectTimerFired(pa_mainloop_api* api, pa_time_event* event,
                                        const struct timeval*, void* userData) {
    auto* self = static_cast<PulseHardware*>(userData);
    api->time_free(event);
    self->mReconnectTimer = nullptr;
    bool failed = false;
    {
        std::lock_guard lock(self->mMutex);
        failed = self->mState == State::Failed || self->mState == State::Disconnected;
    }
    if (failed) {
        self->startConnectingLocked();
        bool stillFailed = false;
        {
            std::lock_guard lock(self->mMutex);
            stillFailed = self->mState == State::Failed;
        }
        if (stillFailed) {
            self->scheduleReconnectLocked();
        }
    }
}

// Snapshot

void PulseHardware::loadSnapshotLocked() {
    mPendingLoads = 3;
    mLoadingDevices.clear();
    mLoadingDefaultSink.clear();
    mLoadingDefaultSource.clear();
    dropOperation(pa_context_get_server_info(mContext, &PulseHardware::serverInfoArrived, this));
    dropOperation(pa_context_get_sink_info_list(mContext, &PulseHardware::sinkInfoArrived, this));
    dropOperation(
        pa_context_get_source_info_list(mContext, &PulseHardware::sourceInfoArrived, this));
}

void PulseHardware::finishLoadLocked() {
    const bool reconnected = mEverConnected;
    {
        std::lock_guard lock(mMutex);
        std::stable_sort(mLoadingDevices.begin(), mLoadingDevices.end(),
                         [](const PulseDevice& a, const PulseDevice& b) {
                             return a.isOutput != b.isOutput ? a.isOutput : a.paIndex < b.paIndex;
                         });
        mDevices.clear();
        for (PulseDevice& device : mLoadingDevices) {
            device.id = idForNameLocked(device.isOutput, device.name);
            mDevices.push_back(device);
        }
        mLoadingDevices.clear();
        mDefaultSinkName = mLoadingDefaultSink;
        mDefaultSourceName = mLoadingDefaultSource;
        mState = State::Ready;
    }
    mEverConnected = true;
    if (mConnectTimer) {
        pa_threaded_mainloop_get_api(mMainloop)->time_free(mConnectTimer);
        mConnectTimer = nullptr;
    }
    if (reconnected) {
        notify(kAudioObjectSystemObject, kAudioHardwarePropertyDevices,
               kAudioObjectPropertyScopeGlobal);
        notify(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultInputDevice,
               kAudioObjectPropertyScopeGlobal);
        notify(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice,
               kAudioObjectPropertyScopeGlobal);
    }
    pa_threaded_mainloop_signal(mMainloop, 0);
}

AudioDeviceID PulseHardware::idForNameLocked(bool isOutput, const std::string& name) {
    auto [it, inserted] = mDeviceIDs.try_emplace({isOutput, name}, mNextDeviceID);
    if (inserted) {
        ++mNextDeviceID;
    }
    return it->second;
}

void PulseHardware::serverInfoArrived(pa_context*, const pa_server_info* info, void* userData) {
    auto* self = static_cast<PulseHardware*>(userData);
    const std::string sink = info && info->default_sink_name ? info->default_sink_name : "";
    const std::string source = info && info->default_source_name ? info->default_source_name : "";
    if (self->isLoading()) {
        self->mLoadingDefaultSink = sink;
        self->mLoadingDefaultSource = source;
        if (--self->mPendingLoads == 0) {
            self->finishLoadLocked();
        }
    } else if (info) {
        self->updateDefaults(sink, source);
    }
}

bool PulseHardware::isLoading() const {
    std::lock_guard lock(mMutex);
    return mState == State::Loading;
}

// A device from a list (while loading) or from a change event.
void PulseHardware::deviceArrived(std::optional<PulseDevice> device, bool endOfList) {
    const bool loading = isLoading();
    if (endOfList) {
        if (loading && --mPendingLoads == 0) {
            finishLoadLocked();
        }
        return;
    }
    if (loading) {
        mLoadingDevices.push_back(std::move(*device));
    } else {
        updateDevice(std::move(*device));
    }
}

void PulseHardware::sinkInfoArrived(pa_context*, const pa_sink_info* info, int eol,
                                    void* userData) {
    static_cast<PulseHardware*>(userData)->deviceArrived(
        eol == 0 ? std::optional<PulseDevice>(deviceFromInfo(info, true)) : std::nullopt, eol != 0);
}

void PulseHardware::sourceInfoArrived(pa_context*, const pa_source_info* info, int eol,
                                      void* userData) {
    std::optional<PulseDevice> device;
    if (eol == 0) {
        device = deviceFromInfo(info, false);
        device->isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
    }
    static_cast<PulseHardware*>(userData)->deviceArrived(std::move(device), eol != 0);
}

void PulseHardware::subscriptionEvent(pa_context* context, pa_subscription_event_type_t type,
                                      uint32_t index, void* userData) {
    auto* self = static_cast<PulseHardware*>(userData);
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        dropOperation(pa_context_get_server_info(context, &PulseHardware::serverInfoArrived, self));
        return;
    }
    const bool isOutput = facility == PA_SUBSCRIPTION_EVENT_SINK;
    if (!isOutput && facility != PA_SUBSCRIPTION_EVENT_SOURCE) {
        return;
    }
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        self->removeDevice(isOutput, index);
    } else if (isOutput) {
        dropOperation(pa_context_get_sink_info_by_index(context, index,
                                                        &PulseHardware::sinkInfoArrived, self));
    } else {
        dropOperation(pa_context_get_source_info_by_index(context, index,
                                                          &PulseHardware::sourceInfoArrived, self));
    }
}

void PulseHardware::updateDevice(PulseDevice device) {
    bool added = false;
    bool rateChanged = false;
    bool formatChanged = false;
    {
        std::lock_guard lock(mMutex);
        device.id = idForNameLocked(device.isOutput, device.name);
        auto existing = std::find_if(mDevices.begin(), mDevices.end(), [&](const PulseDevice& d) {
            return d.isOutput == device.isOutput && d.paIndex == device.paIndex;
        });
        if (existing == mDevices.end()) {
            mDevices.push_back(device);
            added = true;
        } else {
            rateChanged = existing->sampleRate != device.sampleRate;
            formatChanged = rateChanged || existing->channels != device.channels ||
                            existing->sampleFormat != device.sampleFormat;
            device.bufferFrameSize = existing->bufferFrameSize;
            *existing = device;
        }
    }
    if (added) {
        notify(kAudioObjectSystemObject, kAudioHardwarePropertyDevices,
               kAudioObjectPropertyScopeGlobal);
    }
    if (rateChanged) {
        notify(device.id, kAudioDevicePropertyNominalSampleRate,
               device.isOutput ? kAudioObjectPropertyScopeOutput : kAudioObjectPropertyScopeInput);
    }
    if (formatChanged) {
        notify(device.id, kAudioStreamPropertyPhysicalFormat, kAudioObjectPropertyScopeGlobal);
    }
}

void PulseHardware::removeDevice(bool isOutput, uint32_t paIndex) {
    bool removed = false;
    {
        std::lock_guard lock(mMutex);
        const auto before = mDevices.size();
        std::erase_if(mDevices, [&](const PulseDevice& d) {
            return d.isOutput == isOutput && d.paIndex == paIndex;
        });
        removed = mDevices.size() != before;
    }
    if (removed) {
        notify(kAudioObjectSystemObject, kAudioHardwarePropertyDevices,
               kAudioObjectPropertyScopeGlobal);
    }
}

void PulseHardware::updateDefaults(const std::string& sinkName, const std::string& sourceName) {
    bool sinkChanged = false;
    bool sourceChanged = false;
    {
        std::lock_guard lock(mMutex);
        sinkChanged = sinkName != mDefaultSinkName;
        sourceChanged = sourceName != mDefaultSourceName;
        mDefaultSinkName = sinkName;
        mDefaultSourceName = sourceName;
    }
    if (sourceChanged) {
        notify(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultInputDevice,
               kAudioObjectPropertyScopeGlobal);
    }
    if (sinkChanged) {
        notify(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice,
               kAudioObjectPropertyScopeGlobal);
        notify(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultSystemOutputDevice,
               kAudioObjectPropertyScopeGlobal);
    }
}

// Queries of the snapshot

std::vector<PulseDevice> PulseHardware::devices() const {
    std::lock_guard lock(mMutex);
    return mDevices;
}

std::optional<PulseDevice> PulseHardware::device(AudioDeviceID id) const {
    std::lock_guard lock(mMutex);
    for (const auto& device : mDevices) {
        if (device.id == id) {
            return device;
        }
    }
    return std::nullopt;
}

AudioDeviceID PulseHardware::deviceIDForName(const std::string& name) const {
    std::lock_guard lock(mMutex);
    for (const auto& device : mDevices) {
        if (device.name == name) {
            return device.id;
        }
    }
    return kAudioObjectUnknown;
}

AudioDeviceID PulseHardware::defaultInputDevice() const {
    std::lock_guard lock(mMutex);
    for (const auto& device : mDevices) {
        if (!device.isOutput && device.name == mDefaultSourceName) {
            return device.id;
        }
    }
    return kAudioObjectUnknown;
}

AudioDeviceID PulseHardware::defaultOutputDevice() const {
    std::lock_guard lock(mMutex);
    for (const auto& device : mDevices) {
        if (device.isOutput && device.name == mDefaultSinkName) {
            return device.id;
        }
    }
    return kAudioObjectUnknown;
}

OSStatus PulseHardware::setBufferFrameSize(AudioDeviceID id, uint32_t frames) {
    if (frames == 0 || frames > 16384) {
        return kAudioHardwareIllegalOperationError;
    }
    std::lock_guard lock(mMutex);
    for (auto& device : mDevices) {
        if (device.id == id) {
            device.bufferFrameSize = frames;
            return kAudioHardwareNoError;
        }
    }
    return kAudioHardwareBadObjectError;
}

// Listeners

OSStatus PulseHardware::addListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                    AudioObjectPropertyListenerProc proc, void* clientData) {
    if (!proc) {
        return kAudioHardwareIllegalOperationError;
    }
    if (const OSStatus status = connect(); status != kAudioHardwareNoError) {
        return status;
    }
    if (object != kAudioObjectSystemObject && !device(object)) {
        return kAudioHardwareBadObjectError;
    }
    std::lock_guard lock(mMutex);
    mListeners.push_back({object, address, proc, clientData});
    return kAudioHardwareNoError;
}

OSStatus PulseHardware::removeListener(AudioObjectID object,
                                       const AudioObjectPropertyAddress& address,
                                       AudioObjectPropertyListenerProc proc, void* clientData) {
    {
        std::lock_guard lock(mMutex);
        auto found = std::find_if(mListeners.begin(), mListeners.end(), [&](const Listener& l) {
            return l.object == object && l.proc == proc && l.clientData == clientData &&
                   l.address.mSelector == address.mSelector && l.address.mScope == address.mScope &&
                   l.address.mElement == address.mElement;
        });
        if (found == mListeners.end()) {
            return kAudioHardwareUnknownPropertyError;
        }
        mListeners.erase(found);
    }
    if (!mNotifier->isCurrentThread()) {
        std::lock_guard wait(mDispatchMutex); // a listener running now finishes first
    }
    return kAudioHardwareNoError;
}

void PulseHardware::notify(AudioObjectID object, uint32_t selector, uint32_t scope) {
    const AudioObjectPropertyAddress address{selector, scope, kAudioObjectPropertyElementMain};
    mNotifier->post([this, object, address] { dispatch(object, address); });
}

void PulseHardware::dispatch(AudioObjectID object, AudioObjectPropertyAddress address) {
    std::lock_guard dispatching(mDispatchMutex);
    std::vector<Listener> listeners;
    {
        std::lock_guard lock(mMutex);
        for (const auto& listener : mListeners) {
            if (listener.object == object && addressMatches(listener.address, address)) {
                listeners.push_back(listener);
            }
        }
    }
    for (const auto& listener : listeners) {
        bool stillRegistered = false;
        {
            std::lock_guard lock(mMutex);
            stillRegistered =
                std::any_of(mListeners.begin(), mListeners.end(), [&](const Listener& l) {
                    return l.object == listener.object && l.proc == listener.proc &&
                           l.clientData == listener.clientData;
                });
        }
        if (stillRegistered) {
            listener.proc(object, 1, &address, listener.clientData);
        }
    }
}

#include "app/monitoring/CassoraSoftwarePlayThroughManager.h"

#include "audio/format/NSXException.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "audio/playthrough/VELKAudioPlaythroughManager.h"
#include "platform/audio/AudioHardwareService.h"
#include "platform/audio/PulseHardware.h"
#include "platform/audio/SerialQueue.h"
#include "platform/desktop/UserDefaults.h"

#include <QMetaObject>
#include <QPointer>

#include <cstdio>
#include <exception>

namespace {

const QString kEnableSoftwarePlaythrough = QStringLiteral("EnableSoftwarePlaythrough");
const QString kRecordDeviceUID = QStringLiteral("RecordDeviceUID");
const QString kPlaybackDeviceUID = QStringLiteral("PlaybackDeviceUID");
const QString kRecordDeviceChannels = QStringLiteral("RecordDeviceChannels");

// The system object's changes that can leave monitoring on a dead device or
// on a default that is no longer the default.
const AudioObjectPropertyAddress kHardwareChanges[] = {
    {kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal,
     kAudioObjectPropertyElementMain},
    {kAudioHardwarePropertyDefaultInputDevice, kAudioObjectPropertyScopeGlobal,
     kAudioObjectPropertyElementMain},
    {kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal,
     kAudioObjectPropertyElementMain},
};

void logError(const std::string& message) {
    std::fprintf(stderr, "(ERROR) CassoraSoftwarePlayThroughManager : %s\n", message.c_str());
}

// The device a UID names, else the system default of that direction; 0 when
// the server cannot be asked.
AudioDeviceID resolve(const std::string& uid, bool input) {
    try {
        AudioDeviceID device =
            uid.empty() ? kAudioObjectUnknown : VELKAudioHardware::deviceIDForDeviceUID(uid);
        if (device == kAudioObjectUnknown) {
            device = input ? VELKAudioHardware::defaultInputDeviceID()
                           : VELKAudioHardware::defaultOutputDeviceID();
        }
        return device;
    } catch (const NSXException&) {
        return kAudioObjectUnknown;
    }
}

} // namespace

CassoraSoftwarePlayThroughManager::CassoraSoftwarePlayThroughManager(UserDefaults& defaults,
                                                                     QObject* parent)
    : QObject(parent), mDefaults(defaults),
      mWorker(std::make_unique<SerialQueue>("Monitoring")) {
    auto rebuild = [this](const QVariant&) { _rebuildPlaythroughManager(); };
    // The switch delivers its value at once: monitoring that was left on
    // starts with the program.
    mDefaults.observe(kEnableSoftwarePlaythrough, this, rebuild, true);
    mDefaults.observe(kRecordDeviceUID, this, rebuild);
    mDefaults.observe(kPlaybackDeviceUID, this, rebuild);
    mDefaults.observe(kRecordDeviceChannels, this, rebuild);

    for (const auto& address : kHardwareChanges) {
        if (AudioObjectAddPropertyListener(kAudioObjectSystemObject, &address,
                                           &CassoraSoftwarePlayThroughManager::hardwareChanged,
                                           this) == 0) {
            mListening = true;
        }
    }
}

CassoraSoftwarePlayThroughManager::~CassoraSoftwarePlayThroughManager() {
    if (mListening) {
        for (const auto& address : kHardwareChanges) {
            AudioObjectRemovePropertyListener(kAudioObjectSystemObject, &address,
                                              &CassoraSoftwarePlayThroughManager::hardwareChanged,
                                              this);
        }
    }
    mGeneration.fetch_add(1);
    mWorker->sync([this] {
        if (mPlaythroughManager) {
            mPlaythroughManager->stop();
            mPlaythroughManager.reset();
        }
    });
    mWorker.reset();
}

bool CassoraSoftwarePlayThroughManager::softwarePlaythroughEnabled() const {
    return mDefaults.boolForKey(kEnableSoftwarePlaythrough);
}

QString CassoraSoftwarePlayThroughManager::recordAudioDeviceUID() const {
    return mDefaults.stringForKey(kRecordDeviceUID);
}

QString CassoraSoftwarePlayThroughManager::playbackAudioDeviceUID() const {
    return mDefaults.stringForKey(kPlaybackDeviceUID);
}

std::optional<std::vector<int32_t>> CassoraSoftwarePlayThroughManager::recordDeviceChannels()
    const {
    const QVariant value = mDefaults.value(kRecordDeviceChannels);
    if (!value.isValid()) {
        return std::nullopt;
    }
    std::vector<int32_t> channels;
    for (const QVariant& entry : value.toList()) {
        bool isNumber = false;
        const int channel = entry.toInt(&isNumber);
        // A hand-edited entry that is no channel is left out rather than
        // handed to the device.
        if (isNumber && channel >= 0) {
            channels.push_back(channel);
        }
    }
    if (channels.empty()) {
        return std::nullopt;
    }
    return channels;
}

CassoraSoftwarePlayThroughManager::Settings
CassoraSoftwarePlayThroughManager::currentSettings() const {
    return {softwarePlaythroughEnabled(), recordAudioDeviceUID().toStdString(),
            playbackAudioDeviceUID().toStdString(), recordDeviceChannels()};
}

void CassoraSoftwarePlayThroughManager::_rebuildPlaythroughManager() {
    const uint64_t generation = mGeneration.fetch_add(1) + 1;
    mWorker->post([this, settings = currentSettings(), generation] {
        rebuild(settings, generation);
    });
}

void CassoraSoftwarePlayThroughManager::devicesChanged() {
    if (!softwarePlaythroughEnabled()) {
        return;
    }
    const uint64_t generation = mGeneration.load();
    mWorker->post([this, settings = currentSettings(), generation] {
        recheck(settings, generation);
    });
}

// On the hardware's notification thread.
OSStatus CassoraSoftwarePlayThroughManager::hardwareChanged(AudioObjectID, uint32_t,
                                                            const AudioObjectPropertyAddress*,
                                                            void* self) {
    auto* manager = static_cast<CassoraSoftwarePlayThroughManager*>(self);
    QMetaObject::invokeMethod(manager, [manager] { manager->devicesChanged(); },
                              Qt::QueuedConnection);
    return 0;
}

// Worker thread.
void CassoraSoftwarePlayThroughManager::rebuild(const Settings& settings, uint64_t generation) {
    if (generation != mGeneration.load()) {
        return; // a later change is queued behind this one and builds from newer settings
    }
    if (mPlaythroughManager && mPlaythroughManager->isRunning()) {
        mPlaythroughManager->stop();
        mPlaythroughManager.reset();
    }
    if (settings.enabled) {
        // A manager that could not start is replaced here too.
        mPlaythroughManager.reset();
        try {
            mPlaythroughManager = std::make_unique<VELKAudioPlaythroughManager>(
                settings.input, settings.output, settings.channels);
        } catch (const std::exception& error) {
            reportState(
                true, tr("Monitoring cannot start: %1").arg(QString::fromStdString(error.what())));
            return;
        }
        mBuiltFrom = settings;
        ++mBuilds;
        CAPlayThroughHost* host = mPlaythroughManager->playThroughHost();
        if (host->PlayThroughExists()) {
            warnAboutFeedback(host->inputDeviceID(), host->outputDeviceID());
        }
        mPlaythroughManager->start();
        const CAPlayThroughHost::Failure failure = host->lastFailure();
        reportState(true, describeFailure(failure.status, failure.step));
        return;
    }
    reportState();
}

// Worker thread: the devices changed. Monitoring that stopped because its
// device went away, or that follows a default device that has moved, is
// built again from the same settings.
void CassoraSoftwarePlayThroughManager::recheck(const Settings& settings, uint64_t generation) {
    if (generation != mGeneration.load() || !settings.enabled) {
        return;
    }
    bool stale = !mPlaythroughManager || !mPlaythroughManager->isRunning();
    if (!stale) {
        CAPlayThroughHost* host = mPlaythroughManager->playThroughHost();
        stale = host->StreamLost() || host->inputDeviceID() != resolve(settings.input, true) ||
                host->outputDeviceID() != resolve(settings.output, false);
    }
    if (stale) {
        rebuild(settings, generation);
    } else {
        reportState(true);
    }
}

// Worker thread. Monitoring that should run and does not says why: the
// step that failed, or, when nothing failed, that it stopped.
void CassoraSoftwarePlayThroughManager::reportState(bool shouldRun, QString failure) {
    const bool running = mPlaythroughManager && mPlaythroughManager->isRunning();
    if (running || !shouldRun) {
        failure.clear();
    } else if (failure.isEmpty()) {
        failure = describeFailure(0, 0);
    }
    QPointer<CassoraSoftwarePlayThroughManager> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, running, failure] {
            if (!self) {
                return;
            }
            if (self->mMonitoring != running) {
                self->mMonitoring = running;
                emit self->monitoringChanged(running);
            }
            if (self->mFailure != failure) {
                self->mFailure = failure;
                if (!failure.isEmpty()) {
                    logError(failure.toStdString());
                }
                emit self->failureChanged(failure);
            }
        },
        Qt::QueuedConnection);
}

QString CassoraSoftwarePlayThroughManager::describeFailure(int32_t status, int step) {
    QString why;
    switch (step) {
    case 299:
    case 441:
    case 312:
    case 438:
    case 472:
    case 444:
    case 500:
    case 158:
        why = tr("the recording device cannot be opened. Is it unplugged or in use?");
        break;
    case 273:
    case 335:
    case 346:
    case 359:
    case 162:
    case 325:
    case 329:
    case 332:
    case 389:
    case 391:
    case 395:
    case 397:
        why = tr("the playback device cannot be opened. Is it unplugged or in use?");
        break;
    case 165:
    case 575:
    case 577:
    case 587:
    case 435:
        why = tr("the recording device's sound format cannot be monitored.");
        break;
    case 600:
    case 602:
    case 169:
    case 172:
        why = tr("the playback device cannot play the recording device's sound format.");
        break;
    case 211:
        why = tr("the recording device does not start. Is it unplugged or in use?");
        break;
    case 214:
        why = tr("the playback device does not start. Is it unplugged or in use?");
        break;
    default:
        why = tr("the sound server did not start it.");
        break;
    }
    QString text = tr("Monitoring cannot start: %1").arg(why);
    if (status != 0) {
        text += tr(" (error %1 at step %2)").arg(status).arg(step);
    }
    return text;
}

// Worker thread. Playing a device's own monitor back into it feeds back
// for as long as monitoring runs; say so.
void CassoraSoftwarePlayThroughManager::warnAboutFeedback(AudioDeviceID input,
                                                          AudioDeviceID output) const {
    PulseHardware& hardware = PulseHardware::shared();
    const auto source = hardware.device(input);
    const auto sink = hardware.device(output);
    if (source && sink && source->isMonitor && source->name == sink->name + ".monitor") {
        logError("monitoring \"" + source->description + "\" on \"" + sink->description +
                 "\" plays the output back into itself and will feed back; choose another "
                 "recording or playback device");
    }
}

void CassoraSoftwarePlayThroughManager::waitUntilSettled() {
    mWorker->sync([] {});
}

CassoraSoftwarePlayThroughManager::Snapshot CassoraSoftwarePlayThroughManager::snapshot() {
    Snapshot result;
    mWorker->sync([&] {
        result.builds = mBuilds;
        if (!mPlaythroughManager) {
            return;
        }
        CAPlayThroughHost* host = mPlaythroughManager->playThroughHost();
        result.exists = host->PlayThroughExists();
        result.running = mPlaythroughManager->isRunning();
        result.input = host->inputDeviceID();
        result.output = host->outputDeviceID();
        result.channels = mBuiltFrom.channels;
    });
    return result;
}

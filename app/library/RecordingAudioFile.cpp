#include "app/library/RecordingAudioFile.h"

#include "app/library/TapeQuality.h"
#include "audio/format/NSXException.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "platform/desktop/UserDefaults.h"

std::shared_ptr<VELKAudioDevice> recordingAudioDevice() {
    try {
        const QString uid =
            UserDefaults::standard().stringForKey(QStringLiteral("RecordDeviceUID"));
        if (!uid.isEmpty()) {
            return VELKAudioDevice::withDeviceUID(uid.toStdString());
        }
        const AudioDeviceID device = VELKAudioHardware::defaultInputDeviceID();
        return device ? VELKAudioDevice::withDeviceID(device) : nullptr;
    } catch (const NSXException&) {
        return nullptr; // no audio server
    }
}

std::shared_ptr<VELKExtendedAudioFile> audioFileForRecordingWithFilename(const QString& filename,
                                                                         const QString& quality,
                                                                         bool stereo,
                                                                         QString* error) {
    try {
        return VELKExtendedAudioFile::forRecording(
            filename.toStdString(), TapeQuality::streamDescriptionForQuality(quality, stereo),
            TapeQuality::bitrateForQuality(quality), recordingAudioDevice());
    } catch (const NSXException& exception) {
        if (error) {
            *error = QString::fromStdString(exception.error().localizedDescription());
        }
        return nullptr;
    }
}

#include "app/library/RecordingAudioFile.h"

#include "app/library/TapeQuality.h"
#include "app/preferences/PreferencesController.h"
#include "audio/format/NSXException.h"
#include "platform/desktop/FileNames.h"

std::shared_ptr<VELKAudioDevice> recordingAudioDevice() {
    // The same answer the preferences give, without making their window.
    return PreferencesController::storedAudioDevice(QStringLiteral("RecordDeviceUID"),
                                                    kVELKAudioDirectionInput);
}

std::shared_ptr<VELKExtendedAudioFile> audioFileForRecordingWithFilename(const QString& filename,
                                                                         const QString& quality,
                                                                         bool stereo,
                                                                         QString* error) {
    try {
        return VELKExtendedAudioFile::forRecording(
            FileNames::toNative(filename),
            TapeQuality::streamDescriptionForQuality(quality, stereo),
            TapeQuality::bitrateForQuality(quality), recordingAudioDevice());
    } catch (const NSXException& exception) {
        if (error) {
            *error = QString::fromStdString(exception.error().localizedDescription());
        }
        return nullptr;
    }
}

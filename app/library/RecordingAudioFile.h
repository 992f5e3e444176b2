#pragma once

#include "audio/file/VELKExtendedAudioFile.h"

#include <QString>

#include <memory>

// The input device recordings use: the "RecordDeviceUID" default when it names
// a device that can record, else the system's default input. Nothing when
// neither exists.
std::shared_ptr<VELKAudioDevice> recordingAudioDevice();

// A new file opened for recording in the given quality, on the recording
// device; nothing when the engine cannot make it (`error`, when given, says why).
std::shared_ptr<VELKExtendedAudioFile> audioFileForRecordingWithFilename(const QString& filename,
                                                                         const QString& quality,
                                                                         bool stereo,
                                                                         QString* error = nullptr);

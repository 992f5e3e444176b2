#include "audio/file/VELKAudioFileErrors.h"

void VELKRaiseAudioFileError(NSXError error, OSStatus status) {
    std::string text = AudioFileLastErrorText();
    if (text.empty()) {
        text = AudioFileStatusDescription(status);
    }
    throw NSXException(error.withDetail(NSXLocalizedDescriptionKey, text));
}

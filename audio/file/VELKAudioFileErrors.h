#pragma once

#include "audio/format/NSXException.h"
#include "platform/media/ExtAudioFile.h"

// Raises NSXException for a failed audio-file call, as NSXThrowIfError does,
// with a description that says in words what went wrong.
[[noreturn]] void VELKRaiseAudioFileError(NSXError error, OSStatus status);

#define VELKThrowIfAudioFileError(call)                                                            \
    do {                                                                                           \
        const OSStatus velkStatus_ = (call);                                                       \
        NSXError velkError_;                                                                       \
        if (NSXMakeError(velkStatus_, #call, &velkError_)) {                                       \
            VELKRaiseAudioFileError(std::move(velkError_), velkStatus_);                           \
        }                                                                                          \
    } while (0)

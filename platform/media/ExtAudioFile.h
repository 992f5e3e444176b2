#pragma once

#include "platform/media/AudioFileTypes.h"

#include <string>

// The converting audio-file service: MPEG-4 audio files read and written in
// 32-bit float, one buffer per channel. A file's audio converter ('acnv') and
// audio file ('afil') are views of the same object, valid while it is open.
// Every call returns a status, 0 for success.

// Creates a file of type 'm4af' or 'mp4f' in the format's codec ('alac' or
// 'aac '). With kAudioFileFlags_EraseFile an existing file is emptied;
// without, an existing name is refused. Links are never followed. The
// channel layout must be null.
OSStatus ExtAudioFileCreateWithURL(const char* path, uint32_t fileType,
                                   const AudioStreamBasicDescription* format,
                                   const void* channelLayout, uint32_t flags,
                                   ExtAudioFileRef* outFile);
OSStatus ExtAudioFileOpenURL(const char* path, ExtAudioFileRef* outFile);
// Closes the file; for a file being written this finishes it, and a failure
// to do so is returned (the reference is gone either way).
OSStatus ExtAudioFileDispose(ExtAudioFileRef file);

OSStatus ExtAudioFileGetPropertyInfo(ExtAudioFileRef file, uint32_t property, uint32_t* outSize,
                                     bool* outWritable);
OSStatus ExtAudioFileGetProperty(ExtAudioFileRef file, uint32_t property, uint32_t* ioSize,
                                 void* outData);
OSStatus ExtAudioFileSetProperty(ExtAudioFileRef file, uint32_t property, uint32_t size,
                                 const void* data);

OSStatus ExtAudioFileRead(ExtAudioFileRef file, uint32_t* ioFrames, AudioBufferList* data);
OSStatus ExtAudioFileWrite(ExtAudioFileRef file, uint32_t frames, const AudioBufferList* data);
// Writes on the calling thread as ExtAudioFileWrite does; 0 frames with no
// data starts the encoder, after which format and bit rate are fixed.
OSStatus ExtAudioFileWriteAsync(ExtAudioFileRef file, uint32_t frames, const AudioBufferList* data);
OSStatus ExtAudioFileSeek(ExtAudioFileRef file, int64_t frame);
OSStatus ExtAudioFileTell(ExtAudioFileRef file, int64_t* outFrame);

OSStatus AudioFileGetProperty(AudioFileID file, uint32_t property, uint32_t* ioSize, void* outData);
OSStatus AudioConverterGetProperty(AudioConverterRef converter, uint32_t property, uint32_t* ioSize,
                                   void* outData);
OSStatus AudioConverterSetProperty(AudioConverterRef converter, uint32_t property, uint32_t size,
                                   const void* data);

// 'fmti': completes a stream description's fields for its format.
OSStatus AudioFormatGetProperty(uint32_t property, uint32_t specifierSize, const void* specifier,
                                uint32_t* ioSize, void* outData);
// 'sdid': the stream descriptions a file type accepts for a format
// (specifier: AudioFileTypeAndFormatID).
OSStatus AudioFileGetGlobalInfoSize(uint32_t property, uint32_t specifierSize,
                                    const void* specifier, uint32_t* outSize);
OSStatus AudioFileGetGlobalInfo(uint32_t property, uint32_t specifierSize, const void* specifier,
                                uint32_t* ioSize, void* outData);

// Where an open file is now (a file being written is followed by its
// descriptor, even if its folder was renamed).
std::string ExtAudioFileCurrentPath(ExtAudioFileRef file);

// Why the last failing call on this thread failed, in words (for example
// "cannot open /a/b.m4a: No such file or directory"); empty when unknown.
std::string AudioFileLastErrorText();
// A one-line explanation of a status, for people.
std::string AudioFileStatusDescription(OSStatus status);

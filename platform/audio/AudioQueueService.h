#pragma once

#include "platform/audio/AudioHardwareTypes.h"
#include "platform/audio/AudioUnitTypes.h"

#include <cstdint>

// The audio queue service on a PulseAudio stream of the default sink
// (output) or source (input). A queue owns buffers that the client fills
// (output) or that come back filled (input); each finished buffer is handed
// to the queue's callback on the queue's own thread. Linear PCM only,
// interleaved: 16- or 32-bit integers, or 32-bit floats.
//
// Output: enqueued buffers play in order; each one is handed back once
// written to the server. Input: enqueued buffers are filled in order with
// what the source records; pausing hands over the buffer being filled with
// what it holds, and stopping hands back every enqueued buffer (the one
// being filled with its frames, the others empty).

struct OpaqueAudioQueue;
using AudioQueueRef = OpaqueAudioQueue*;

struct AudioStreamPacketDescription {
    int64_t mStartOffset;
    uint32_t mVariableFramesInPacket;
    uint32_t mDataByteSize;
};

struct AudioQueueBuffer {
    uint32_t mAudioDataBytesCapacity;
    void* mAudioData;
    uint32_t mAudioDataByteSize;
    void* mUserData;
    uint32_t mPacketDescriptionCapacity;
    AudioStreamPacketDescription* mPacketDescriptions;
    uint32_t mPacketDescriptionCount;
};
using AudioQueueBufferRef = AudioQueueBuffer*;

using AudioQueueOutputCallback = void (*)(void* inUserData, AudioQueueRef inAQ,
                                          AudioQueueBufferRef inBuffer);
using AudioQueueInputCallback = void (*)(void* inUserData, AudioQueueRef inAQ,
                                         AudioQueueBufferRef inBuffer,
                                         const AudioTimeStamp* inStartTime,
                                         uint32_t inNumberPacketDescriptions,
                                         const AudioStreamPacketDescription* inPacketDescs);
using AudioQueuePropertyListenerProc = void (*)(void* inUserData, AudioQueueRef inAQ,
                                                uint32_t inID);

constexpr uint32_t kAudioQueueProperty_IsRunning = FourCC("aqrn");                 // uint32_t
constexpr uint32_t kAudioQueueProperty_StreamDescription = FourCC("aqft");         // ASBD
constexpr uint32_t kAudioQueueProperty_MaximumOutputPacketSize = FourCC("xops");   // uint32_t
constexpr uint32_t kAudioQueueProperty_MagicCookie = FourCC("aqmc");               // bytes
constexpr uint32_t kAudioConverterCurrentOutputStreamDescription = FourCC("acod"); // ASBD
// Ours: how many buffers are enqueued and not yet handed back (uint32_t).
constexpr uint32_t kPulseAudioQueueProperty_EnqueuedBufferCount = FourCC("cqeb");

constexpr OSStatus kAudioQueueErr_InvalidBuffer = -66687;
constexpr OSStatus kAudioQueueErr_InvalidProperty = -66684;
constexpr OSStatus kAudioQueueErr_InvalidPropertySize = -66683;
constexpr OSStatus kAudioQueueErr_InvalidParameter = -66682;
constexpr OSStatus kAudioQueueErr_CannotStart = -66681;
constexpr OSStatus kAudioQueueErr_BufferInQueue = -66679;
constexpr OSStatus kAudioFormatUnsupportedDataFormatError = static_cast<OSStatus>(FourCC("fmt?"));

// `runLoop` and `runLoopMode` must be null; `flags` must be 0.
OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                             AudioQueueOutputCallback callback, void* userData, void* runLoop,
                             void* runLoopMode, uint32_t flags, AudioQueueRef* outAQ);
OSStatus AudioQueueNewInput(const AudioStreamBasicDescription* format,
                            AudioQueueInputCallback callback, void* userData, void* runLoop,
                            void* runLoopMode, uint32_t flags, AudioQueueRef* outAQ);
// Stops the queue and frees it and its buffers. Must not be called from the
// queue's callback.
OSStatus AudioQueueDispose(AudioQueueRef queue, bool immediate);
OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, uint32_t byteSize,
                                  AudioQueueBufferRef* outBuffer);
OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                 uint32_t numPacketDescs,
                                 const AudioStreamPacketDescription* packetDescs);
// `startTime` must be null (start as soon as possible).
OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* startTime);
OSStatus AudioQueuePause(AudioQueueRef queue);
// Immediate: at once. Otherwise an output queue plays what is enqueued
// first (the call returns at once; the is-running listener tells the end).
OSStatus AudioQueueStop(AudioQueueRef queue, bool immediate);
OSStatus AudioQueueGetProperty(AudioQueueRef queue, uint32_t id, void* outData, uint32_t* ioSize);
OSStatus AudioQueueSetProperty(AudioQueueRef queue, uint32_t id, const void* data, uint32_t size);
OSStatus AudioQueueAddPropertyListener(AudioQueueRef queue, uint32_t id,
                                       AudioQueuePropertyListenerProc proc, void* userData);
OSStatus AudioQueueRemovePropertyListener(AudioQueueRef queue, uint32_t id,
                                          AudioQueuePropertyListenerProc proc, void* userData);
// The frames played (output) or recorded (input) since the queue started.
OSStatus AudioQueueGetCurrentTime(AudioQueueRef queue, void* timeline, AudioTimeStamp* outTime,
                                  bool* outDiscontinuity);

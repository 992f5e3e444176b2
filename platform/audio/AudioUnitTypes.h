#pragma once

#include "platform/audio/AudioHardwareTypes.h"

#include <cstdint>

// The audio-unit service: the hardware input unit, the default output unit,
// the varispeed unit, and graphs that chain them.

struct OpaqueAudioComponentInstance;
using AudioUnit = OpaqueAudioComponentInstance*;
using AudioComponentInstance = AudioUnit;
struct OpaqueAUGraph;
using AUGraph = OpaqueAUGraph*;
using AUNode = int32_t;

struct AudioComponentDescription {
    uint32_t componentType;
    uint32_t componentSubType;
    uint32_t componentManufacturer;
    uint32_t componentFlags;
    uint32_t componentFlagsMask;
};

constexpr uint32_t kAudioUnitType_Output = FourCC("auou");
constexpr uint32_t kAudioUnitType_FormatConverter = FourCC("aufc");
constexpr uint32_t kAudioUnitSubType_HALOutput = FourCC("ahal");
constexpr uint32_t kAudioUnitSubType_DefaultOutput = FourCC("def ");
constexpr uint32_t kAudioUnitSubType_Varispeed = FourCC("vari");
constexpr uint32_t kAudioUnitManufacturer_Apple = FourCC("appl");

// Scopes
constexpr uint32_t kAudioUnitScope_Global = 0;
constexpr uint32_t kAudioUnitScope_Input = 1;
constexpr uint32_t kAudioUnitScope_Output = 2;

// Properties
constexpr uint32_t kAudioUnitProperty_SampleRate = 2;                // double
constexpr uint32_t kAudioUnitProperty_StreamFormat = 8;              // AudioStreamBasicDescription
constexpr uint32_t kAudioUnitProperty_MaximumFramesPerSlice = 14;    // uint32_t
constexpr uint32_t kAudioUnitProperty_SetRenderCallback = 23;        // AURenderCallbackStruct
constexpr uint32_t kAudioOutputUnitProperty_CurrentDevice = 2000;    // AudioDeviceID
constexpr uint32_t kAudioOutputUnitProperty_IsRunning = 2001;        // uint32_t
constexpr uint32_t kAudioOutputUnitProperty_ChannelMap = 2002;       // int32_t[]
constexpr uint32_t kAudioOutputUnitProperty_EnableIO = 2003;         // uint32_t
constexpr uint32_t kAudioOutputUnitProperty_SetInputCallback = 2005; // AURenderCallbackStruct
constexpr uint32_t kAudioOutputUnitProperty_StartTimestampsAtZero = 2007; // uint32_t

// The longest time one I/O callback of the unit took since it started, in
// nanoseconds (uint64_t); for measuring, not part of the original service.
constexpr uint32_t kPulseAudioUnitProperty_LongestCallback = FourCC("lcbt");
// How many I/O callbacks of the unit since it started took each span of
// kPulseCallbackBucketNanoseconds (the last bucket: that long or longer);
// for measuring, read only.
constexpr uint32_t kPulseCallbackBuckets = 64;
constexpr uint64_t kPulseCallbackBucketNanoseconds = 20000;
struct PulseCallbackHistogram {
    uint64_t counts[kPulseCallbackBuckets];
};
constexpr uint32_t kPulseAudioUnitProperty_CallbackHistogram = FourCC("cbth");
// What the I/O callbacks of the unit since it started cost their thread
// (PulseCallbackCost, read only; zeros unless measured, below): a callback that took long while
// using little CPU and never waiting was held off the CPU by the machine (another thread, the
// hypervisor); one that waited (a voluntary switch: a lock, a page from disk) is the unit's own
// fault. For measuring.
struct PulseCallbackCost {
    uint64_t longestCpuNanoseconds;   // the most CPU time one callback used
    uint64_t cpuOfLongestNanoseconds; // the CPU time of the longest callback
    uint64_t callbacksThatWaited;     // callbacks in which the thread slept
};
constexpr uint32_t kPulseAudioUnitProperty_CallbackCost = FourCC("cbcp");
// UInt32: 1 to measure what the unit's callbacks cost (two system calls at
// each callback's start and end), 0 not to (the default). Turning it on
// starts the unit's callback figures afresh. For benchmarks.
constexpr uint32_t kPulseAudioUnitProperty_MeasureCallbackCost = FourCC("cbcm");
// UInt32, read only: 1 when the unit stopped because its device or the
// server went away.
constexpr uint32_t kPulseAudioUnitProperty_StreamLost = FourCC("lost");
// The frames an output unit had handed to the server that the device had not
// yet played when the unit last stopped or held (uint32_t, at the unit's
// input rate). They went unheard. Not part of the original service.
constexpr uint32_t kPulseOutputUnitProperty_UnplayedFramesAtStop = FourCC("unpl");

// How many times the server found an output unit's buffer empty while it
// ran (uint64_t, read only): each was heard as a gap. Not part of the
// original service.
constexpr uint32_t kPulseOutputUnitProperty_Underruns = FourCC("undr");

// How far ahead of the device an output unit keeps the server's buffer
// filled, in frames at its input rate (uint32_t; 0 for the unit's default of
// a tenth of a second). Smaller is quicker to be heard and easier to starve.
// Set it before starting. Not part of the original service.
constexpr uint32_t kPulseOutputUnitProperty_TargetLatency = FourCC("tlat");

// What a running output unit asks the server for now, in frames at its
// input rate (PulseOutputBufferRequest, read only; zeros before it first
// starts; it changes while the buffer grows):
// the buffer it keeps ahead of the device and the size of each request to
// fill it. A client that asks for the same on the same sink is kept as
// close to running dry. Not part of the original service.
constexpr uint32_t kPulseOutputUnitProperty_BufferRequest = FourCC("breq");
struct PulseOutputBufferRequest {
    uint32_t bufferFrames = 0;
    uint32_t requestFrames = 0;
};

// Holding a running output unit (uint32_t, write only: 1 holds, 0 lets go):
// it stops rendering and the server drops what the device has not begun to
// play, the stream staying connected; the unplayed frames at stop then say
// how many were dropped. Its buffer goes back to the size it started with,
// unless it has a growth. Letting go renders again at once. Meanwhile its
// owner may move what it plays, unheard. Not part of the original service.
constexpr uint32_t kPulseOutputUnitProperty_Holding = FourCC("hold");

// A longer buffer an output unit grows to once it plays (PulseOutputGrowth,
// at its input rate; zeros for none, the default). It starts with its
// target latency, so that the first fill stays small, then grows by at most
// `stepFrames` a request until it keeps `bufferFrames` ahead of the device,
// asked for `requestFrames` at a time: fewer, fuller wake-ups for steady
// playing, at the price of later hearing what changes without a hold.
// Set while running, it takes effect at the next hold, which keeps a buffer
// that is to grow. Not part of the original service.
constexpr uint32_t kPulseOutputUnitProperty_Growth = FourCC("grow");
struct PulseOutputGrowth {
    uint32_t bufferFrames = 0;
    uint32_t requestFrames = 0;
    uint32_t stepFrames = 0;
};

// About how much of what a running output unit has rendered the device has
// yet to play, judged without asking the server (uint32_t, at its input
// rate, read only; 0 when stopped): the buffer it keeps, less what has
// played since it last filled it. Not part of the original service.
constexpr uint32_t kPulseOutputUnitProperty_UnplayedFrames = FourCC("unpn");

// How many frames an input unit lets the server gather before it wakes
// (uint32_t, at the unit's client rate; 0 for one slice, the default). A
// wake-up still hands the callback slices of at most the device's buffer
// size, so a larger value means fewer, fuller wake-ups: right for a meter or
// a file, wrong for monitoring. Set it before starting. Read while running,
// it answers what the server granted. Not part of the original service.
constexpr uint32_t kPulseInputUnitProperty_WakeFrames = FourCC("wake");

// Parameters
constexpr uint32_t kVarispeedParam_PlaybackRate = 0;
constexpr uint32_t kHALOutputParam_Volume = 14;

// Statuses
constexpr OSStatus kAudioUnitErr_InvalidProperty = -10879;
constexpr OSStatus kAudioUnitErr_InvalidParameter = -10878;
constexpr OSStatus kAudioUnitErr_InvalidElement = -10877;
constexpr OSStatus kAudioUnitErr_NoConnection = -10876;
constexpr OSStatus kAudioUnitErr_FailedInitialization = -10875;
constexpr OSStatus kAudioUnitErr_TooManyFramesToProcess = -10874;
constexpr OSStatus kAudioUnitErr_FormatNotSupported = -10868;
constexpr OSStatus kAudioUnitErr_Uninitialized = -10867;
constexpr OSStatus kAudioUnitErr_InvalidScope = -10866;
constexpr OSStatus kAudioUnitErr_CannotDoInCurrentContext = -10863;
constexpr OSStatus kAudioUnitErr_InvalidPropertyValue = -10851;
constexpr OSStatus kAUGraphErr_NodeNotFound = -10860;
constexpr OSStatus kAudioComponentErr_InstanceInvalidated = -66749;
constexpr int16_t kAudioComponentErr_NotFound = -2003; // component-opening calls return 16 bits

struct SMPTETime {
    int16_t mSubframes;
    int16_t mSubframeDivisor;
    uint32_t mCounter;
    uint32_t mType;
    uint32_t mFlags;
    int16_t mHours;
    int16_t mMinutes;
    int16_t mSeconds;
    int16_t mFrames;
};

constexpr uint32_t kAudioTimeStampSampleTimeValid = 1u << 0;
constexpr uint32_t kAudioTimeStampHostTimeValid = 1u << 1;
constexpr uint32_t kAudioTimeStampRateScalarValid = 1u << 2;

struct AudioTimeStamp {
    double mSampleTime;
    uint64_t mHostTime; // nanoseconds of the monotonic clock
    double mRateScalar; // actual rate / nominal rate
    uint64_t mWordClockTime;
    SMPTETime mSMPTETime;
    uint32_t mFlags;
    uint32_t mReserved;
};

using AudioUnitRenderActionFlags = uint32_t;

// Called on an I/O thread: it must not allocate, lock or block.
using AURenderCallback = OSStatus (*)(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                      const AudioTimeStamp* inTimeStamp, uint32_t inBusNumber,
                                      uint32_t inNumberFrames, AudioBufferList* ioData);

struct AURenderCallbackStruct {
    AURenderCallback inputProc;
    void* inputProcRefCon;
};

// Called on the audio-unit service's notification thread.
using AudioUnitPropertyListenerProc = void (*)(void* inRefCon, AudioUnit inUnit, uint32_t inID,
                                               uint32_t inScope, uint32_t inElement);

#pragma once

#include "platform/audio/AudioUnitTypes.h"

// The audio-unit service on PulseAudio. Units:
//   'auou'/'ahal'  hardware input unit: a record stream on a source; every
//                  I/O cycle calls the input callback, which renders bus 1
//                  to copy that cycle's frames (float, one buffer a channel).
//   'auou'/'def '  output unit: a playback stream on a sink, pulled through
//                  its render callback or its graph connection; a software
//                  volume (parameter 14).
//   'aufc'/'vari'  varispeed: resamples what it pulls at a playback rate of
//                  0.125 to 8 (parameter 0), changeable while running.
// I/O callbacks run on the audio server connection's thread.

// Component-opening returns a 16-bit status.
int16_t AudioComponentInstanceNew(const AudioComponentDescription* description, AudioUnit* outUnit);
OSStatus AudioComponentInstanceDispose(AudioUnit unit);

OSStatus AudioUnitInitialize(AudioUnit unit);
OSStatus AudioUnitUninitialize(AudioUnit unit);
OSStatus AudioUnitSetProperty(AudioUnit unit, uint32_t property, uint32_t scope, uint32_t element,
                              const void* data, uint32_t size);
OSStatus AudioUnitGetProperty(AudioUnit unit, uint32_t property, uint32_t scope, uint32_t element,
                              void* outData, uint32_t* ioSize);
OSStatus AudioUnitSetParameter(AudioUnit unit, uint32_t parameter, uint32_t scope, uint32_t element,
                               float value, uint32_t bufferOffsetFrames);
OSStatus AudioUnitGetParameter(AudioUnit unit, uint32_t parameter, uint32_t scope, uint32_t element,
                               float* outValue);
// Real-time: from within the unit's own callback.
OSStatus AudioUnitRender(AudioUnit unit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, uint32_t inOutputBusNumber,
                         uint32_t inNumberFrames, AudioBufferList* ioData);
OSStatus AudioUnitAddPropertyListener(AudioUnit unit, uint32_t property,
                                      AudioUnitPropertyListenerProc proc, void* refCon);
// When this returns, the listener is not running and will not run again.
OSStatus AudioUnitRemovePropertyListenerWithUserData(AudioUnit unit, uint32_t property,
                                                     AudioUnitPropertyListenerProc proc,
                                                     void* refCon);
OSStatus AudioOutputUnitStart(AudioUnit unit);
// When this returns, the unit's callbacks have ended.
OSStatus AudioOutputUnitStop(AudioUnit unit);

OSStatus NewAUGraph(AUGraph* outGraph);
OSStatus AUGraphAddNode(AUGraph graph, const AudioComponentDescription* description,
                        AUNode* outNode);
OSStatus AUGraphOpen(AUGraph graph);
OSStatus AUGraphNodeInfo(AUGraph graph, AUNode node, AudioComponentDescription* outDescription,
                         AudioUnit* outUnit);
OSStatus AUGraphConnectNodeInput(AUGraph graph, AUNode sourceNode, uint32_t sourceOutput,
                                 AUNode destinationNode, uint32_t destinationInput);
OSStatus AUGraphInitialize(AUGraph graph);
OSStatus AUGraphUninitialize(AUGraph graph);
OSStatus AUGraphStart(AUGraph graph);
OSStatus AUGraphStop(AUGraph graph);
OSStatus AUGraphClose(AUGraph graph);
OSStatus DisposeAUGraph(AUGraph graph);

// Nanoseconds of the monotonic clock, the host time of time stamps.
uint64_t AudioGetCurrentHostTime();

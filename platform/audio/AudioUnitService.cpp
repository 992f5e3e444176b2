#include "platform/audio/AudioUnitService.h"

#include "platform/audio/PulseHardware.h"
#include "platform/audio/PulseInputUnit.h"
#include "platform/audio/PulseOutputUnit.h"
#include "platform/audio/PulseVarispeedUnit.h"

#include <ctime>
#include <memory>
#include <vector>

namespace {

PulseAudioUnit* unitOf(AudioUnit unit) {
    return reinterpret_cast<PulseAudioUnit*>(unit);
}

struct GraphNode {
    AudioComponentDescription description;
    AudioUnit unit = nullptr;
};

struct Graph {
    std::vector<GraphNode> nodes;
    bool open = false;
};

Graph* graphOf(AUGraph graph) {
    return reinterpret_cast<Graph*>(graph);
}

GraphNode* nodeOf(AUGraph graph, AUNode node) {
    Graph* g = graphOf(graph);
    if (!g || node < 1 || static_cast<size_t>(node) > g->nodes.size()) {
        return nullptr;
    }
    return &g->nodes[static_cast<size_t>(node) - 1];
}

// The graph's head: its output unit.
PulseAudioUnit* headOf(Graph* graph) {
    for (const GraphNode& node : graph->nodes) {
        if (node.description.componentType == kAudioUnitType_Output && node.unit) {
            return unitOf(node.unit);
        }
    }
    return nullptr;
}

} // namespace

int16_t AudioComponentInstanceNew(const AudioComponentDescription* description,
                                  AudioUnit* outUnit) {
    if (!description || !outUnit) {
        return static_cast<int16_t>(kAudio_ParamError);
    }
    *outUnit = nullptr;
    if (PulseHardware::shared().connect() != kAudioHardwareNoError) {
        return kAudioComponentErr_NotFound;
    }
    PulseAudioUnit* unit = nullptr;
    if (description->componentType == kAudioUnitType_Output &&
        description->componentSubType == kAudioUnitSubType_HALOutput) {
        unit = new PulseInputUnit;
    } else if (description->componentType == kAudioUnitType_Output &&
               description->componentSubType == kAudioUnitSubType_DefaultOutput) {
        unit = new PulseOutputUnit;
    } else if (description->componentType == kAudioUnitType_FormatConverter &&
               description->componentSubType == kAudioUnitSubType_Varispeed) {
        unit = new PulseVarispeedUnit;
    } else {
        return kAudioComponentErr_NotFound;
    }
    *outUnit = unit->handle();
    return 0;
}

OSStatus AudioComponentInstanceDispose(AudioUnit unit) {
    if (!unit) {
        return kAudio_ParamError;
    }
    delete unitOf(unit);
    return kAudioHardwareNoError;
}

OSStatus AudioUnitInitialize(AudioUnit unit) {
    return unit ? unitOf(unit)->initialize() : kAudio_ParamError;
}

OSStatus AudioUnitUninitialize(AudioUnit unit) {
    return unit ? unitOf(unit)->uninitialize() : kAudio_ParamError;
}

OSStatus AudioUnitSetProperty(AudioUnit unit, uint32_t property, uint32_t scope, uint32_t element,
                              const void* data, uint32_t size) {
    return unit ? unitOf(unit)->setProperty(property, scope, element, data, size)
                : kAudio_ParamError;
}

OSStatus AudioUnitGetProperty(AudioUnit unit, uint32_t property, uint32_t scope, uint32_t element,
                              void* outData, uint32_t* ioSize) {
    return unit ? unitOf(unit)->getProperty(property, scope, element, outData, ioSize)
                : kAudio_ParamError;
}

OSStatus AudioUnitSetParameter(AudioUnit unit, uint32_t parameter, uint32_t scope, uint32_t,
                               float value, uint32_t) {
    return unit ? unitOf(unit)->setParameter(parameter, scope, value) : kAudio_ParamError;
}

OSStatus AudioUnitGetParameter(AudioUnit unit, uint32_t parameter, uint32_t scope, uint32_t,
                               float* outValue) {
    return unit ? unitOf(unit)->getParameter(parameter, scope, outValue) : kAudio_ParamError;
}

OSStatus AudioUnitRender(AudioUnit unit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, uint32_t inOutputBusNumber,
                         uint32_t inNumberFrames, AudioBufferList* ioData) {
    return unit ? unitOf(unit)->render(ioActionFlags, inTimeStamp, inOutputBusNumber,
                                       inNumberFrames, ioData)
                : kAudio_ParamError;
}

OSStatus AudioUnitAddPropertyListener(AudioUnit unit, uint32_t property,
                                      AudioUnitPropertyListenerProc proc, void* refCon) {
    return unit ? unitOf(unit)->addPropertyListener(property, proc, refCon) : kAudio_ParamError;
}

OSStatus AudioUnitRemovePropertyListenerWithUserData(AudioUnit unit, uint32_t property,
                                                     AudioUnitPropertyListenerProc proc,
                                                     void* refCon) {
    return unit ? unitOf(unit)->removePropertyListener(property, proc, refCon) : kAudio_ParamError;
}

OSStatus AudioOutputUnitStart(AudioUnit unit) {
    return unit ? unitOf(unit)->start() : kAudio_ParamError;
}

OSStatus AudioOutputUnitStop(AudioUnit unit) {
    return unit ? unitOf(unit)->stop() : kAudio_ParamError;
}

// Graphs

OSStatus NewAUGraph(AUGraph* outGraph) {
    if (!outGraph) {
        return kAudio_ParamError;
    }
    *outGraph = reinterpret_cast<AUGraph>(new Graph);
    return kAudioHardwareNoError;
}

OSStatus AUGraphAddNode(AUGraph graph, const AudioComponentDescription* description,
                        AUNode* outNode) {
    if (!graph || !description || !outNode) {
        return kAudio_ParamError;
    }
    Graph* g = graphOf(graph);
    g->nodes.push_back({*description, nullptr});
    *outNode = static_cast<AUNode>(g->nodes.size());
    if (g->open) {
        return AudioComponentInstanceNew(description, &g->nodes.back().unit);
    }
    return kAudioHardwareNoError;
}

OSStatus AUGraphOpen(AUGraph graph) {
    if (!graph) {
        return kAudio_ParamError;
    }
    Graph* g = graphOf(graph);
    for (GraphNode& node : g->nodes) {
        if (!node.unit) {
            if (const int16_t status = AudioComponentInstanceNew(&node.description, &node.unit)) {
                return status;
            }
        }
    }
    g->open = true;
    return kAudioHardwareNoError;
}

OSStatus AUGraphNodeInfo(AUGraph graph, AUNode node, AudioComponentDescription* outDescription,
                         AudioUnit* outUnit) {
    GraphNode* found = nodeOf(graph, node);
    if (!found) {
        return kAUGraphErr_NodeNotFound;
    }
    if (outDescription) {
        *outDescription = found->description;
    }
    if (outUnit) {
        *outUnit = found->unit;
    }
    return kAudioHardwareNoError;
}

OSStatus AUGraphConnectNodeInput(AUGraph graph, AUNode sourceNode, uint32_t sourceOutput,
                                 AUNode destinationNode, uint32_t destinationInput) {
    GraphNode* source = nodeOf(graph, sourceNode);
    GraphNode* destination = nodeOf(graph, destinationNode);
    if (!source || !destination || !source->unit || !destination->unit) {
        return kAUGraphErr_NodeNotFound;
    }
    if (sourceOutput != 0 || destinationInput != 0) {
        return kAudioUnitErr_InvalidElement;
    }
    unitOf(destination->unit)->setSourceUnit(unitOf(source->unit));
    return kAudioHardwareNoError;
}

OSStatus AUGraphInitialize(AUGraph graph) {
    if (!graph) {
        return kAudio_ParamError;
    }
    for (GraphNode& node : graphOf(graph)->nodes) {
        if (node.unit && !unitOf(node.unit)->isInitialized()) {
            if (const OSStatus status = unitOf(node.unit)->initialize()) {
                return status;
            }
        }
    }
    return kAudioHardwareNoError;
}

OSStatus AUGraphUninitialize(AUGraph graph) {
    if (!graph) {
        return kAudio_ParamError;
    }
    for (GraphNode& node : graphOf(graph)->nodes) {
        if (node.unit) {
            unitOf(node.unit)->uninitialize();
        }
    }
    return kAudioHardwareNoError;
}

OSStatus AUGraphStart(AUGraph graph) {
    PulseAudioUnit* head = graph ? headOf(graphOf(graph)) : nullptr;
    return head ? head->start() : kAUGraphErr_NodeNotFound;
}

OSStatus AUGraphStop(AUGraph graph) {
    PulseAudioUnit* head = graph ? headOf(graphOf(graph)) : nullptr;
    return head ? head->stop() : kAUGraphErr_NodeNotFound;
}

OSStatus AUGraphClose(AUGraph graph) {
    if (!graph) {
        return kAudio_ParamError;
    }
    Graph* g = graphOf(graph);
    // The head first, so nothing pulls from a unit that is gone.
    if (PulseAudioUnit* head = headOf(g)) {
        head->stop();
    }
    for (GraphNode& node : g->nodes) {
        if (node.unit) {
            AudioComponentInstanceDispose(node.unit);
            node.unit = nullptr;
        }
    }
    g->open = false;
    return kAudioHardwareNoError;
}

OSStatus DisposeAUGraph(AUGraph graph) {
    if (!graph) {
        return kAudio_ParamError;
    }
    AUGraphClose(graph);
    delete graphOf(graph);
    return kAudioHardwareNoError;
}

uint64_t AudioGetCurrentHostTime() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

#include "audio/dsp/SMono.h"

#include "audio/realtime/SAssert.h"

#include <cstdlib>

SMono* SMonoCreate() {
    auto* self = static_cast<SMono*>(std::calloc(1, sizeof(SMono)));
    if (self) {
        SMonoInitialize(self);
    }
    return self;
}

void SMonoDestroy(SMono* self) {
    if (!self) {
        return;
    }
    SMonoDealloc(self);
    std::free(self);
}

void SMonoInitialize(SMono* self) {
    self->mPanAmount = 0.5;
    self->mOutOfPhase = false;
}

void SMonoDealloc(SMono*) {}

void SMonoSetPanAmount(SMono* self, double panAmount) {
    self->mPanAmount = panAmount;
}

double SMonoPanAmount(const SMono* self) {
    return self->mPanAmount;
}

void SMonoSetOutOfPhase(SMono* self, bool outOfPhase) {
    self->mOutOfPhase = outOfPhase;
}

bool SMonoOutOfPhase(const SMono* self) {
    return self->mOutOfPhase;
}

// Real-time: no allocation, no locks.
uint32_t SMonoProcess(SMono* self, float* const inChannels[2], uint32_t inSignalLength,
                      float* const outChannels[2], uint32_t outSignalLength) {
    SAssert(inSignalLength == outSignalLength, "SMono", "inSignalLength == outSignalLength");
    const float a = static_cast<float>(self->mPanAmount);
    const float keep = 1.0f - a;
    const float* left = inChannels[0];
    const float* right = inChannels[1];
    float* outLeft = outChannels[0];
    float* outRight = outChannels[1];
    if (self->mOutOfPhase) {
        for (uint32_t i = 0; i < inSignalLength; ++i) {
            const float l = left[i];
            const float r = right[i];
            const float newLeft = l * keep - r * a;
            outLeft[i] = newLeft;
            outRight[i] = newLeft * keep - r * a;
        }
    } else {
        for (uint32_t i = 0; i < inSignalLength; ++i) {
            const float l = left[i];
            const float r = right[i];
            const float newLeft = l * keep + r * a;
            outLeft[i] = newLeft;
            outRight[i] = r * a + newLeft * keep;
        }
    }
    return inSignalLength;
}

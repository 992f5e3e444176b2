#pragma once

#include <cstdint>

// Folds a stereo pair towards mono. The pan amount a (0 to 1) says how much
// of the other channel each side takes: 0 leaves the pair as it is, 0.5 puts
// the left at the pair's mean. Out of phase, the right channel is taken
// inverted, which cancels what both sides share.
struct SMono {
    double mPanAmount; // default 0.5
    bool mOutOfPhase;  // default off
};

SMono* SMonoCreate();
void SMonoDestroy(SMono* self);
void SMonoInitialize(SMono* self);
void SMonoDealloc(SMono* self);

void SMonoSetPanAmount(SMono* self, double panAmount);
double SMonoPanAmount(const SMono* self);
void SMonoSetOutOfPhase(SMono* self, bool outOfPhase);
bool SMonoOutOfPhase(const SMono* self);

// Reads the pair `inChannels` (left, right) and writes the folded pair into
// `outChannels`, which may be the same arrays. Per sample, with a the pan
// amount:
//   in phase:     L' = L(1 - a) + R a,   R' = R a + L'(1 - a)
//   out of phase: L' = L(1 - a) - R a,   R' = L'(1 - a) - R a
// The right side is made from the new left value. The lengths must be equal
// (a programming error otherwise, which aborts). Returns the length.
// Real-time: no allocation, no locks.
uint32_t SMonoProcess(SMono* self, float* const inChannels[2], uint32_t inSignalLength,
                      float* const outChannels[2], uint32_t outSignalLength);

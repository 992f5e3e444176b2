#pragma once

#include "audio/realtime/SMutex.h"

#include <pthread.h>

// A mutex with a condition variable. Notifying does not take the mutex, so a
// notice given while nobody waits is lost; callers check their condition
// under the mutex before they wait.
struct SGuard {
    SMutex mMutex;
    pthread_cond_t mCondition;
};

SGuard* SGuardCreate(const char* name);
bool SGuardInitialize(SGuard* self, const char* name);
void SGuardDestroy(SGuard* self);
void SGuardDealloc(SGuard* self);

// The caller must own the guard's mutex; it owns it again when this returns.
void SGuardWait(SGuard* self);
// Like SGuardWait, but returns after `seconds` at the latest; true when notified
// (or woken spuriously) before the time ran out.
bool SGuardWaitFor(SGuard* self, double seconds);
void SGuardNotify(SGuard* self);
void SGuardNotifyAll(SGuard* self);

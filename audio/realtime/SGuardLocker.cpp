#include "audio/realtime/SGuardLocker.h"

#include <cstdlib>

SGuardLocker* SGuardLockerCreate(SGuard* guard) {
    auto* self = static_cast<SGuardLocker*>(std::calloc(1, sizeof(SGuardLocker)));
    if (self) {
        SGuardLockerInitialize(self, guard);
    }
    return self;
}

void SGuardLockerInitialize(SGuardLocker* self, SGuard* guard) {
    self->mGuard = guard;
    self->mNeedsRelease = SMutexLock(&guard->mMutex);
}

void SGuardLockerDestroy(SGuardLocker* self) {
    if (self) {
        SGuardLockerDealloc(self);
        std::free(self);
    }
}

void SGuardLockerDealloc(SGuardLocker* self) {
    if (self->mNeedsRelease) {
        SMutexUnlock(&self->mGuard->mMutex);
        self->mNeedsRelease = false;
    }
}

void SGuardLockerWait(SGuardLocker* self) {
    SGuardWait(self->mGuard);
}

bool SGuardLockerWaitFor(SGuardLocker* self, double seconds) {
    return SGuardWaitFor(self->mGuard, seconds);
}

void SGuardLockerNotify(SGuardLocker* self) {
    SGuardNotify(self->mGuard);
}

void SGuardLockerNotifyAll(SGuardLocker* self) {
    SGuardNotifyAll(self->mGuard);
}

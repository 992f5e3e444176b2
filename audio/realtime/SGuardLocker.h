#pragma once

#include "audio/realtime/SGuard.h"

// Holds a guard's mutex for a scope. A locker made by a thread that already
// owns the guard does not take it and so does not release it.
struct SGuardLocker {
    SGuard* mGuard;
    bool mNeedsRelease; // true when this locker took the lock
};

SGuardLocker* SGuardLockerCreate(SGuard* guard);
void SGuardLockerInitialize(SGuardLocker* self, SGuard* guard);
void SGuardLockerDestroy(SGuardLocker* self);
void SGuardLockerDealloc(SGuardLocker* self);

void SGuardLockerWait(SGuardLocker* self);
bool SGuardLockerWaitFor(SGuardLocker* self, double seconds);
void SGuardLockerNotify(SGuardLocker* self);
void SGuardLockerNotifyAll(SGuardLocker* self);

// The same as a C++ scope: locks on construction, unlocks on destruction.
class SGuardScope {
public:
    explicit SGuardScope(SGuard* guard) { SGuardLockerInitialize(&mLocker, guard); }
    ~SGuardScope() { SGuardLockerDealloc(&mLocker); }
    SGuardScope(const SGuardScope&) = delete;
    SGuardScope& operator=(const SGuardScope&) = delete;

    void wait() { SGuardLockerWait(&mLocker); }
    bool waitFor(double seconds) { return SGuardLockerWaitFor(&mLocker, seconds); }
    void notify() { SGuardLockerNotify(&mLocker); }
    void notifyAll() { SGuardLockerNotifyAll(&mLocker); }
    bool tookLock() const { return mLocker.mNeedsRelease; }

private:
    SGuardLocker mLocker;
};

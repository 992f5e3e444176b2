#pragma once

#include <pthread.h>

// A non-recursive mutex that records the thread holding it. Locking it again
// from the owning thread is reported (false), not counted.
struct SMutex {
    const char* mName; // not copied: the caller keeps it alive
    pthread_t mOwner;  // 0 when free; read by other threads through atomic access
    pthread_mutex_t mMutex;
};

// Allocates and initializes a mutex; nullptr when the platform mutex cannot be made.
SMutex* SMutexCreate(const char* name);
// Initializes caller-owned memory; false when the platform mutex cannot be made.
bool SMutexInitialize(SMutex* self, const char* name);
void SMutexDestroy(SMutex* self);
void SMutexDealloc(SMutex* self);

// Blocks until the mutex is taken. Returns false at once, changing nothing,
// when the calling thread already owns it.
bool SMutexLock(SMutex* self);
// The caller must own the mutex.
void SMutexUnlock(SMutex* self);
// Returns false when another thread holds the mutex. `acquired` tells whether
// this call took it (false also when the caller already owned it).
bool SMutexTry(SMutex* self, bool* acquired);
bool SMutexIsFree(const SMutex* self);
bool SMutexIsOwnedByCurrentThread(const SMutex* self);

// Owner bookkeeping shared with SGuard.
void SMutexSetOwner(SMutex* self, pthread_t owner);
pthread_t SMutexOwner(const SMutex* self);

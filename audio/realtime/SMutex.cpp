#include "audio/realtime/SMutex.h"

#include "audio/realtime/SAssert.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

SMutex* SMutexCreate(const char* name) {
    auto* self = static_cast<SMutex*>(std::calloc(1, sizeof(SMutex)));
    if (self && !SMutexInitialize(self, name)) {
        std::free(self);
        return nullptr;
    }
    return self;
}

bool SMutexInitialize(SMutex* self, const char* name) {
    self->mName = name;
    SMutexSetOwner(self, 0);
    return pthread_mutex_init(&self->mMutex, nullptr) == 0;
}

void SMutexDestroy(SMutex* self) {
    if (self) {
        SMutexDealloc(self);
        std::free(self);
    }
}

void SMutexDealloc(SMutex* self) {
    pthread_mutex_destroy(&self->mMutex);
}

void SMutexSetOwner(SMutex* self, pthread_t owner) {
    std::atomic_ref<pthread_t>(self->mOwner).store(owner, std::memory_order_release);
}

pthread_t SMutexOwner(const SMutex* self) {
    return std::atomic_ref<pthread_t>(const_cast<pthread_t&>(self->mOwner))
        .load(std::memory_order_acquire);
}

bool SMutexIsFree(const SMutex* self) {
    return SMutexOwner(self) == 0;
}

bool SMutexIsOwnedByCurrentThread(const SMutex* self) {
    const pthread_t owner = SMutexOwner(self);
    return owner != 0 && pthread_equal(owner, pthread_self());
}

bool SMutexLock(SMutex* self) {
    if (SMutexIsOwnedByCurrentThread(self)) {
        return false;
    }
    const int err = pthread_mutex_lock(&self->mMutex);
    if (err != 0) {
        return false;
    }
    SMutexSetOwner(self, pthread_self());
    return true;
}

void SMutexUnlock(SMutex* self) {
    SAssert(SMutexIsOwnedByCurrentThread(self), "SMutex", "false");
    SMutexSetOwner(self, 0);
    const int err = pthread_mutex_unlock(&self->mMutex);
    SAssert(err == 0, "SMutex", "err == 0");
}

bool SMutexTry(SMutex* self, bool* acquired) {
    if (SMutexIsOwnedByCurrentThread(self)) {
        *acquired = false;
        return true;
    }
    const int err = pthread_mutex_trylock(&self->mMutex);
    if (err == EBUSY) {
        *acquired = false;
        return false;
    }
    SAssert(err == 0, "SMutex", "false");
    SMutexSetOwner(self, pthread_self());
    *acquired = true;
    return true;
}

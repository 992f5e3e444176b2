#include "audio/realtime/SGuard.h"

#include "audio/realtime/SAssert.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>

SGuard* SGuardCreate(const char* name) {
    auto* self = static_cast<SGuard*>(std::calloc(1, sizeof(SGuard)));
    if (self && !SGuardInitialize(self, name)) {
        std::free(self);
        return nullptr;
    }
    return self;
}

bool SGuardInitialize(SGuard* self, const char* name) {
    if (!SMutexInitialize(&self->mMutex, name)) {
        return false;
    }
    const int status = pthread_cond_init(&self->mCondition, nullptr);
    SAssert(status == 0, "SGuard", "status == 0");
    return true;
}

void SGuardDestroy(SGuard* self) {
    if (self) {
        SGuardDealloc(self);
        std::free(self);
    }
}

void SGuardDealloc(SGuard* self) {
    pthread_cond_destroy(&self->mCondition);
    SMutexDealloc(&self->mMutex);
}

void SGuardWait(SGuard* self) {
    SAssert(SMutexIsOwnedByCurrentThread(&self->mMutex), "SGuard",
            "pthread_equal( pthread_self(), self->mMutex.mOwner )");
    SMutexSetOwner(&self->mMutex, 0);
    const int status = pthread_cond_wait(&self->mCondition, &self->mMutex.mMutex);
    SAssert(status == 0, "SGuardInternal", "status == 0");
    SMutexSetOwner(&self->mMutex, pthread_self());
}

bool SGuardWaitFor(SGuard* self, double seconds) {
    SAssert(SMutexIsOwnedByCurrentThread(&self->mMutex), "SGuard",
            "pthread_equal( pthread_self(), self->mMutex.mOwner )");
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const double whole = std::floor(seconds);
    deadline.tv_sec += static_cast<time_t>(whole);
    deadline.tv_nsec += static_cast<long>((seconds - whole) * 1e9);
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    SMutexSetOwner(&self->mMutex, 0);
    const int status = pthread_cond_timedwait(&self->mCondition, &self->mMutex.mMutex, &deadline);
    SAssert(status == 0 || status == ETIMEDOUT, "SGuardInternal", "status == 0");
    SMutexSetOwner(&self->mMutex, pthread_self());
    return status == 0;
}

void SGuardNotify(SGuard* self) {
    const int status = pthread_cond_signal(&self->mCondition);
    SAssert(status == 0, "SGuardInternal", "status == 0");
}

void SGuardNotifyAll(SGuard* self) {
    const int status = pthread_cond_broadcast(&self->mCondition);
    SAssert(status == 0, "SGuardInternal", "status == 0");
}

#include "audio/realtime/SQueueWorker.h"

#include "audio/realtime/SGuardLocker.h"
#include "platform/audio/PulseHardware.h"

#include <algorithm>
#include <cstdio>
#include <sched.h>
#include <string>

namespace {

// Processes the item and clears its in-progress mark. The item kinds catch
// what their callbacks raise; this is the last line, so that nothing ever
// ends the process from a worker.
void runItemCaught(SQueueWorker* self, void* item) {
    try {
        self->mRunItem(item);
    } catch (const std::exception& exception) {
        SQueueWorkerLogException(exception.what());
    } catch (...) {
        SQueueWorkerLogException("unknown exception");
    }
}

// Real-time: no allocation, no locks. sem_post is async-signal-safe.
void wake(SQueueWorker* self) {
    sem_post(&self->mWake);
}

// Sleeps until the worker is posted. Posts made meanwhile are taken too:
// each was made after its push, so the look at the stack that follows sees
// their items.
void sleepUntilWoken(SQueueWorker* self) {
    while (sem_wait(&self->mWake) != 0) {
        // EINTR: a signal handler ran; sleep on
    }
    while (sem_trywait(&self->mWake) == 0) {
    }
}

void* workerMain(void* argument) {
    auto* self = static_cast<SQueueWorker*>(argument);
    for (;;) {
        sleepUntilWoken(self);
        if (self->mStopFlag.load() != 0) {
            break;
        }
        SGuardScope scope(self->mGuard);
        while (self->mStopFlag.load() == 0 && !SAtomicStackIsEmpty(self->mStack)) {
            void* item = SAtomicStackPopAllReversed(self->mStack);
            while (item) {
                void* next = self->mNextOf(item);
                runItemCaught(self, item);
                item = next;
            }
        }
        scope.notifyAll(); // owners waiting for pending items
    }
    {
        // Owners waiting for pending items learn that nobody will do them.
        // The guard is gone once the finished flag is up: notify before.
        SGuardScope scope(self->mGuard);
        scope.notifyAll();
    }
    pthread_mutex_lock(&self->mShutdownMutex);
    self->mFinished.fetch_add(1);
    pthread_cond_broadcast(&self->mShutdownCondition); // every teardown waits
    pthread_mutex_unlock(&self->mShutdownMutex);
    return nullptr;
}

// The thread's name (what ps and top show): the label's last part.
void nameThread(pthread_t thread, const char* label) {
    std::string name = label;
    if (const auto dot = name.rfind('.'); dot != std::string::npos) {
        name.erase(0, dot + 1);
    }
    name.resize(std::min<size_t>(name.size(), 15));
    pthread_setname_np(thread, name.c_str());
}

// Workers run ahead of ordinary threads, but behind the I/O thread that
// wakes them, when the system lets them.
void raisePriority(pthread_t thread) {
    sched_param parameters{};
    parameters.sched_priority = PulseHardware::kWorkerThreadPriority;
    pthread_setschedparam(thread, SCHED_FIFO, &parameters); // failure: normal priority
}

void runNotification(void* item) {
    SQueueWorkerProcessItem(static_cast<SQueueableAudioNotification*>(item));
}

void* nextNotification(void* item) {
    return static_cast<SQueueableAudioNotification*>(item)->mNext;
}

void setNextNotification(void* item, void* next) {
    static_cast<SQueueableAudioNotification*>(item)->mNext =
        static_cast<SQueueableAudioNotification*>(next);
}

} // namespace

SQueueWorker* SQueueWorkerCreate(const char* label, void (*runItem)(void*), void* (*nextOf)(void*),
                                 void (*setNext)(void*, void*)) {
    auto* self = new SQueueWorker;
    self->mRunItem = runItem;
    self->mNextOf = nextOf;
    self->mSetNext = setNext;
    self->mGuard = SGuardCreate(label);
    self->mStack = SAtomicStackCreate(nextOf, setNext);
    sem_init(&self->mWake, 0, 0);
    pthread_mutex_init(&self->mShutdownMutex, nullptr);
    pthread_cond_init(&self->mShutdownCondition, nullptr);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (!self->mGuard || !self->mStack ||
        pthread_create(&self->mThread, &attributes, workerMain, self) != 0) {
        pthread_attr_destroy(&attributes);
        SAtomicStackDestroy(self->mStack);
        SGuardDestroy(self->mGuard);
        sem_destroy(&self->mWake);
        pthread_mutex_destroy(&self->mShutdownMutex);
        pthread_cond_destroy(&self->mShutdownCondition);
        delete self;
        return nullptr;
    }
    pthread_attr_destroy(&attributes);
    nameThread(self->mThread, label);
    raisePriority(self->mThread);
    return self;
}

void SQueueWorkerLogException(const char* reason) {
    std::fprintf(stderr, "(ERROR) SQueueWorker : %s\n", reason);
}

// Real-time: no allocation, no locks.
void SQueueWorkerAdd(SQueueWorker* self, void* item) {
    SAtomicStackPush(self->mStack, item);
    wake(self);
}

void SQueueWorkerStop(SQueueWorker* self) {
    wake(self);
}

// Every caller waits for the thread to end, also one that finds the worker
// already told to stop: a second teardown racing the first must not let its
// caller free the worker while the thread still runs.
void SQueueWorkerTeardown(SQueueWorker* self) {
    if (self->mStopFlag.exchange(1) == 0) {
        wake(self);
    }
    pthread_mutex_lock(&self->mShutdownMutex);
    while (self->mFinished.load() == 0) {
        pthread_cond_wait(&self->mShutdownCondition, &self->mShutdownMutex);
    }
    pthread_mutex_unlock(&self->mShutdownMutex);
}

void SQueueWorkerDestroy(SQueueWorker* self) {
    if (!self) {
        return;
    }
    SQueueWorkerTeardown(self);
    SAtomicStackDestroy(self->mStack);
    SGuardDestroy(self->mGuard);
    sem_destroy(&self->mWake);
    pthread_mutex_destroy(&self->mShutdownMutex);
    pthread_cond_destroy(&self->mShutdownCondition);
    delete self;
}

void SQueueWorkerWaitUntil(SQueueWorker* self, const std::function<bool()>& done) {
    SGuardScope scope(self->mGuard);
    while (!done()) {
        if (self->mStopFlag.load() != 0) {
            return; // nobody left to do the work
        }
        scope.wait();
    }
}

SAudioNotificationQueueWorker* SAudioNotificationQueueWorkerCreate() {
    return SQueueWorkerCreate("org.cassora.VELKAudio.worker_thread", runNotification,
                              nextNotification, setNextNotification);
}

// Real-time: no allocation, no locks.
void SAudioNotificationQueueWorkerAddNotification(SAudioNotificationQueueWorker* self,
                                                  SQueueableAudioNotification* notification) {
    notification->mInProgress.store(true, std::memory_order_relaxed);
    SQueueWorkerAdd(self, notification);
}

SQueueableAudioNotification*
SQueueableAudioNotificationCreate(std::function<void(SQueueableAudioNotification*)> process) {
    auto* notification = new SQueueableAudioNotification;
    notification->mProcess = std::move(process);
    return notification;
}

void SQueueableAudioNotificationDestroy(SQueueableAudioNotification* notification) {
    delete notification;
}

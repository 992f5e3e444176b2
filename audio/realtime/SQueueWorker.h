#pragma once

#include "audio/realtime/SAtomicStack.h"
#include "audio/realtime/SGuard.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <pthread.h>
#include <semaphore.h>

// Items handed to a worker: a processing callback, the in-progress mark the
// worker clears when done, and the stack link.
struct SQueueableAudioNotification {
    std::function<void(SQueueableAudioNotification*)> mProcess;
    std::atomic<bool> mInProgress{false};
    SQueueableAudioNotification* mNext = nullptr;
};

// A worker thread fed through a lock-free stack. Items run oldest first, one
// at a time, on the worker's thread. The owner of the items keeps them alive
// until the worker has finished with them.
//
// The worker sleeps on a semaphore until it is posted: once for every push
// and once for a stop or teardown. A post is counted even when nobody waits
// yet, so neither a push nor a stop can fall between the worker's last look
// and its sleep; posting takes no lock and allocates nothing, so real-time
// threads post. The worker holds the guard while it runs a batch and
// notifies it after each one, so an owner waiting under the guard for
// pending items hears of every batch.
struct SQueueWorker {
    std::atomic<int32_t> mStopFlag{0};
    SGuard* mGuard = nullptr;
    SAtomicStack* mStack = nullptr;
    sem_t mWake;
    pthread_mutex_t mShutdownMutex;
    pthread_cond_t mShutdownCondition;
    std::atomic<int32_t> mFinished{0};
    pthread_t mThread{};
    // How an item is processed and how its in-progress mark is cleared.
    void (*mRunItem)(void* item) = nullptr;
    void* (*mNextOf)(void* item) = nullptr;
    void (*mSetNext)(void* item, void* next) = nullptr;
};

// Starts the worker's thread at once; `label` names its guard.
SQueueWorker* SQueueWorkerCreate(const char* label, void (*runItem)(void*), void* (*nextOf)(void*),
                                 void (*setNext)(void*, void*));
// Real-time: pushes the item (already marked in progress) and wakes the worker.
void SQueueWorkerAdd(SQueueWorker* self, void* item);
// Wakes the worker to look at its stack; it goes on running.
void SQueueWorkerStop(SQueueWorker* self);
// Stops the thread and waits for it to end; items still waiting are not run.
// Safe to call from several threads at once: each returns once the thread
// has ended.
void SQueueWorkerTeardown(SQueueWorker* self);
void SQueueWorkerDestroy(SQueueWorker* self);
// Blocks the caller until `done` holds, re-checking it whenever the worker
// finishes a batch; returns early when the worker was told to stop, as
// nobody is left to do the work. `done` may only turn true through the
// worker's processing.
void SQueueWorkerWaitUntil(SQueueWorker* self, const std::function<bool()>& done);

// Logs what a worker's item raised: "(ERROR) SQueueWorker : <reason>".
void SQueueWorkerLogException(const char* reason);

// Runs an item's processing callback on the worker and hands the item back by
// clearing its in-progress mark. A worker has nobody to raise to: what the
// callback raises is logged, and the owner learns of a failure through the
// item (a reader marks its buffer, for instance), never through the thread.
template <typename Item>
void SQueueWorkerProcessItem(Item* item) {
    try {
        if (item->mProcess) {
            item->mProcess(item);
        }
    } catch (const std::exception& exception) {
        SQueueWorkerLogException(exception.what());
    } catch (...) {
        SQueueWorkerLogException("unknown exception");
    }
    item->mInProgress.store(false, std::memory_order_release);
}

// The notification worker.
using SAudioNotificationQueueWorker = SQueueWorker;
SAudioNotificationQueueWorker* SAudioNotificationQueueWorkerCreate();
// Real-time: marks the notice in progress and hands it over.
void SAudioNotificationQueueWorkerAddNotification(SAudioNotificationQueueWorker* self,
                                                  SQueueableAudioNotification* notification);
inline void SAudioNotificationQueueWorkerStart(SAudioNotificationQueueWorker*) {}
inline void SAudioNotificationQueueWorkerStop(SAudioNotificationQueueWorker* self) {
    SQueueWorkerStop(self);
}
inline void SAudioNotificationQueueWorkerTeardown(SAudioNotificationQueueWorker* self) {
    SQueueWorkerTeardown(self);
}
inline void SAudioNotificationQueueWorkerDestroy(SAudioNotificationQueueWorker* self) {
    SQueueWorkerDestroy(self);
}

SQueueableAudioNotification*
SQueueableAudioNotificationCreate(std::function<void(SQueueableAudioNotification*)> process);
void SQueueableAudioNotificationDestroy(SQueueableAudioNotification* notification);

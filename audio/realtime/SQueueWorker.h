#pragma once

#include "audio/realtime/SAtomicStack.h"
#include "audio/realtime/SGuard.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <pthread.h>

// Items handed to a worker: a processing callback, the in-progress mark the
// worker clears when done, and the stack link.
struct SQueueableAudioNotification {
    std::function<void(SQueueableAudioNotification*)> mProcess;
    std::atomic<bool> mInProgress{false};
    SQueueableAudioNotification* mNext = nullptr;
};

// A worker thread fed through a lock-free stack and woken through a guard.
// Items run oldest first, one at a time, on the worker's thread. The owner of
// the items keeps them alive until the worker has finished with them.
struct SQueueWorker {
    std::atomic<int32_t> mStopFlag{0};
    SGuard* mGuard = nullptr;
    SAtomicStack* mStack = nullptr;
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
void SQueueWorkerStop(SQueueWorker* self);
// Stops the thread and waits for it; items still waiting are not run.
// Returns at once when the worker was already told to stop.
void SQueueWorkerTeardown(SQueueWorker* self);
void SQueueWorkerDestroy(SQueueWorker* self);
// Blocks the caller until `done` holds, re-checking it whenever the worker
// finishes a batch (and at least every 10 ms).
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

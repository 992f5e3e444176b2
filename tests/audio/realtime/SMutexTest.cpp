#include "audio/realtime/SMutex.h"
#include "audio/realtime/SGuard.h"
#include "audio/realtime/SGuardLocker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(SMutex, ReentryIsReportedNotCounted) {
    SMutex* mutex = SMutexCreate("re-entry");
    ASSERT_NE(mutex, nullptr);
    EXPECT_TRUE(SMutexIsFree(mutex));
    EXPECT_TRUE(SMutexLock(mutex));
    EXPECT_FALSE(SMutexLock(mutex));
    EXPECT_TRUE(SMutexIsOwnedByCurrentThread(mutex));
    SMutexUnlock(mutex);
    EXPECT_TRUE(SMutexIsFree(mutex)) << "one unlock frees it";
    SMutexDestroy(mutex);
}

TEST(SMutex, TryAcrossThreads) {
    SMutex* mutex = SMutexCreate("try");
    bool acquired = true;
    EXPECT_TRUE(SMutexTry(mutex, &acquired));
    EXPECT_TRUE(acquired);
    EXPECT_TRUE(SMutexTry(mutex, &acquired)) << "held by the caller";
    EXPECT_FALSE(acquired);

    std::thread other([&] {
        bool otherAcquired = true;
        EXPECT_FALSE(SMutexTry(mutex, &otherAcquired));
        EXPECT_FALSE(otherAcquired);
        EXPECT_FALSE(SMutexIsOwnedByCurrentThread(mutex));
        EXPECT_FALSE(SMutexIsFree(mutex));
    });
    other.join();

    SMutexUnlock(mutex);
    std::thread later([&] {
        bool laterAcquired = false;
        EXPECT_TRUE(SMutexTry(mutex, &laterAcquired));
        EXPECT_TRUE(laterAcquired);
        SMutexUnlock(mutex);
    });
    later.join();
    EXPECT_TRUE(SMutexIsFree(mutex));
    SMutexDestroy(mutex);
}

TEST(SMutex, LockExcludesOtherThreads) {
    SMutex* mutex = SMutexCreate("counter");
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            ASSERT_TRUE(SMutexLock(mutex));
            ++counter;
            SMutexUnlock(mutex);
        }
    };
    std::thread a(work), b(work), c(work);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(counter, 60000);
    SMutexDestroy(mutex);
}

TEST(SMutexDeathTest, UnlockByNonOwnerStops) {
    SMutex* mutex = SMutexCreate("misuse");
    EXPECT_DEATH(SMutexUnlock(mutex), "SMutex.*false");
    SMutexDestroy(mutex);
}

TEST(SGuardDeathTest, WaitWithoutOwningStops) {
    SGuard* guard = SGuardCreate("misuse");
    EXPECT_DEATH(SGuardWait(guard), "pthread_equal\\( pthread_self\\(\\), self->mMutex.mOwner \\)");
    SGuardDestroy(guard);
}

TEST(SGuardLocker, NestedLockerDoesNotUnlock) {
    SGuard* guard = SGuardCreate("nested");
    SGuardLocker* outer = SGuardLockerCreate(guard);
    EXPECT_TRUE(outer->mNeedsRelease);
    SGuardLocker* inner = SGuardLockerCreate(guard);
    EXPECT_FALSE(inner->mNeedsRelease);
    SGuardLockerDestroy(inner);
    EXPECT_TRUE(SMutexIsOwnedByCurrentThread(&guard->mMutex)) << "still held by the outer locker";
    SGuardLockerDestroy(outer);
    EXPECT_TRUE(SMutexIsFree(&guard->mMutex));
    SGuardDestroy(guard);
}

TEST(SGuard, WaitReleasesTheMutexUntilNotified) {
    SGuard* guard = SGuardCreate("handshake");
    std::atomic<bool> ready{false};
    bool delivered = false;

    std::thread waiter([&] {
        SGuardScope scope(guard);
        ready = true;
        while (!delivered) {
            scope.wait();
        }
        EXPECT_TRUE(SMutexIsOwnedByCurrentThread(&guard->mMutex));
    });
    while (!ready) {
        std::this_thread::yield();
    }
    {
        // Taking the lock proves the waiter released it while waiting.
        SGuardScope scope(guard);
        delivered = true;
        scope.notify();
    }
    waiter.join();
    EXPECT_TRUE(SMutexIsFree(&guard->mMutex));
    SGuardDestroy(guard);
}

TEST(SGuard, TimedWaitReturnsWhenTimeRunsOut) {
    SGuard* guard = SGuardCreate("timed");
    {
        SGuardScope scope(guard);
        EXPECT_FALSE(scope.waitFor(0.01));
        EXPECT_TRUE(SMutexIsOwnedByCurrentThread(&guard->mMutex));
    }
    SGuardDestroy(guard);
}

} // namespace

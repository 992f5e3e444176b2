#include "audio/realtime/SQueueWorker.h"

#include "RealtimeAllocationGuard.h"
#include "platform/audio/RealtimeScope.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

// A worker sleeps until it is handed something or told to stop: a lost
// wake-up would leave work undone or a teardown waiting for ever, so these
// tests race pushes and stops against the worker going to sleep, many times
// over. Each wait has a deadline far beyond any scheduling delay; missing it
// means the wake-up was lost.

namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 5s;

bool waitFor(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

struct Worker {
    SAudioNotificationQueueWorker* worker = SAudioNotificationQueueWorkerCreate();
    ~Worker() {
        if (worker) {
            SAudioNotificationQueueWorkerTeardown(worker);
            SAudioNotificationQueueWorkerDestroy(worker);
        }
    }
};

struct Notice {
    SQueueableAudioNotification* notice;
    explicit Notice(std::function<void()> body)
        : notice(SQueueableAudioNotificationCreate(
              [body = std::move(body)](SQueueableAudioNotification*) { body(); })) {}
    ~Notice() { SQueueableAudioNotificationDestroy(notice); }
    bool pending() const { return notice->mInProgress.load(); }
};

std::set<std::string> threadIDs() {
    std::set<std::string> ids;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.insert(task.path().filename().string());
    }
    return ids;
}

std::string threadName(const std::string& id) {
    std::ifstream file("/proc/self/task/" + id + "/comm");
    std::string name;
    std::getline(file, name);
    return name;
}

// Times the thread was switched in (the third field of its schedstat).
unsigned long long timesRun(const std::string& id) {
    std::ifstream file("/proc/self/task/" + id + "/schedstat");
    unsigned long long running = 0, waiting = 0, slices = 0;
    file >> running >> waiting >> slices;
    return slices;
}

// Whether the thread is blocked in the kernel (state S in its stat line,
// after the name in parentheses).
bool isSleeping(const std::string& id) {
    std::ifstream file("/proc/self/task/" + id + "/stat");
    std::string line;
    std::getline(file, line);
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S';
}

TEST(QueueWorker, PushesFromAnotherThreadAreNeverLeftAsleep) {
    Worker w;
    std::atomic<int> runs{0};
    Notice notice([&] { ++runs; });
    // The pushing thread stands in for an I/O thread: it hands the notice
    // over again as soon as the worker has handed it back, which is just
    // when the worker goes back to sleep.
    RealtimeAllocationGuard::reset();
    std::thread pusher([&] {
        for (int round = 0; round < 3000; ++round) {
            if (!waitFor([&] { return !notice.pending(); })) {
                return;
            }
            RealtimeScope realtime;
            SAudioNotificationQueueWorkerAddNotification(w.worker, notice.notice);
        }
    });
    pusher.join();
    ASSERT_TRUE(waitFor([&] { return runs.load() == 3000; }))
        << "a pushed notice was left asleep after " << runs.load() << " runs";
    EXPECT_EQ(RealtimeAllocationGuard::violations(), 0u) << "handing over allocated";
}

TEST(QueueWorker, ManyPushersAreAllHeard) {
    Worker w;
    constexpr int kPushers = 4;
    constexpr int kRounds = 500;
    std::atomic<int> runs{0};
    std::vector<std::unique_ptr<Notice>> notices;
    for (int i = 0; i < kPushers; ++i) {
        notices.push_back(std::make_unique<Notice>([&] { ++runs; }));
    }
    std::vector<std::thread> pushers;
    for (int i = 0; i < kPushers; ++i) {
        pushers.emplace_back([&, i] {
            for (int round = 0; round < kRounds; ++round) {
                if (!waitFor([&] { return !notices[i]->pending(); })) {
                    return;
                }
                SAudioNotificationQueueWorkerAddNotification(w.worker, notices[i]->notice);
            }
        });
    }
    for (auto& pusher : pushers) {
        pusher.join();
    }
    EXPECT_TRUE(waitFor([&] { return runs.load() == kPushers * kRounds; })) << runs.load();
}

// A teardown that lands just after a push, while the worker is busy, or
// while it falls asleep is heard every time.
TEST(QueueWorker, TeardownIsNeverLost) {
    for (int round = 0; round < 300; ++round) {
        SAudioNotificationQueueWorker* worker = SAudioNotificationQueueWorkerCreate();
        Notice notice([] {});
        if (round % 3 != 0) {
            SAudioNotificationQueueWorkerAddNotification(worker, notice.notice);
        }
        if (round % 3 == 2) {
            waitFor([&] { return !notice.pending(); });
        }
        auto teardown = std::async(std::launch::async,
                                   [worker] { SAudioNotificationQueueWorkerTeardown(worker); });
        ASSERT_EQ(teardown.wait_for(kDeadline), std::future_status::ready)
            << "teardown hung in round " << round;
        SAudioNotificationQueueWorkerDestroy(worker);
    }
}

// Two teardowns at once, while the worker is busy with an item: neither
// returns before the worker's thread has ended, so neither caller can free
// the worker under it.
TEST(QueueWorker, EveryConcurrentTeardownWaitsForTheThread) {
    SAudioNotificationQueueWorker* worker = SAudioNotificationQueueWorkerCreate();
    std::atomic<bool> running{false};
    std::atomic<bool> release{false};
    std::atomic<bool> ended{false};
    Notice notice([&] {
        running = true;
        while (!release.load()) {
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(20ms); // still inside the item after the release
        ended = true;
    });
    SAudioNotificationQueueWorkerAddNotification(worker, notice.notice);
    ASSERT_TRUE(waitFor([&] { return running.load(); }));
    auto first = std::async(std::launch::async, [&] {
        SAudioNotificationQueueWorkerTeardown(worker);
        return ended.load();
    });
    std::this_thread::sleep_for(20ms); // the first has set the stop flag by now, as a rule
    auto second = std::async(std::launch::async, [&] {
        SAudioNotificationQueueWorkerTeardown(worker);
        return ended.load();
    });
    EXPECT_EQ(second.wait_for(100ms), std::future_status::timeout)
        << "the second teardown returned while the worker still ran an item";
    release = true;
    ASSERT_EQ(first.wait_for(kDeadline), std::future_status::ready);
    ASSERT_EQ(second.wait_for(kDeadline), std::future_status::ready);
    EXPECT_TRUE(first.get());
    EXPECT_TRUE(second.get());
    SAudioNotificationQueueWorkerDestroy(worker);
}

// An owner waiting for the worker's pending items hears when they are done,
// and hears the teardown when they never will be.
TEST(QueueWorker, OwnersWaitingForPendingItemsAreWoken) {
    Worker w;
    std::atomic<int> runs{0};
    Notice notice([&] { ++runs; });
    for (int round = 0; round < 500; ++round) {
        SAudioNotificationQueueWorkerAddNotification(w.worker, notice.notice);
        SQueueWorkerWaitUntil(w.worker, [&] { return !notice.pending(); });
        ASSERT_EQ(runs.load(), round + 1);
    }

    // A notice marked for handing over but not pushed yet keeps the owner
    // waiting while the worker sleeps; the teardown must reach them both.
    Notice marked([] {});
    marked.notice->mInProgress = true;
    auto owner = std::async(std::launch::async, [&] {
        SQueueWorkerWaitUntil(w.worker, [&] { return !marked.pending(); });
    });
    std::this_thread::sleep_for(20ms); // the owner is waiting by now, as a rule
    auto teardown =
        std::async(std::launch::async, [&] { SAudioNotificationQueueWorkerTeardown(w.worker); });
    EXPECT_EQ(teardown.wait_for(kDeadline), std::future_status::ready) << "teardown hung";
    EXPECT_EQ(owner.wait_for(kDeadline), std::future_status::ready)
        << "the owner still waits for a notice nobody will run";
    marked.notice->mInProgress = false;
}

// A worker with nothing to do sleeps: it is not switched in at all until it
// is handed something.
TEST(QueueWorker, AnIdleWorkerDoesNotWake) {
    const std::set<std::string> before = threadIDs();
    Worker w;
    std::string workerID;
    for (const std::string& id : threadIDs()) {
        if (!before.count(id) && threadName(id) == "worker_thread") {
            workerID = id;
        }
    }
    ASSERT_FALSE(workerID.empty());
    std::atomic<int> runs{0};
    Notice notice([&] { ++runs; });
    SAudioNotificationQueueWorkerAddNotification(w.worker, notice.notice);
    ASSERT_TRUE(waitFor([&] { return runs.load() == 1; }));
    ASSERT_TRUE(waitFor([&] { return !notice.pending(); }));
    ASSERT_TRUE(waitFor([&] { return isSleeping(workerID); }));
    const unsigned long long asleep = timesRun(workerID);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(timesRun(workerID), asleep) << "the idle worker woke up";
    SAudioNotificationQueueWorkerAddNotification(w.worker, notice.notice);
    EXPECT_TRUE(waitFor([&] { return runs.load() == 2; }));
}

} // namespace

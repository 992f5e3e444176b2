#include "app/deck/BeatTimer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// Runs the event loop until `done` or two seconds have passed.
template <typename Done>
bool runUntil(Done done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return done();
}

} // namespace

// The spin (every beat) and the counter (every second beat) must land in the
// same pass of the event loop, so that they repaint together.
TEST(BeatTimerTest, TimersOnTheBeatFireTogetherAndTheBeatStopsWithThem) {
    BeatTimer spin(1);
    BeatTimer counter(2);
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> spins;  // microseconds
    std::vector<qint64> counts; // microseconds
    QObject::connect(&spin, &BeatTimer::timeout,
                     [&] { spins.push_back(clock.nsecsElapsed() / 1000); });
    QObject::connect(&counter, &BeatTimer::timeout,
                     [&] { counts.push_back(clock.nsecsElapsed() / 1000); });
    counter.start();
    spin.start();
    EXPECT_EQ(DisplayBeat::shared().runningTimers(), 2);
    ASSERT_TRUE(runUntil([&] { return spins.size() >= 12; }));
    spin.stop();
    counter.stop();
    EXPECT_EQ(DisplayBeat::shared().runningTimers(), 0);

    // Every counter firing has a spin of the same beat beside it (beats are
    // 33 ms apart), and the counter fires on every second beat.
    for (const qint64 count : counts) {
        const bool together = std::any_of(spins.begin(), spins.end(), [count](qint64 spin) {
            return std::abs(spin - count) < 2000;
        });
        EXPECT_TRUE(together) << "a counter firing on a beat of its own at " << count << " us";
    }
    EXPECT_NEAR(static_cast<double>(counts.size()), spins.size() / 2.0, 1.0);
}

TEST(BeatTimerTest, ATimerMayStopItselfAndStartAnotherAsItFires) {
    BeatTimer once(1);
    BeatTimer next(2);
    int onceFired = 0;
    int nextFired = 0;
    QObject::connect(&once, &BeatTimer::timeout, [&] {
        ++onceFired;
        once.stop();
        next.start();
    });
    QObject::connect(&next, &BeatTimer::timeout, [&] {
        if (++nextFired == 3) {
            next.stop();
        }
    });
    once.start();
    ASSERT_TRUE(runUntil([&] { return nextFired == 3; }));
    EXPECT_EQ(onceFired, 1);
    EXPECT_FALSE(once.isActive());
    EXPECT_FALSE(next.isActive());
    EXPECT_EQ(DisplayBeat::shared().runningTimers(), 0);
    // A stopped timer's destruction and a second stop change nothing.
    next.stop();
    EXPECT_EQ(DisplayBeat::shared().runningTimers(), 0);
}

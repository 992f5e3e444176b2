#pragma once

#include <QObject>
#include <QTimer>

#include <vector>

// A timer on the deck's display beat, 30 times a second. Every BeatTimer
// fires on the same beat, so the spools, the counter, the position bar and
// the meter that change in one beat reach the screen in one repaint rather
// than each in its own. The beat runs only while some BeatTimer does.
class BeatTimer : public QObject {
    Q_OBJECT

public:
    static constexpr int BeatsPerSecond = 30;

    // Fires on every `beats`-th beat; timers of equal `beats` fire together.
    explicit BeatTimer(int beats = 1, QObject* parent = nullptr);
    ~BeatTimer() override;

    void start();
    void stop();
    bool isActive() const { return mActive; }
    int beats() const { return mBeats; }

signals:
    void timeout();

private:
    friend class DisplayBeat;
    int mBeats;
    bool mActive = false;
};

// The beat itself: one precise Qt timer shared by every BeatTimer.
class DisplayBeat : public QObject {
    Q_OBJECT

public:
    static DisplayBeat& shared();
    int runningTimers() const { return static_cast<int>(mTimers.size()); }

private:
    friend class BeatTimer;
    DisplayBeat();
    void add(BeatTimer* timer);
    void remove(BeatTimer* timer);
    void retime();
    void beat();

    QTimer mTimer;
    long long mCount = 0;
    int mStride = 1; // beats between wake-ups
    bool mBeating = false;
    std::vector<BeatTimer*> mTimers;
};

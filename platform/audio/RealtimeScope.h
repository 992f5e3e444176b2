#pragma once

// Marks the stretches of an I/O thread where our real-time code runs, so a
// checking build can catch an allocation there.
class RealtimeScope {
public:
    RealtimeScope() { ++tDepth; }
    ~RealtimeScope() { --tDepth; }
    RealtimeScope(const RealtimeScope&) = delete;
    RealtimeScope& operator=(const RealtimeScope&) = delete;

    static bool isActive() { return tDepth > 0; }

    // Lets a checking build step outside, for work of the platform library
    // between our callbacks.
    class Pause {
    public:
        Pause() : mSaved(tDepth) { tDepth = 0; }
        ~Pause() { tDepth = mSaved; }

    private:
        int mSaved;
    };

private:
    static thread_local int tDepth;
};

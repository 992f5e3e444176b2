#pragma once

#include <functional>

// Seconds on a monotonic clock, for the deck's animations (the cassette's
// slides, the drawer, the position bar). Tests replace the source to drive an
// animation to any point without sleeping; views read it on every frame and
// never keep time of their own.
class DeckClock {
public:
    static double now();
    // An empty source restores the real clock.
    static void setSource(std::function<double()> source);
};

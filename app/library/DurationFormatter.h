#pragma once

#include <QString>

// Durations as label text: style 0 "1h2m5s", style 2 "62′5″" (minutes and
// seconds only), style 1 spelled out ("1 hour 2 minutes 5 seconds").
class DurationFormatter {
public:
    static QString durationToString(int seconds, unsigned style = 0);
    // A tape's length in seconds (whole seconds shown, compact style); a
    // length no recording can have (negative, not a number, or longer than
    // kLongestTape) reads "unknown".
    static QString tapeDurationToString(double seconds);
    static constexpr double kLongestTape = 366.0 * 24 * 3600;
    // Any text reads as 0: durations are for display only.
    static double valueForString(const QString&) { return 0.0; }
};

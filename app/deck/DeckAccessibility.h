#pragma once

#include <QString>

class QWidget;
class WindowController;

// What the deck gives assistive technology (screen readers): interfaces for
// the views it paints itself, and spoken announcements of what it does.
class DeckAccessibility {
public:
    // Makes the painted views (transport strip, HUD, cassette) describe
    // themselves; once per process, before their interfaces are asked for.
    static void install();

    // Says `message` through `source`: its description becomes the message,
    // and assistive technology is told (as an alert).
    static void announce(QWidget* source, const QString& message);

    // Announces the deck's recordings as they start, pause, resume and stop.
    static void announceRecordingStates(WindowController* deck);

    // The time readout's text: "0:03.46 of 2:10" (milliseconds in), or the
    // time alone when the tape has no length yet.
    static QString timeOfLength(double time, double length);
};

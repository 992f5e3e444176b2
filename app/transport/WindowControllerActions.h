#pragma once

// What the transport state machine asks of the deck controller that owns it.
// Segment numbers are the button strip's (0 REC, 1 PLAY, 2 REW, 3 FFWD,
// 4 STOP, 5 PAUSE); sound-effect numbers are places in the deck's list of
// transport sounds.
class WindowControllerActions {
public:
    virtual ~WindowControllerActions() = default;

    // Buttons
    virtual void clearButtons() = 0;
    virtual void setSelectedButton(int segment) = 0;
    virtual void clearSelectedButton(int segment) = 0;

    // Sound effects
    virtual void playSoundEffect(int effect) = 0;
    virtual void stopSoundEffect(int effect) = 0;

    // Playback
    virtual void setPlaybackSpeed(double speed) = 0; // signed rate, 1.0 normal
    virtual void startPlayingAudio() = 0;
    virtual void stopPlayingAudio() = 0;
    virtual void muteAudio() = 0;
    virtual void unmuteAudio() = 0;
    virtual void createTapePlayer() = 0;
    virtual void destroyTapePlayer() = 0;
    virtual void clearCurrentTime() = 0;

    // Recording
    virtual void startRecordingAudio() = 0;
    virtual void stopRecordingAudio() = 0;
    virtual void pauseRecordingAudio() = 0;
    virtual void resumeRecordingAudio() = 0;

    // Display
    virtual void startHUDUpdates() = 0;
    virtual void stopHUDUpdates() = 0;
    virtual void startPlayAnimation() = 0;
    virtual void stopPlayAnimation() = 0;
    virtual void playInsertionAnimation() = 0;
    virtual void playRemovalAnimation() = 0;

    // Tape selection
    virtual void selectCurrentTape() = 0;
    virtual void clearSelectedTape() = 0;
    virtual bool canSelectTape() const = 0;
};

// Sound effects the transport plays, by their place in the deck's list.
enum TransportSoundEffect : int {
    TransportSoundTapeSpeeding = 0, // looped while winding
    TransportSoundButtonPress = 1,
    TransportSoundButtonClear = 2,
    TransportSoundPausePress = 6,
    TransportSoundPauseRelease = 7,
};

// The segments of the transport button strip.
enum TransportSegment : int {
    TransportSegmentRecord = 0,
    TransportSegmentPlay = 1,
    TransportSegmentRewind = 2,
    TransportSegmentFastForward = 3,
    TransportSegmentStop = 4,
    TransportSegmentPause = 5,
};

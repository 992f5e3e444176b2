#pragma once

#include "app/transport/WindowControllerActions.h"

#include <string>
#include <vector>

// A deck controller stand-in that writes down every action the transport
// asks of it, in order.
class TransportRecorder : public WindowControllerActions {
public:
    std::vector<std::string> calls;
    bool tapeSelectable = true;
    std::string failingAction; // this action throws when called

    void clearButtons() override { note("clearButtons"); }
    void setSelectedButton(int s) override { note("setSelectedButton " + std::to_string(s)); }
    void clearSelectedButton(int s) override { note("clearSelectedButton " + std::to_string(s)); }
    void playSoundEffect(int e) override { note("playSoundEffect " + std::to_string(e)); }
    void stopSoundEffect(int e) override { note("stopSoundEffect " + std::to_string(e)); }
    void setPlaybackSpeed(double speed) override {
        note("setPlaybackSpeed " + std::to_string(static_cast<int>(speed)));
    }
    void startPlayingAudio() override { note("startPlayingAudio"); }
    void stopPlayingAudio() override { note("stopPlayingAudio"); }
    void muteAudio() override { note("muteAudio"); }
    void unmuteAudio() override { note("unmuteAudio"); }
    void createTapePlayer() override { note("createTapePlayer"); }
    void destroyTapePlayer() override { note("destroyTapePlayer"); }
    void clearCurrentTime() override { note("clearCurrentTime"); }
    void startRecordingAudio() override { note("startRecordingAudio"); }
    void stopRecordingAudio() override { note("stopRecordingAudio"); }
    void pauseRecordingAudio() override { note("pauseRecordingAudio"); }
    void resumeRecordingAudio() override { note("resumeRecordingAudio"); }
    void startHUDUpdates() override { note("startHUDUpdates"); }
    void stopHUDUpdates() override { note("stopHUDUpdates"); }
    void startPlayAnimation() override { note("startPlayAnimation"); }
    void stopPlayAnimation() override { note("stopPlayAnimation"); }
    void playInsertionAnimation() override { note("playInsertionAnimation"); }
    void playRemovalAnimation() override { note("playRemovalAnimation"); }
    void selectCurrentTape() override { note("selectCurrentTape"); }
    void clearSelectedTape() override { note("clearSelectedTape"); }
    bool canSelectTape() const override { return tapeSelectable; }

private:
    void note(const std::string& call) {
        calls.push_back(call);
        if (call == failingAction) {
            throw std::runtime_error("failed: " + call);
        }
    }
};

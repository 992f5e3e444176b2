#include "app/transport/Cassora_sm.h"

#include "TransportRecorder.h"
#include "audio/format/InternalInconsistencyException.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using Calls = std::vector<std::string>;
using Event = void (WindowControllerContext::*)();

Calls join(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Entry and exit actions of each state.
const Calls kStoppedEntry = {"selectCurrentTape", "createTapePlayer", "clearCurrentTime",
                             "playInsertionAnimation"};
const Calls kStoppedExit = {"destroyTapePlayer", "playRemovalAnimation", "clearSelectedTape"};
const Calls kPlayingEntry = {"setPlaybackSpeed 1", "startPlayingAudio", "startHUDUpdates",
                             "startPlayAnimation"};
const Calls kPlayingExit = {"stopPlayingAudio", "stopHUDUpdates", "stopPlayAnimation"};
const Calls kFastForwardEntry = {"playSoundEffect 1",   "playSoundEffect 0", "setPlaybackSpeed 8",
                                 "setSelectedButton 3", "startHUDUpdates",   "startPlayAnimation",
                                 "muteAudio",           "startPlayingAudio"};
const Calls kFastForwardExit = {"stopPlayingAudio",   "unmuteAudio",          "stopPlayAnimation",
                                "stopHUDUpdates",     "stopSoundEffect 0",    "playSoundEffect 2",
                                "setPlaybackSpeed 1", "clearSelectedButton 3"};
const Calls kRewindEntry = {"playSoundEffect 1",   "playSoundEffect 0", "setPlaybackSpeed -8",
                            "setSelectedButton 2", "startHUDUpdates",   "startPlayAnimation",
                            "muteAudio",           "startPlayingAudio"};
const Calls kRewindExit = {"stopPlayingAudio",   "unmuteAudio",          "stopPlayAnimation",
                           "stopHUDUpdates",     "stopSoundEffect 0",    "playSoundEffect 2",
                           "setPlaybackSpeed 1", "clearSelectedButton 2"};
const Calls kCueEntry = {"playSoundEffect 6", "setPlaybackSpeed 2", "setSelectedButton 3"};
const Calls kCueExit = {"playSoundEffect 7", "setPlaybackSpeed 1", "clearSelectedButton 3"};
const Calls kReviewEntry = {"playSoundEffect 6", "setPlaybackSpeed -2", "setSelectedButton 2"};
const Calls kReviewExit = {"playSoundEffect 7", "setPlaybackSpeed 1", "clearSelectedButton 2"};
const Calls kRecordingEntry = {"startHUDUpdates", "startRecordingAudio", "playInsertionAnimation",
                               "setPlaybackSpeed 1", "startPlayAnimation"};
const Calls kRecordingExit = {"stopHUDUpdates", "stopRecordingAudio", "stopPlayAnimation"};
const Calls kPausedEntry = {"stopPlayAnimation", "playSoundEffect 6", "setSelectedButton 5"};
const Calls kPausedExit = {"startPlayAnimation", "playSoundEffect 7", "clearSelectedButton 5"};

// Transition actions.
const Calls kStartRecording = {"clearButtons", "setSelectedButton 1", "setSelectedButton 0",
                               "playSoundEffect 1"};
const Calls kStartPlaying = {"clearButtons", "playSoundEffect 1", "setSelectedButton 1",
                             "setPlaybackSpeed 1"};
const Calls kStopPlaying = {"playSoundEffect 2", "clearButtons"};
const Calls kStopRecording = {"clearButtons", "playSoundEffect 2"};

const std::map<std::string, Event> kEvents = {
    {"ffwdDown", &WindowControllerContext::ffwdDown},
    {"ffwdUp", &WindowControllerContext::ffwdUp},
    {"pauseDown", &WindowControllerContext::pauseDown},
    {"pauseUp", &WindowControllerContext::pauseUp},
    {"play", &WindowControllerContext::play},
    {"rec", &WindowControllerContext::rec},
    {"rewindDown", &WindowControllerContext::rewindDown},
    {"rewindUp", &WindowControllerContext::rewindUp},
    {"stop", &WindowControllerContext::stop},
    {"tapeChosen", &WindowControllerContext::tapeChosen},
    {"windowWillClose", &WindowControllerContext::windowWillClose},
};

// How to reach each state from Idle.
const std::map<std::string, std::vector<std::string>> kPaths = {
    {"Idle", {}},
    {"TapeStopped", {"tapeChosen"}},
    {"Playing", {"tapeChosen", "play"}},
    {"FastForwarding", {"tapeChosen", "ffwdDown"}},
    {"Rewinding", {"tapeChosen", "rewindDown"}},
    {"Cueing", {"tapeChosen", "play", "ffwdDown"}},
    {"Reviewing", {"tapeChosen", "play", "rewindDown"}},
    {"Recording", {"rec"}},
    {"PausedPlaying", {"tapeChosen", "play", "pauseDown"}},
    {"PausedRecording", {"rec", "pauseDown"}},
};

struct Row {
    std::string from;
    std::string event;
    Calls calls;
    std::string to; // the map's state name without "TapeMap::"
    int depth;
    bool tapeSelectable = true;
};

class Transport : public ::testing::Test {
protected:
    TransportRecorder owner;
    WindowControllerContext context{owner};

    void send(const std::string& event) { (context.*kEvents.at(event))(); }

    void reach(const std::string& state) {
        for (const auto& event : kPaths.at(state)) {
            send(event);
        }
        owner.calls.clear();
    }

    std::string stateName() const { return context.state().name(); }

    void check(const Row& row) {
        SCOPED_TRACE(row.from + " --" + row.event + "--> " + row.to);
        TransportRecorder fresh;
        fresh.tapeSelectable = true;
        WindowControllerContext machine(fresh);
        for (const auto& event : kPaths.at(row.from)) {
            (machine.*kEvents.at(event))();
        }
        fresh.calls.clear();
        fresh.tapeSelectable = row.tapeSelectable;
        (machine.*kEvents.at(row.event))();
        EXPECT_EQ(fresh.calls, row.calls);
        EXPECT_EQ(machine.state().name(), "TapeMap::" + row.to);
        EXPECT_EQ(machine.stateStackDepth(), row.depth);
    }

    void checkIgnored(const std::string& from, const std::string& to, int depth,
                      const std::vector<std::string>& events) {
        for (const auto& event : events) {
            check({from, event, {}, to, depth});
        }
    }
};

TEST_F(Transport, StartsInIdleWithoutActions) {
    EXPECT_EQ(stateName(), "TapeMap::Idle");
    EXPECT_TRUE(owner.calls.empty());
    EXPECT_EQ(context.stateStackDepth(), 0);
    EXPECT_EQ(&context.owner(), &owner);
}

TEST_F(Transport, StatesAreNumberedSingletons) {
    const std::vector<std::pair<SMCState*, std::string>> states = {
        {TapeMap::Idle(), "TapeMap::Idle"},
        {TapeMap::TapeStopped(), "TapeMap::TapeStopped"},
        {TapeMap::Playing(), "TapeMap::Playing"},
        {TapeMap::FastForwarding(), "TapeMap::FastForwarding"},
        {TapeMap::Rewinding(), "TapeMap::Rewinding"},
        {TapeMap::Cueing(), "TapeMap::Cueing"},
        {TapeMap::Reviewing(), "TapeMap::Reviewing"},
        {TapeMap::Recording(), "TapeMap::Recording"},
        {TapeMap::Paused(), "TapeMap::Paused"},
    };
    for (size_t id = 0; id < states.size(); ++id) {
        EXPECT_EQ(states[id].first->name(), states[id].second);
        EXPECT_EQ(states[id].first->stateId(), static_cast<int32_t>(id));
    }
    EXPECT_EQ(TapeMap::Idle(), TapeMap::Idle());
}

TEST_F(Transport, FromIdle) {
    check({"Idle", "rec", join({kStartRecording, kRecordingEntry}), "Recording", 1});
    check({"Idle", "tapeChosen", kStoppedEntry, "TapeStopped", 1});
    check({"Idle", "tapeChosen", {}, "Idle", 0, false});
    checkIgnored("Idle", "Idle", 0,
                 {"play", "stop", "ffwdDown", "ffwdUp", "rewindDown", "rewindUp", "pauseDown",
                  "pauseUp", "windowWillClose"});
}

TEST_F(Transport, FromTapeStopped) {
    check({"TapeStopped", "play", join({kStartPlaying, kPlayingEntry}), "Playing", 2});
    check({"TapeStopped", "ffwdDown", kFastForwardEntry, "FastForwarding", 2});
    check({"TapeStopped", "rewindDown", kRewindEntry, "Rewinding", 2});
    check({"TapeStopped", "rec", join({kStoppedExit, kStartRecording, kRecordingEntry}),
           "Recording", 1});
    check({"TapeStopped", "tapeChosen", join({kStoppedExit, kStoppedEntry}), "TapeStopped", 1});
    check({"TapeStopped", "tapeChosen", kStoppedExit, "Idle", 0, false});
    checkIgnored("TapeStopped", "TapeStopped", 1,
                 {"stop", "windowWillClose", "ffwdUp", "rewindUp", "pauseDown", "pauseUp"});
}

TEST_F(Transport, FromPlaying) {
    check({"Playing", "play", join({kPlayingExit, {"clearButtons"}}), "TapeStopped", 1});
    check({"Playing", "stop", join({kPlayingExit, kStopPlaying}), "TapeStopped", 1});
    check({"Playing", "tapeChosen", join({kPlayingExit, kStopPlaying, kStoppedExit, kStoppedEntry}),
           "TapeStopped", 1});
    check({"Playing", "rec", join({kPlayingExit, kStoppedExit, kStartRecording, kRecordingEntry}),
           "Recording", 1});
    check({"Playing", "windowWillClose", kPlayingExit, "TapeStopped", 1});
    check({"Playing", "ffwdDown", kCueEntry, "Cueing", 3});
    check({"Playing", "rewindDown", kReviewEntry, "Reviewing", 3});
    check({"Playing", "pauseDown", join({{"stopPlayingAudio"}, kPausedEntry}), "Paused", 3});
    check({"Playing", "pauseUp", {"startPlayingAudio"}, "Playing", 2});
}

TEST_F(Transport, FromFastForwarding) {
    check({"FastForwarding", "ffwdUp", kFastForwardExit, "TapeStopped", 1});
    check({"FastForwarding", "play", join({kFastForwardExit, kStartPlaying, kPlayingEntry}),
           "Playing", 2});
    check({"FastForwarding", "rewindDown", join({kFastForwardExit, kRewindEntry}), "Rewinding", 2});
    check({"FastForwarding", "stop", kFastForwardExit, "TapeStopped", 1});
    check({"FastForwarding", "tapeChosen", join({kFastForwardExit, kStoppedExit, kStoppedEntry}),
           "TapeStopped", 1});
    check({"FastForwarding", "windowWillClose", kFastForwardExit, "TapeStopped", 1});
    checkIgnored("FastForwarding", "FastForwarding", 2,
                 {"ffwdDown", "rewindUp", "rec", "pauseDown", "pauseUp"});
}

TEST_F(Transport, FromRewinding) {
    check({"Rewinding", "rewindUp", kRewindExit, "TapeStopped", 1});
    check({"Rewinding", "play", join({kRewindExit, kStartPlaying, kPlayingEntry}), "Playing", 2});
    check({"Rewinding", "ffwdDown", join({kRewindExit, kFastForwardEntry}), "FastForwarding", 2});
    check({"Rewinding", "stop", kRewindExit, "TapeStopped", 1});
    check({"Rewinding", "tapeChosen", join({kRewindExit, kStoppedExit, kStoppedEntry}),
           "TapeStopped", 1});
    check({"Rewinding", "windowWillClose", kRewindExit, "TapeStopped", 1});
    checkIgnored("Rewinding", "Rewinding", 2,
                 {"rewindDown", "ffwdUp", "rec", "pauseDown", "pauseUp"});
}

TEST_F(Transport, FromCueing) {
    check({"Cueing", "ffwdUp", kCueExit, "Playing", 2});
    check({"Cueing", "play", join({kCueExit, kPlayingExit, {"clearButtons"}}), "TapeStopped", 1});
    check({"Cueing", "rewindDown", join({kCueExit, kReviewEntry}), "Reviewing", 3});
    check({"Cueing", "stop", join({kCueExit, kPlayingExit, kStopPlaying}), "TapeStopped", 1});
    check({"Cueing", "tapeChosen",
           join({kCueExit, kPlayingExit, kStopPlaying, kStoppedExit, kStoppedEntry}), "TapeStopped",
           1});
    check({"Cueing", "windowWillClose", join({kCueExit, kPlayingExit}), "TapeStopped", 1});
    checkIgnored("Cueing", "Cueing", 3, {"ffwdDown", "rewindUp", "rec", "pauseDown", "pauseUp"});
}

TEST_F(Transport, FromReviewing) {
    check({"Reviewing", "rewindUp", kReviewExit, "Playing", 2});
    check({"Reviewing", "play", join({kReviewExit, kPlayingExit, {"clearButtons"}}), "TapeStopped",
           1});
    check({"Reviewing", "ffwdDown", join({kReviewExit, kCueEntry}), "Cueing", 3});
    check({"Reviewing", "stop", join({kReviewExit, kPlayingExit, kStopPlaying}), "TapeStopped", 1});
    check({"Reviewing", "tapeChosen",
           join({kReviewExit, kPlayingExit, kStopPlaying, kStoppedExit, kStoppedEntry}),
           "TapeStopped", 1});
    check({"Reviewing", "windowWillClose", join({kReviewExit, kPlayingExit}), "TapeStopped", 1});
    checkIgnored("Reviewing", "Reviewing", 3,
                 {"rewindDown", "ffwdUp", "rec", "pauseDown", "pauseUp"});
}

TEST_F(Transport, FromRecording) {
    check({"Recording", "stop", join({kRecordingExit, kStopRecording, kStoppedEntry}),
           "TapeStopped", 1});
    check({"Recording", "stop", join({kRecordingExit, kStopRecording}), "Idle", 0, false});
    check({"Recording", "windowWillClose", kRecordingExit, "Idle", 0});
    check({"Recording", "pauseDown", join({{"pauseRecordingAudio"}, kPausedEntry}), "Paused", 2});
    check({"Recording", "pauseUp", {"resumeRecordingAudio"}, "Recording", 1});
    checkIgnored("Recording", "Recording", 1,
                 {"ffwdDown", "rewindDown", "play", "rec", "tapeChosen"});
}

TEST_F(Transport, FromPausedOverPlaying) {
    check({"PausedPlaying", "pauseUp", join({kPausedExit, {"startPlayingAudio"}}), "Playing", 2});
    check({"PausedPlaying", "stop", join({kPausedExit, kPlayingExit, kStopPlaying}), "TapeStopped",
           1});
    check({"PausedPlaying", "tapeChosen",
           join({kPausedExit, kPlayingExit, kStopPlaying, kStoppedExit, kStoppedEntry}),
           "TapeStopped", 1});
    check(
        {"PausedPlaying", "windowWillClose", join({kPausedExit, kPlayingExit}), "TapeStopped", 1});
    checkIgnored("PausedPlaying", "Paused", 3,
                 {"pauseDown", "play", "rec", "ffwdDown", "ffwdUp", "rewindDown", "rewindUp"});
}

TEST_F(Transport, FromPausedOverRecording) {
    check({"PausedRecording", "pauseUp", join({kPausedExit, {"resumeRecordingAudio"}}), "Recording",
           1});
    check({"PausedRecording", "stop",
           join({kPausedExit, kRecordingExit, kStopRecording, kStoppedEntry}), "TapeStopped", 1});
    check({"PausedRecording", "tapeChosen", kPausedExit, "Recording", 1});
    check({"PausedRecording", "windowWillClose", join({kPausedExit, kRecordingExit}), "Idle", 0});
    checkIgnored("PausedRecording", "Paused", 2,
                 {"pauseDown", "play", "rec", "ffwdDown", "ffwdUp", "rewindDown", "rewindUp"});
}

TEST_F(Transport, UnexpectedEventsInPlayingAndRecordingAreFailures) {
    for (const std::string from : {"Playing", "Recording"}) {
        for (const std::string event : {"ffwdUp", "rewindUp"}) {
            SCOPED_TRACE(from + " " + event);
            TransportRecorder fresh;
            WindowControllerContext machine(fresh);
            for (const auto& step : kPaths.at(from)) {
                (machine.*kEvents.at(step))();
            }
            const int depth = machine.stateStackDepth();
            fresh.calls.clear();
            try {
                (machine.*kEvents.at(event))();
                FAIL() << "no failure";
            } catch (const InternalInconsistencyException& failure) {
                EXPECT_STREQ(failure.what(), "Default transition");
                EXPECT_EQ(failure.sourceUnit(), "Cassora_sm");
                EXPECT_EQ(failure.line(), 146);
            }
            EXPECT_TRUE(fresh.calls.empty());
            EXPECT_EQ(machine.state().name(), "TapeMap::" + from);
            EXPECT_EQ(machine.stateStackDepth(), depth);
        }
    }
}

TEST_F(Transport, WindingBothWaysWithoutAVisibleStop) {
    reach("TapeStopped");
    send("ffwdDown");
    send("rewindDown");
    EXPECT_EQ(stateName(), "TapeMap::Rewinding");
    send("ffwdDown");
    EXPECT_EQ(stateName(), "TapeMap::FastForwarding");
    send("ffwdUp");
    EXPECT_EQ(stateName(), "TapeMap::TapeStopped");
    EXPECT_EQ(context.stateStackDepth(), 1);
}

TEST_F(Transport, PauseToggleDuringRecordingResumesTheRecorder) {
    reach("Recording");
    send("pauseDown");
    send("pauseUp");
    EXPECT_EQ(owner.calls,
              join({{"pauseRecordingAudio"}, kPausedEntry, kPausedExit, {"resumeRecordingAudio"}}));
    EXPECT_EQ(stateName(), "TapeMap::Recording");
}

TEST_F(Transport, AFailingActionLeavesTheMachineInAState) {
    reach("TapeStopped");
    owner.failingAction = "playSoundEffect 1";
    EXPECT_THROW(send("play"), std::runtime_error);
    EXPECT_FALSE(context.isInTransition());
    EXPECT_EQ(stateName(), "TapeMap::TapeStopped");
    EXPECT_EQ(context.stateStackDepth(), 1);

    owner.failingAction.clear();
    send("play");
    owner.failingAction = "clearButtons";
    EXPECT_THROW(send("stop"), std::runtime_error);
    EXPECT_EQ(stateName(), "TapeMap::TapeStopped") << "a pop whose actions fail still pops";
}

} // namespace

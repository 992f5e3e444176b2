#include "app/transport/Cassora_sm.h"

#include "audio/format/InternalInconsistencyException.h"

namespace {

using Event = void (WindowControllerContext::*)();

// Puts a state back as current when a transition's actions throw, so the
// machine is never left without a state.
class StateRestorer {
public:
    StateRestorer(WindowControllerContext& context, SMCState* state)
        : mContext(context), mState(state) {}
    ~StateRestorer() {
        if (mState) {
            mContext.setState(mState);
        }
    }
    void dismiss() { mState = nullptr; }

private:
    WindowControllerContext& mContext;
    SMCState* mState;
};

// Pops the stack when a pop transition's actions throw.
class StatePopper {
public:
    explicit StatePopper(WindowControllerContext& context) : mContext(context) {}
    ~StatePopper() {
        if (mArmed) {
            mContext.popState();
        }
    }
    void dismiss() { mArmed = false; }

private:
    WindowControllerContext& mContext;
    bool mArmed = true;
};

// The transition shapes. Actions are owner calls, run in the order given.

void push(WindowControllerContext& context, WindowControllerState* target) {
    context.pushState(target);
    target->Entry(context);
}

template <typename Actions>
void pushWithActions(WindowControllerContext& context, WindowControllerState* target,
                     Actions actions) {
    WindowControllerState* current = &context.state();
    context.clearState();
    {
        StateRestorer restorer(context, current);
        actions(context.owner());
        restorer.dismiss();
    }
    context.setState(current);
    push(context, target);
}

void pop(WindowControllerContext& context) {
    context.state().Exit(context);
    context.popState();
}

template <typename Actions>
void popWithActions(WindowControllerContext& context, Actions actions) {
    context.state().Exit(context);
    context.clearState();
    StatePopper popper(context);
    actions(context.owner());
    popper.dismiss();
    context.popState();
}

void popAndPassOn(WindowControllerContext& context, Event event) {
    pop(context);
    (context.*event)();
}

template <typename Actions>
void popWithActionsAndPassOn(WindowControllerContext& context, Actions actions, Event event) {
    popWithActions(context, actions);
    (context.*event)();
}

template <typename Actions>
void internal(WindowControllerContext& context, Actions actions) {
    WindowControllerState* current = &context.state();
    context.clearState();
    {
        StateRestorer restorer(context, current);
        actions(context.owner());
        restorer.dismiss();
    }
    context.setState(current);
}

// Entry and exit of the four winding and cueing states differ only in
// speed and segment.

void enterFastWind(WindowControllerActions& owner, double speed, int segment) {
    owner.playSoundEffect(TransportSoundButtonPress);
    owner.playSoundEffect(TransportSoundTapeSpeeding);
    owner.setPlaybackSpeed(speed);
    owner.setSelectedButton(segment);
    owner.startHUDUpdates();
    owner.startPlayAnimation();
    owner.muteAudio();
    owner.startPlayingAudio();
}

void exitFastWind(WindowControllerActions& owner, int segment) {
    owner.stopPlayingAudio();
    owner.unmuteAudio();
    owner.stopPlayAnimation();
    owner.stopHUDUpdates();
    owner.stopSoundEffect(TransportSoundTapeSpeeding);
    owner.playSoundEffect(TransportSoundButtonClear);
    owner.setPlaybackSpeed(1.0);
    owner.clearSelectedButton(segment);
}

void enterCue(WindowControllerActions& owner, double speed, int segment) {
    owner.playSoundEffect(TransportSoundPausePress);
    owner.setPlaybackSpeed(speed);
    owner.setSelectedButton(segment);
}

void exitCue(WindowControllerActions& owner, int segment) {
    owner.playSoundEffect(TransportSoundPauseRelease);
    owner.setPlaybackSpeed(1.0);
    owner.clearSelectedButton(segment);
}

} // namespace

// WindowControllerState: entry and exit do nothing; every event falls
// through to Default.

void WindowControllerState::Entry(WindowControllerContext&) {}
void WindowControllerState::Exit(WindowControllerContext&) {}
void WindowControllerState::ffwdDown(WindowControllerContext& context) {
    Default(context);
}
void WindowControllerState::ffwdUp(WindowControllerContext& context) {
    Default(context);
}
void WindowControllerState::pauseDown(WindowControllerContext& context) {
    Default(context);
}
void WindowControllerState::pauseUp(WindowControllerContext& context) {
    Default(context);
}
void WindowControllerState::play(WindowControllerContext& context) {
    Default(context);
}
void WindowControllerState::rec(WindowControllerContext& context) {
    Default(context);
}
void WindowControllerState::rewindDown(WindowControllerContext& context) {
    Default(context);
}
void WindowControllerState::rewindUp(WindowControllerContext& context) {
    Default(context);
}
void WindowControllerState::stop(WindowControllerContext& context) {
    Default(context);
}
void WindowControllerState::tapeChosen(WindowControllerContext& context) {
    Default(context);
}
void WindowControllerState::windowWillClose(WindowControllerContext& context) {
    Default(context);
}

void WindowControllerState::Default(WindowControllerContext&) {
    throw InternalInconsistencyException("Default transition", "Cassora_sm", 146);
}

// Idle: no tape in the deck.

void TapeMap_Idle::Default(WindowControllerContext&) {}

void TapeMap_Idle::rec(WindowControllerContext& context) {
    pushWithActions(context, TapeMap::Recording(), [](WindowControllerActions& owner) {
        owner.clearButtons();
        owner.setSelectedButton(TransportSegmentPlay);
        owner.setSelectedButton(TransportSegmentRecord);
        owner.playSoundEffect(TransportSoundButtonPress);
    });
}

void TapeMap_Idle::tapeChosen(WindowControllerContext& context) {
    if (context.owner().canSelectTape()) {
        push(context, TapeMap::TapeStopped());
    }
}

// TapeStopped: a tape is in the deck, not moving.

void TapeMap_TapeStopped::Default(WindowControllerContext&) {}

void TapeMap_TapeStopped::Entry(WindowControllerContext& context) {
    WindowControllerActions& owner = context.owner();
    owner.selectCurrentTape();
    owner.createTapePlayer();
    owner.clearCurrentTime();
    owner.playInsertionAnimation();
}

void TapeMap_TapeStopped::Exit(WindowControllerContext& context) {
    WindowControllerActions& owner = context.owner();
    owner.destroyTapePlayer();
    owner.playRemovalAnimation();
    owner.clearSelectedTape();
}

void TapeMap_TapeStopped::play(WindowControllerContext& context) {
    pushWithActions(context, TapeMap::Playing(), [](WindowControllerActions& owner) {
        owner.clearButtons();
        owner.playSoundEffect(TransportSoundButtonPress);
        owner.setSelectedButton(TransportSegmentPlay);
        owner.setPlaybackSpeed(1.0);
    });
}

void TapeMap_TapeStopped::ffwdDown(WindowControllerContext& context) {
    push(context, TapeMap::FastForwarding());
}

void TapeMap_TapeStopped::rewindDown(WindowControllerContext& context) {
    push(context, TapeMap::Rewinding());
}

void TapeMap_TapeStopped::rec(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::rec);
}

void TapeMap_TapeStopped::tapeChosen(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::tapeChosen);
}

// Playing: no Default of its own, so unexpected events are failures.

void TapeMap_Playing::Entry(WindowControllerContext& context) {
    WindowControllerActions& owner = context.owner();
    owner.setPlaybackSpeed(1.0);
    owner.startPlayingAudio();
    owner.startHUDUpdates();
    owner.startPlayAnimation();
}

void TapeMap_Playing::Exit(WindowControllerContext& context) {
    WindowControllerActions& owner = context.owner();
    owner.stopPlayingAudio();
    owner.stopHUDUpdates();
    owner.stopPlayAnimation();
}

void TapeMap_Playing::play(WindowControllerContext& context) {
    popWithActions(context, [](WindowControllerActions& owner) { owner.clearButtons(); });
}

void TapeMap_Playing::stop(WindowControllerContext& context) {
    popWithActions(context, [](WindowControllerActions& owner) {
        owner.playSoundEffect(TransportSoundButtonClear);
        owner.clearButtons();
    });
}

void TapeMap_Playing::tapeChosen(WindowControllerContext& context) {
    popWithActionsAndPassOn(
        context,
        [](WindowControllerActions& owner) {
            owner.playSoundEffect(TransportSoundButtonClear);
            owner.clearButtons();
        },
        &WindowControllerContext::tapeChosen);
}

void TapeMap_Playing::rec(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::rec);
}

void TapeMap_Playing::windowWillClose(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::windowWillClose);
}

void TapeMap_Playing::ffwdDown(WindowControllerContext& context) {
    push(context, TapeMap::Cueing());
}

void TapeMap_Playing::rewindDown(WindowControllerContext& context) {
    push(context, TapeMap::Reviewing());
}

void TapeMap_Playing::pauseDown(WindowControllerContext& context) {
    pushWithActions(context, TapeMap::Paused(),
                    [](WindowControllerActions& owner) { owner.stopPlayingAudio(); });
}

void TapeMap_Playing::pauseUp(WindowControllerContext& context) {
    internal(context, [](WindowControllerActions& owner) { owner.startPlayingAudio(); });
}

// FastForwarding: silent fast wind forward.

void TapeMap_FastForwarding::Default(WindowControllerContext&) {}

void TapeMap_FastForwarding::Entry(WindowControllerContext& context) {
    enterFastWind(context.owner(), 8.0, TransportSegmentFastForward);
}

void TapeMap_FastForwarding::Exit(WindowControllerContext& context) {
    exitFastWind(context.owner(), TransportSegmentFastForward);
}

void TapeMap_FastForwarding::ffwdUp(WindowControllerContext& context) {
    pop(context);
}

void TapeMap_FastForwarding::play(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::play);
}

void TapeMap_FastForwarding::rewindDown(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::rewindDown);
}

void TapeMap_FastForwarding::stop(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::stop);
}

void TapeMap_FastForwarding::tapeChosen(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::tapeChosen);
}

void TapeMap_FastForwarding::windowWillClose(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::windowWillClose);
}

// Rewinding: silent fast wind back.

void TapeMap_Rewinding::Default(WindowControllerContext&) {}

void TapeMap_Rewinding::Entry(WindowControllerContext& context) {
    enterFastWind(context.owner(), -8.0, TransportSegmentRewind);
}

void TapeMap_Rewinding::Exit(WindowControllerContext& context) {
    exitFastWind(context.owner(), TransportSegmentRewind);
}

void TapeMap_Rewinding::rewindUp(WindowControllerContext& context) {
    pop(context);
}

void TapeMap_Rewinding::play(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::play);
}

void TapeMap_Rewinding::ffwdDown(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::ffwdDown);
}

void TapeMap_Rewinding::stop(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::stop);
}

void TapeMap_Rewinding::tapeChosen(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::tapeChosen);
}

void TapeMap_Rewinding::windowWillClose(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::windowWillClose);
}

// Cueing: audible fast play forward.

void TapeMap_Cueing::Default(WindowControllerContext&) {}

void TapeMap_Cueing::Entry(WindowControllerContext& context) {
    enterCue(context.owner(), 2.0, TransportSegmentFastForward);
}

void TapeMap_Cueing::Exit(WindowControllerContext& context) {
    exitCue(context.owner(), TransportSegmentFastForward);
}

void TapeMap_Cueing::ffwdUp(WindowControllerContext& context) {
    pop(context);
}

void TapeMap_Cueing::play(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::play);
}

void TapeMap_Cueing::rewindDown(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::rewindDown);
}

void TapeMap_Cueing::stop(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::stop);
}

void TapeMap_Cueing::tapeChosen(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::tapeChosen);
}

void TapeMap_Cueing::windowWillClose(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::windowWillClose);
}

// Reviewing: audible fast play backward.

void TapeMap_Reviewing::Default(WindowControllerContext&) {}

void TapeMap_Reviewing::Entry(WindowControllerContext& context) {
    enterCue(context.owner(), -2.0, TransportSegmentRewind);
}

void TapeMap_Reviewing::Exit(WindowControllerContext& context) {
    exitCue(context.owner(), TransportSegmentRewind);
}

void TapeMap_Reviewing::rewindUp(WindowControllerContext& context) {
    pop(context);
}

void TapeMap_Reviewing::play(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::play);
}

void TapeMap_Reviewing::ffwdDown(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::ffwdDown);
}

void TapeMap_Reviewing::stop(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::stop);
}

void TapeMap_Reviewing::tapeChosen(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::tapeChosen);
}

void TapeMap_Reviewing::windowWillClose(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::windowWillClose);
}

// Recording: no Default of its own, so unexpected events are failures.

void TapeMap_Recording::Entry(WindowControllerContext& context) {
    WindowControllerActions& owner = context.owner();
    owner.startHUDUpdates();
    owner.startRecordingAudio();
    owner.playInsertionAnimation();
    owner.setPlaybackSpeed(1.0);
    owner.startPlayAnimation();
}

void TapeMap_Recording::Exit(WindowControllerContext& context) {
    WindowControllerActions& owner = context.owner();
    owner.stopHUDUpdates();
    owner.stopRecordingAudio();
    owner.stopPlayAnimation();
}

void TapeMap_Recording::stop(WindowControllerContext& context) {
    popWithActionsAndPassOn(
        context,
        [](WindowControllerActions& owner) {
            owner.clearButtons();
            owner.playSoundEffect(TransportSoundButtonClear);
        },
        &WindowControllerContext::tapeChosen);
}

void TapeMap_Recording::windowWillClose(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::windowWillClose);
}

void TapeMap_Recording::pauseDown(WindowControllerContext& context) {
    pushWithActions(context, TapeMap::Paused(),
                    [](WindowControllerActions& owner) { owner.pauseRecordingAudio(); });
}

void TapeMap_Recording::pauseUp(WindowControllerContext& context) {
    internal(context, [](WindowControllerActions& owner) { owner.resumeRecordingAudio(); });
}

// While recording, the other transport keys change nothing.
void TapeMap_Recording::ffwdDown(WindowControllerContext&) {}
void TapeMap_Recording::rewindDown(WindowControllerContext&) {}
void TapeMap_Recording::play(WindowControllerContext&) {}
void TapeMap_Recording::rec(WindowControllerContext&) {}
void TapeMap_Recording::tapeChosen(WindowControllerContext&) {}

// Paused: over Playing or Recording.

void TapeMap_Paused::Default(WindowControllerContext&) {}

void TapeMap_Paused::Entry(WindowControllerContext& context) {
    WindowControllerActions& owner = context.owner();
    owner.stopPlayAnimation();
    owner.playSoundEffect(TransportSoundPausePress);
    owner.setSelectedButton(TransportSegmentPause);
}

void TapeMap_Paused::Exit(WindowControllerContext& context) {
    WindowControllerActions& owner = context.owner();
    owner.startPlayAnimation();
    owner.playSoundEffect(TransportSoundPauseRelease);
    owner.clearSelectedButton(TransportSegmentPause);
}

void TapeMap_Paused::pauseUp(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::pauseUp);
}

void TapeMap_Paused::stop(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::stop);
}

void TapeMap_Paused::tapeChosen(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::tapeChosen);
}

void TapeMap_Paused::windowWillClose(WindowControllerContext& context) {
    popAndPassOn(context, &WindowControllerContext::windowWillClose);
}

// The singletons.

TapeMap_Idle* TapeMap::Idle() {
    static TapeMap_Idle state("TapeMap::Idle", 0);
    return &state;
}

TapeMap_TapeStopped* TapeMap::TapeStopped() {
    static TapeMap_TapeStopped state("TapeMap::TapeStopped", 1);
    return &state;
}

TapeMap_Playing* TapeMap::Playing() {
    static TapeMap_Playing state("TapeMap::Playing", 2);
    return &state;
}

TapeMap_FastForwarding* TapeMap::FastForwarding() {
    static TapeMap_FastForwarding state("TapeMap::FastForwarding", 3);
    return &state;
}

TapeMap_Rewinding* TapeMap::Rewinding() {
    static TapeMap_Rewinding state("TapeMap::Rewinding", 4);
    return &state;
}

TapeMap_Cueing* TapeMap::Cueing() {
    static TapeMap_Cueing state("TapeMap::Cueing", 5);
    return &state;
}

TapeMap_Reviewing* TapeMap::Reviewing() {
    static TapeMap_Reviewing state("TapeMap::Reviewing", 6);
    return &state;
}

TapeMap_Recording* TapeMap::Recording() {
    static TapeMap_Recording state("TapeMap::Recording", 7);
    return &state;
}

TapeMap_Paused* TapeMap::Paused() {
    static TapeMap_Paused state("TapeMap::Paused", 8);
    return &state;
}

// WindowControllerContext

WindowControllerContext::WindowControllerContext(WindowControllerActions& owner) : mOwner(owner) {
    setState(TapeMap::Idle());
    TapeMap::Idle()->Entry(*this);
}

WindowControllerState& WindowControllerContext::state() const {
    if (isInTransition()) {
        throw InternalInconsistencyException("The current state is undefined", "Cassora_sm",
                                             __LINE__);
    }
    return *static_cast<WindowControllerState*>(currentState());
}

void WindowControllerContext::ffwdDown() {
    state().ffwdDown(*this);
}
void WindowControllerContext::ffwdUp() {
    state().ffwdUp(*this);
}
void WindowControllerContext::pauseDown() {
    state().pauseDown(*this);
}
void WindowControllerContext::pauseUp() {
    state().pauseUp(*this);
}
void WindowControllerContext::play() {
    state().play(*this);
}
void WindowControllerContext::rec() {
    state().rec(*this);
}
void WindowControllerContext::rewindDown() {
    state().rewindDown(*this);
}
void WindowControllerContext::rewindUp() {
    state().rewindUp(*this);
}
void WindowControllerContext::stop() {
    state().stop(*this);
}
void WindowControllerContext::tapeChosen() {
    state().tapeChosen(*this);
}
void WindowControllerContext::windowWillClose() {
    state().windowWillClose(*this);
}

#pragma once

#include "app/transport/WindowControllerActions.h"
#include "app/transport/statemap.h"

// The deck's transport state machine, TapeMap. Every transport event of the
// deck window becomes one event here and turns into the owner's actions.

class WindowControllerContext;

class WindowControllerState : public SMCState {
public:
    using SMCState::SMCState;

    virtual void Entry(WindowControllerContext& context);
    virtual void Exit(WindowControllerContext& context);
    virtual void ffwdDown(WindowControllerContext& context);
    virtual void ffwdUp(WindowControllerContext& context);
    virtual void pauseDown(WindowControllerContext& context);
    virtual void pauseUp(WindowControllerContext& context);
    virtual void play(WindowControllerContext& context);
    virtual void rec(WindowControllerContext& context);
    virtual void rewindDown(WindowControllerContext& context);
    virtual void rewindUp(WindowControllerContext& context);
    virtual void stop(WindowControllerContext& context);
    virtual void tapeChosen(WindowControllerContext& context);
    virtual void windowWillClose(WindowControllerContext& context);
    // An event no state handles: an internal inconsistency ("Default transition").
    virtual void Default(WindowControllerContext& context);
};

class TapeMap_Default : public WindowControllerState {
public:
    using WindowControllerState::WindowControllerState;
};

class TapeMap_Idle : public TapeMap_Default {
public:
    using TapeMap_Default::TapeMap_Default;
    // Swallows every event this state does not handle.
    void Default(WindowControllerContext& context) override;
    void rec(WindowControllerContext& context) override;
    void tapeChosen(WindowControllerContext& context) override;
};

class TapeMap_TapeStopped : public TapeMap_Default {
public:
    using TapeMap_Default::TapeMap_Default;
    // Swallows every event this state does not handle.
    void Default(WindowControllerContext& context) override;
    void Entry(WindowControllerContext& context) override;
    void Exit(WindowControllerContext& context) override;
    void play(WindowControllerContext& context) override;
    void ffwdDown(WindowControllerContext& context) override;
    void rewindDown(WindowControllerContext& context) override;
    void rec(WindowControllerContext& context) override;
    void tapeChosen(WindowControllerContext& context) override;
};

class TapeMap_Playing : public TapeMap_Default {
public:
    using TapeMap_Default::TapeMap_Default;
    void Entry(WindowControllerContext& context) override;
    void Exit(WindowControllerContext& context) override;
    void play(WindowControllerContext& context) override;
    void stop(WindowControllerContext& context) override;
    void tapeChosen(WindowControllerContext& context) override;
    void rec(WindowControllerContext& context) override;
    void windowWillClose(WindowControllerContext& context) override;
    void ffwdDown(WindowControllerContext& context) override;
    void rewindDown(WindowControllerContext& context) override;
    void pauseDown(WindowControllerContext& context) override;
    void pauseUp(WindowControllerContext& context) override;
};

class TapeMap_FastForwarding : public TapeMap_Default {
public:
    using TapeMap_Default::TapeMap_Default;
    // Swallows every event this state does not handle.
    void Default(WindowControllerContext& context) override;
    void Entry(WindowControllerContext& context) override;
    void Exit(WindowControllerContext& context) override;
    void ffwdUp(WindowControllerContext& context) override;
    void play(WindowControllerContext& context) override;
    void rewindDown(WindowControllerContext& context) override;
    void stop(WindowControllerContext& context) override;
    void tapeChosen(WindowControllerContext& context) override;
    void windowWillClose(WindowControllerContext& context) override;
};

class TapeMap_Rewinding : public TapeMap_Default {
public:
    using TapeMap_Default::TapeMap_Default;
    // Swallows every event this state does not handle.
    void Default(WindowControllerContext& context) override;
    void Entry(WindowControllerContext& context) override;
    void Exit(WindowControllerContext& context) override;
    void rewindUp(WindowControllerContext& context) override;
    void play(WindowControllerContext& context) override;
    void ffwdDown(WindowControllerContext& context) override;
    void stop(WindowControllerContext& context) override;
    void tapeChosen(WindowControllerContext& context) override;
    void windowWillClose(WindowControllerContext& context) override;
};

class TapeMap_Cueing : public TapeMap_Default {
public:
    using TapeMap_Default::TapeMap_Default;
    // Swallows every event this state does not handle.
    void Default(WindowControllerContext& context) override;
    void Entry(WindowControllerContext& context) override;
    void Exit(WindowControllerContext& context) override;
    void ffwdUp(WindowControllerContext& context) override;
    void play(WindowControllerContext& context) override;
    void rewindDown(WindowControllerContext& context) override;
    void stop(WindowControllerContext& context) override;
    void tapeChosen(WindowControllerContext& context) override;
    void windowWillClose(WindowControllerContext& context) override;
};

class TapeMap_Reviewing : public TapeMap_Default {
public:
    using TapeMap_Default::TapeMap_Default;
    // Swallows every event this state does not handle.
    void Default(WindowControllerContext& context) override;
    void Entry(WindowControllerContext& context) override;
    void Exit(WindowControllerContext& context) override;
    void rewindUp(WindowControllerContext& context) override;
    void play(WindowControllerContext& context) override;
    void ffwdDown(WindowControllerContext& context) override;
    void stop(WindowControllerContext& context) override;
    void tapeChosen(WindowControllerContext& context) override;
    void windowWillClose(WindowControllerContext& context) override;
};

class TapeMap_Recording : public TapeMap_Default {
public:
    using TapeMap_Default::TapeMap_Default;
    void Entry(WindowControllerContext& context) override;
    void Exit(WindowControllerContext& context) override;
    void stop(WindowControllerContext& context) override;
    void windowWillClose(WindowControllerContext& context) override;
    void pauseDown(WindowControllerContext& context) override;
    void pauseUp(WindowControllerContext& context) override;
    void ffwdDown(WindowControllerContext& context) override;
    void rewindDown(WindowControllerContext& context) override;
    void play(WindowControllerContext& context) override;
    void rec(WindowControllerContext& context) override;
    void tapeChosen(WindowControllerContext& context) override;
};

class TapeMap_Paused : public TapeMap_Default {
public:
    using TapeMap_Default::TapeMap_Default;
    // Swallows every event this state does not handle.
    void Default(WindowControllerContext& context) override;
    void Entry(WindowControllerContext& context) override;
    void Exit(WindowControllerContext& context) override;
    void pauseUp(WindowControllerContext& context) override;
    void stop(WindowControllerContext& context) override;
    void tapeChosen(WindowControllerContext& context) override;
    void windowWillClose(WindowControllerContext& context) override;
};

// The map's states, each a singleton made on first use and kept for the
// life of the process.
class TapeMap {
public:
    static TapeMap_Idle* Idle();
    static TapeMap_TapeStopped* TapeStopped();
    static TapeMap_Playing* Playing();
    static TapeMap_FastForwarding* FastForwarding();
    static TapeMap_Rewinding* Rewinding();
    static TapeMap_Cueing* Cueing();
    static TapeMap_Reviewing* Reviewing();
    static TapeMap_Recording* Recording();
    static TapeMap_Paused* Paused();
};

class WindowControllerContext : public SMCFSMContext {
public:
    // Makes Idle current and runs its entry actions. The owner outlives the context.
    explicit WindowControllerContext(WindowControllerActions& owner);

    // The current state. Asking for it in the middle of a transition is an
    // internal inconsistency.
    WindowControllerState& state() const;
    WindowControllerActions& owner() const { return mOwner; }

    void ffwdDown();
    void ffwdUp();
    void pauseDown();
    void pauseUp();
    void play();
    void rec();
    void rewindDown();
    void rewindUp();
    void stop();
    void tapeChosen();
    void windowWillClose();

private:
    WindowControllerActions& mOwner;
};

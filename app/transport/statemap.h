#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A small runtime for compiled finite-state machines with a push-down stack
// of suspended states. A map's states are process-wide singletons; contexts
// and stack entries only refer to them. None of these operations runs a
// state's entry or exit actions: the map's transition code does that.

class SMCState {
public:
    SMCState(std::string name, int32_t stateId) : mName(std::move(name)), mStateId(stateId) {}
    virtual ~SMCState() = default;
    SMCState(const SMCState&) = delete;
    SMCState& operator=(const SMCState&) = delete;

    const std::string& name() const { return mName; }
    void setName(std::string name) { mName = std::move(name); }
    int32_t stateId() const { return mStateId; }
    void setStateId(int32_t stateId) { mStateId = stateId; }

private:
    std::string mName; // "Map::State"
    int32_t mStateId;  // the state's number within its map, from 0
};

// One cell of the state stack; it owns the entry below it.
class SMCStateEntry {
public:
    static std::unique_ptr<SMCStateEntry> stateEntryWithState(SMCState* state,
                                                              std::unique_ptr<SMCStateEntry> next);

    SMCState* state() const { return mState; }
    void setState(SMCState* state) { mState = state; }
    SMCStateEntry* next() const { return mNext.get(); }
    void setNext(std::unique_ptr<SMCStateEntry> next) { mNext = std::move(next); }
    std::unique_ptr<SMCStateEntry> takeNext() { return std::move(mNext); }

private:
    SMCState* mState = nullptr;
    std::unique_ptr<SMCStateEntry> mNext;
};

class SMCFSMContext {
public:
    SMCFSMContext() = default;
    virtual ~SMCFSMContext();
    SMCFSMContext(const SMCFSMContext&) = delete;
    SMCFSMContext& operator=(const SMCFSMContext&) = delete;

    // True between clearState and the next setState, pushState or popState.
    bool isInTransition() const { return mState == nullptr; }
    const std::string& transition() const { return mTransition; }
    void setTransition(std::string transition) { mTransition = std::move(transition); }

    void clearState();
    SMCState* previousState() const { return mPreviousState; }
    void setState(SMCState* state);

    bool isStateStackEmpty() const { return mStateStack == nullptr; }
    int stateStackDepth() const;
    // Stacks the current state (unless inside a transition) and makes `state` current.
    void pushState(SMCState* state);
    // Makes the top of the stack current. An empty stack is an internal
    // inconsistency that leaves everything unchanged.
    void popState();
    void emptyStateStack();

    bool debugFlag() const { return mDebugFlag; }
    void setDebugFlag(bool flag) { mDebugFlag = flag; }

    // The current state; nullptr inside a transition.
    SMCState* currentState() const { return mState; }

private:
    void releaseStack();
    void logState(const char* label, const SMCState* state) const;

    SMCState* mState = nullptr;
    SMCState* mPreviousState = nullptr;
    std::unique_ptr<SMCStateEntry> mStateStack;
    std::string mTransition;
    bool mDebugFlag = false;
};

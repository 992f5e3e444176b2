#include "app/transport/statemap.h"

#include "audio/format/InternalInconsistencyException.h"

#include <cstdio>

std::unique_ptr<SMCStateEntry>
SMCStateEntry::stateEntryWithState(SMCState* state, std::unique_ptr<SMCStateEntry> next) {
    auto entry = std::make_unique<SMCStateEntry>();
    entry->setState(state);
    entry->setNext(std::move(next));
    return entry;
}

SMCFSMContext::~SMCFSMContext() {
    releaseStack();
}

// Releases one entry at a time from the top, so a deep stack never
// unwinds recursively.
void SMCFSMContext::releaseStack() {
    while (mStateStack) {
        mStateStack = mStateStack->takeNext();
    }
}

void SMCFSMContext::clearState() {
    mPreviousState = mState;
    mState = nullptr;
}

void SMCFSMContext::setState(SMCState* state) {
    mState = state;
    logState("NEW STATE    :", state);
}

int SMCFSMContext::stateStackDepth() const {
    int depth = 0;
    for (const SMCStateEntry* entry = mStateStack.get(); entry; entry = entry->next()) {
        ++depth;
    }
    return depth;
}

void SMCFSMContext::pushState(SMCState* state) {
    if (mState) {
        mStateStack = SMCStateEntry::stateEntryWithState(mState, std::move(mStateStack));
    }
    mState = state;
    logState("PUSH TO STATE:", state);
}

void SMCFSMContext::popState() {
    if (!mStateStack) {
        throw InternalInconsistencyException("Popping empty state stack", "statemap", 203);
    }
    mState = mStateStack->state();
    mStateStack = mStateStack->takeNext();
    logState("POP TO STATE :", mState);
}

void SMCFSMContext::emptyStateStack() {
    releaseStack();
}

void SMCFSMContext::logState(const char* label, const SMCState* state) const {
    if (mDebugFlag) {
        std::fprintf(stderr, "%s %s\n\r", label, state ? state->name().c_str() : "(null)");
    }
}

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

// A lock-free intrusive stack. The stack owns neither its nodes nor their
// memory: a node's link is read and written through two callbacks given at
// creation. Push and pop never block or allocate, so real-time threads may
// push. Plain compare-and-swap is open to the ABA effect: use it where one
// thread pops and any number of threads push.
using SAtomicStackNode = void*;
using SAtomicStackGetNext = std::function<SAtomicStackNode(SAtomicStackNode node)>;
using SAtomicStackSetNext = std::function<void(SAtomicStackNode node, SAtomicStackNode next)>;

struct SAtomicStack {
    std::atomic<SAtomicStackNode> mHead; // the only field changed atomically
    SAtomicStackSetNext mSetNext;
    SAtomicStackGetNext mGetNext;
};

SAtomicStack* SAtomicStackCreate(SAtomicStackGetNext getNext, SAtomicStackSetNext setNext);
// Constructs the stack in caller-owned, uninitialized memory.
bool SAtomicStackInitialize(SAtomicStack* self, SAtomicStackGetNext getNext,
                            SAtomicStackSetNext setNext);
void SAtomicStackDestroy(SAtomicStack* self);
void SAtomicStackDealloc(SAtomicStack* self);

void SAtomicStackPush(SAtomicStack* self, SAtomicStackNode node);
// The newest node, or nullptr when the stack is empty.
SAtomicStackNode SAtomicStackPop(SAtomicStack* self);
// Detaches the whole chain, newest first; nullptr when empty.
SAtomicStackNode SAtomicStackPopAll(SAtomicStack* self);
// Detaches the whole chain and returns it oldest first; nullptr when empty.
SAtomicStackNode SAtomicStackPopAllReversed(SAtomicStack* self);
bool SAtomicStackIsEmpty(const SAtomicStack* self);

// For a stack that only one thread touches.
void SAtomicStackNonAtomicPush(SAtomicStack* self, SAtomicStackNode node);
SAtomicStackNode SAtomicStackNonAtomicPop(SAtomicStack* self);

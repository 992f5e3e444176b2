#include "audio/realtime/SAtomicStack.h"

#include <cstdlib>
#include <new>

SAtomicStack* SAtomicStackCreate(SAtomicStackGetNext getNext, SAtomicStackSetNext setNext) {
    void* memory = std::calloc(1, sizeof(SAtomicStack));
    if (!memory) {
        return nullptr;
    }
    auto* self = static_cast<SAtomicStack*>(memory);
    if (!SAtomicStackInitialize(self, std::move(getNext), std::move(setNext))) {
        std::free(memory);
        return nullptr;
    }
    return self;
}

bool SAtomicStackInitialize(SAtomicStack* self, SAtomicStackGetNext getNext,
                            SAtomicStackSetNext setNext) {
    if (!getNext || !setNext) {
        return false;
    }
    new (self) SAtomicStack{{nullptr}, std::move(setNext), std::move(getNext)};
    return true;
}

void SAtomicStackDestroy(SAtomicStack* self) {
    if (self) {
        SAtomicStackDealloc(self);
        std::free(self);
    }
}

void SAtomicStackDealloc(SAtomicStack* self) {
    self->~SAtomicStack();
}

// Real-time: no allocation, no locks.
void SAtomicStackPush(SAtomicStack* self, SAtomicStackNode node) {
    SAtomicStackNode head = self->mHead.load(std::memory_order_seq_cst);
    do {
        self->mSetNext(node, head);
    } while (!self->mHead.compare_exchange_weak(head, node, std::memory_order_seq_cst));
}

// Real-time: no allocation, no locks.
SAtomicStackNode SAtomicStackPop(SAtomicStack* self) {
    SAtomicStackNode head = self->mHead.load(std::memory_order_seq_cst);
    while (head) {
        SAtomicStackNode next = self->mGetNext(head);
        if (self->mHead.compare_exchange_weak(head, next, std::memory_order_seq_cst)) {
            return head;
        }
    }
    return nullptr;
}

// Real-time: no allocation, no locks.
SAtomicStackNode SAtomicStackPopAll(SAtomicStack* self) {
    return self->mHead.exchange(nullptr, std::memory_order_seq_cst);
}

SAtomicStackNode SAtomicStackPopAllReversed(SAtomicStack* self) {
    SAtomicStackNode node = SAtomicStackPopAll(self);
    SAtomicStackNode reversed = nullptr;
    while (node) {
        SAtomicStackNode next = self->mGetNext(node);
        self->mSetNext(node, reversed);
        reversed = node;
        node = next;
    }
    return reversed;
}

bool SAtomicStackIsEmpty(const SAtomicStack* self) {
    return self->mHead.load(std::memory_order_seq_cst) == nullptr;
}

void SAtomicStackNonAtomicPush(SAtomicStack* self, SAtomicStackNode node) {
    self->mSetNext(node, self->mHead.load(std::memory_order_relaxed));
    self->mHead.store(node, std::memory_order_relaxed);
}

SAtomicStackNode SAtomicStackNonAtomicPop(SAtomicStack* self) {
    SAtomicStackNode head = self->mHead.load(std::memory_order_relaxed);
    if (head) {
        self->mHead.store(self->mGetNext(head), std::memory_order_relaxed);
    }
    return head;
}

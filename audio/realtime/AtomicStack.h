#pragma once

#include <atomic>

// The lock-free stack for nodes that carry their own link: `Node` answers
// `Node* next() const` and `void setNext(Node*)`. The stack does not own its
// nodes. As with SAtomicStack, one thread pops while any number push.
template <typename Node>
class AtomicStack {
public:
    AtomicStack() = default;
    AtomicStack(const AtomicStack&) = delete;
    AtomicStack& operator=(const AtomicStack&) = delete;

    // Real-time: no allocation, no locks.
    void push(Node* node) {
        Node* head = mHead.load(std::memory_order_seq_cst);
        do {
            node->setNext(head);
        } while (!mHead.compare_exchange_weak(head, node, std::memory_order_seq_cst));
    }

    // Real-time: no allocation, no locks.
    Node* pop() {
        Node* head = mHead.load(std::memory_order_seq_cst);
        while (head) {
            if (mHead.compare_exchange_weak(head, head->next(), std::memory_order_seq_cst)) {
                return head;
            }
        }
        return nullptr;
    }

    // The whole chain, newest first.
    Node* popAll() { return mHead.exchange(nullptr, std::memory_order_seq_cst); }

    // The whole chain, oldest first.
    Node* popAllReversed() {
        AtomicStack reversed;
        Node* node = popAll();
        while (node) {
            Node* next = node->next();
            reversed.nonAtomicPush(node);
            node = next;
        }
        return reversed.head();
    }

    void nonAtomicPush(Node* node) {
        node->setNext(mHead.load(std::memory_order_relaxed));
        mHead.store(node, std::memory_order_relaxed);
    }

    Node* nonAtomicPop() {
        Node* head = mHead.load(std::memory_order_relaxed);
        if (head) {
            mHead.store(head->next(), std::memory_order_relaxed);
        }
        return head;
    }

    bool isEmpty() const { return mHead.load(std::memory_order_seq_cst) == nullptr; }
    Node* head() const { return mHead.load(std::memory_order_seq_cst); }

private:
    std::atomic<Node*> mHead{nullptr};
};

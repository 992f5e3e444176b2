#include "audio/realtime/SAtomicStack.h"
#include "audio/realtime/AtomicStack.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

struct Node {
    int producer = 0;
    int sequence = 0;
    Node* link = nullptr;
};

SAtomicStack* makeStack() {
    return SAtomicStackCreate(
        [](SAtomicStackNode node) -> SAtomicStackNode { return static_cast<Node*>(node)->link; },
        [](SAtomicStackNode node, SAtomicStackNode next) {
            static_cast<Node*>(node)->link = static_cast<Node*>(next);
        });
}

std::vector<int> sequences(SAtomicStackNode first) {
    std::vector<int> result;
    for (auto* node = static_cast<Node*>(first); node; node = node->link) {
        result.push_back(node->sequence);
    }
    return result;
}

TEST(SAtomicStack, PopsInEveryOrder) {
    SAtomicStack* stack = makeStack();
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(SAtomicStackPop(stack), nullptr);
    EXPECT_EQ(SAtomicStackPopAll(stack), nullptr);
    EXPECT_EQ(SAtomicStackPopAllReversed(stack), nullptr);
    EXPECT_TRUE(SAtomicStackIsEmpty(stack));

    Node a{0, 1}, b{0, 2}, c{0, 3};
    for (Node* node : {&a, &b, &c}) {
        SAtomicStackPush(stack, node);
    }
    EXPECT_EQ(sequences(SAtomicStackPopAllReversed(stack)), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(SAtomicStackIsEmpty(stack));

    for (Node* node : {&a, &b, &c}) {
        SAtomicStackPush(stack, node);
    }
    EXPECT_EQ(sequences(SAtomicStackPopAll(stack)), (std::vector<int>{3, 2, 1}));
    EXPECT_TRUE(SAtomicStackIsEmpty(stack));

    for (Node* node : {&a, &b, &c}) {
        SAtomicStackNonAtomicPush(stack, node);
    }
    EXPECT_EQ(SAtomicStackPop(stack), &c);
    EXPECT_EQ(SAtomicStackNonAtomicPop(stack), &b);
    EXPECT_EQ(SAtomicStackPop(stack), &a);
    EXPECT_EQ(SAtomicStackNonAtomicPop(stack), nullptr);
    SAtomicStackDestroy(stack);
}

TEST(SAtomicStack, CreateRefusesMissingCallbacks) {
    EXPECT_EQ(SAtomicStackCreate(nullptr, nullptr), nullptr);
}

// Several producers push while one consumer drains oldest-first: nothing is
// lost or duplicated and each producer's order survives.
TEST(SAtomicStack, ConcurrentPushersAndOneReversingPopper) {
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 50000;
    SAtomicStack* stack = makeStack();
    std::vector<std::vector<Node>> nodes(kProducers, std::vector<Node>(kPerProducer));
    std::atomic<int> producersDone{0};

    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                nodes[p][i].producer = p;
                nodes[p][i].sequence = i;
                SAtomicStackPush(stack, &nodes[p][i]);
            }
            ++producersDone;
        });
    }

    std::vector<std::vector<int>> received(kProducers);
    auto drain = [&] {
        auto* node = static_cast<Node*>(SAtomicStackPopAllReversed(stack));
        while (node) {
            Node* next = node->link;
            received[node->producer].push_back(node->sequence);
            node = next;
        }
    };
    while (producersDone < kProducers) {
        drain();
    }
    drain();
    for (auto& producer : producers) {
        producer.join();
    }

    for (int p = 0; p < kProducers; ++p) {
        ASSERT_EQ(received[p].size(), static_cast<size_t>(kPerProducer));
        for (int i = 0; i < kPerProducer; ++i) {
            ASSERT_EQ(received[p][i], i) << "producer " << p;
        }
    }
    EXPECT_TRUE(SAtomicStackIsEmpty(stack));
    SAtomicStackDestroy(stack);
}

struct LinkedItem {
    int value = 0;
    LinkedItem* mNext = nullptr;
    LinkedItem* next() const { return mNext; }
    void setNext(LinkedItem* next) { mNext = next; }
};

TEST(AtomicStack, ObjectsCarryingTheirOwnLink) {
    AtomicStack<LinkedItem> stack;
    EXPECT_TRUE(stack.isEmpty());
    EXPECT_EQ(stack.pop(), nullptr);
    LinkedItem a{1}, b{2}, c{3};
    stack.push(&a);
    stack.push(&b);
    stack.push(&c);
    EXPECT_EQ(stack.head(), &c);
    LinkedItem* oldest = stack.popAllReversed();
    ASSERT_EQ(oldest, &a);
    EXPECT_EQ(a.next(), &b);
    EXPECT_EQ(b.next(), &c);
    EXPECT_EQ(c.next(), nullptr);
    EXPECT_TRUE(stack.isEmpty());

    stack.nonAtomicPush(&a);
    stack.push(&b);
    EXPECT_EQ(stack.nonAtomicPop(), &b);
    EXPECT_EQ(stack.popAll(), &a);
    EXPECT_EQ(stack.popAll(), nullptr);
}

} // namespace

#include "app/transport/statemap.h"

#include "audio/format/InternalInconsistencyException.h"

#include <gtest/gtest.h>

namespace {

SMCState gFirst("Map::First", 0);
SMCState gSecond("Map::Second", 1);
SMCState gThird("Map::Third", 2);

TEST(SMCFSMContext, PushAndPopKeepTheStack) {
    SMCFSMContext context;
    EXPECT_EQ(context.stateStackDepth(), 0);
    EXPECT_TRUE(context.isStateStackEmpty());
    context.setState(&gFirst);
    context.pushState(&gSecond);
    context.pushState(&gThird);
    EXPECT_EQ(context.stateStackDepth(), 2);
    context.popState();
    EXPECT_EQ(context.stateStackDepth(), 1);
    context.popState();
    EXPECT_EQ(context.stateStackDepth(), 0);
    EXPECT_FALSE(context.isInTransition());
}

TEST(SMCFSMContext, PushInsideATransitionStacksNothing) {
    SMCFSMContext context;
    context.setState(&gFirst);
    context.clearState();
    EXPECT_TRUE(context.isInTransition());
    EXPECT_EQ(context.previousState(), &gFirst);
    context.pushState(&gSecond);
    EXPECT_EQ(context.stateStackDepth(), 0);
    EXPECT_FALSE(context.isInTransition());

    context.clearState();
    context.setState(&gSecond);
    EXPECT_EQ(context.previousState(), &gSecond);
}

TEST(SMCFSMContext, EmptyingTheStackKeepsTheState) {
    SMCFSMContext context;
    context.setState(&gFirst);
    context.pushState(&gSecond);
    context.pushState(&gThird);
    context.emptyStateStack();
    EXPECT_TRUE(context.isStateStackEmpty());
    EXPECT_EQ(context.currentState(), &gThird);
}

TEST(SMCFSMContext, PoppingAnEmptyStackIsAnInconsistencyThatChangesNothing) {
    SMCFSMContext context;
    context.setState(&gFirst);
    try {
        context.popState();
        FAIL() << "no exception";
    } catch (const InternalInconsistencyException& failure) {
        EXPECT_STREQ(failure.what(), "Popping empty state stack");
        EXPECT_EQ(failure.sourceUnit(), "statemap");
        EXPECT_EQ(failure.line(), 203);
    }
    EXPECT_TRUE(context.isStateStackEmpty());
    EXPECT_EQ(context.currentState(), &gFirst);
}

TEST(SMCFSMContext, DeepStackIsReleasedWithoutRecursion) {
    auto context = std::make_unique<SMCFSMContext>();
    context->setState(&gFirst);
    for (int i = 0; i < 1000000; ++i) {
        context->pushState(&gSecond);
    }
    EXPECT_EQ(context->stateStackDepth(), 1000000);
    context.reset(); // would overflow the thread's stack if released recursively
}

TEST(SMCFSMContext, DebugLinesNameTheNewState) {
    SMCFSMContext context;
    context.setDebugFlag(true);
    testing::internal::CaptureStderr();
    context.setState(&gFirst);
    context.pushState(&gSecond);
    context.popState();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log, "NEW STATE    : Map::First\n\r"
                   "PUSH TO STATE: Map::Second\n\r"
                   "POP TO STATE : Map::First\n\r");
}

} // namespace

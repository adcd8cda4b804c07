#include "base/ReentrancyGuard.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

namespace talvora {
namespace {

TEST(ReentrancyGuard, CountsNestedEntriesAndUnwindsThem) {
    ReentrancyGuard guard;
    EXPECT_FALSE(guard.active());
    EXPECT_EQ(guard.depth(), 0);
    {
        const ReentrancyGuard::Entry outer(guard);
        EXPECT_TRUE(guard.active());
        EXPECT_EQ(guard.depth(), 1);
        {
            const ReentrancyGuard::Entry inner(guard);
            EXPECT_EQ(guard.depth(), 2);
        }
        EXPECT_TRUE(guard.active());
        EXPECT_EQ(guard.depth(), 1);
    }
    EXPECT_FALSE(guard.active());
    EXPECT_EQ(guard.depth(), 0);
}

TEST(ReentrancyGuard, AnExceptionLeavesTheGuardAsBefore) {
    ReentrancyGuard guard;
    const auto throwing = [&] {
        const ReentrancyGuard::Entry entry(guard);
        throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(throwing(), std::runtime_error);
    EXPECT_FALSE(guard.active());
    EXPECT_EQ(guard.depth(), 0);
}

// The way the frame path uses it: a handler re-enters the path (as a nested event loop would)
// and the path drops calls nested deeper than it allows.
TEST(ReentrancyGuard, APathDropsCallsNestedDeeperThanItAllows) {
    struct Case {
        int allowedDepth;
        int reentries;
        std::vector<int> handledAtDepth;
    } cases[] = {
        {1, 0, {1}},
        {1, 3, {1}},
        {3, 5, {1, 2, 3}},
        {3, 1, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "allowed " << c.allowedDepth << ", re-entries " << c.reentries);
        ReentrancyGuard guard;
        std::vector<int> handled;
        int reentries = c.reentries;
        std::function<void()> path = [&] {
            if (guard.depth() >= c.allowedDepth)
                return;
            const ReentrancyGuard::Entry entry(guard);
            handled.push_back(guard.depth());
            if (reentries-- > 0)
                path();
        };
        path();
        EXPECT_EQ(handled, c.handledAtDepth);
        EXPECT_FALSE(guard.active());
    }
}

} // namespace
} // namespace talvora

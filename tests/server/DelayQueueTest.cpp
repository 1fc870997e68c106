#include "server/DelayQueue.h"
#include "server/ServerLoop.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DelayQueueTest, HoldsEachMessageUntilDueAndKeepsTheOrder)
{
    DelayQueue<std::string> queue;
    queue.push("first", 500);
    queue.push("second", 300);  // would overtake the first: waits for it instead
    queue.push("third", 900);
    EXPECT_EQ(queue.nextDue(), 500);
    EXPECT_FALSE(queue.takeDue(499).has_value());
    EXPECT_EQ(queue.takeDue(500), "first");
    EXPECT_EQ(queue.nextDue(), 500);
    EXPECT_EQ(queue.takeDue(500), "second");
    EXPECT_FALSE(queue.takeDue(899).has_value());
    EXPECT_EQ(queue.takeDue(1000), "third");
    EXPECT_FALSE(queue.nextDue().has_value());
}

TEST(NetworkDelayTest, DelaysByTheLatencyGiveOrTakeTheJitter)
{
    EXPECT_FALSE(NetworkDelay(0, 0, 1).active());
    NetworkDelay delay(40'000, 10'000, 7);
    ASSERT_TRUE(delay.active());
    Micros shortest = 1'000'000, longest = 0;
    for (int i = 0; i < 1000; ++i) {
        const Micros next = delay.next();
        shortest = std::min(shortest, next);
        longest = std::max(longest, next);
    }
    EXPECT_GE(shortest, 30'000);
    EXPECT_LE(longest, 50'000);
    EXPECT_LT(shortest, 32'000);
    EXPECT_GT(longest, 48'000);
}

TEST(StrikingReportPathTest, NamesEachTouchAndTower)
{
    struct Case {
        const char* path;
        int tower;
        int touch;
        const char* expected;
    };
    const Case cases[] = {{"out/chart.svg", 0, 1, "out/chart.svg"},
                          {"out/chart.svg", 0, 3, "out/chart-3.svg"},
                          {"chart.svg", 1, 1, "chart-tower2.svg"},
                          {"chart.svg", 1, 2, "chart-tower2-2.svg"},
                          {"chart", 0, 2, "chart-2"}};
    for (const Case& c : cases)
        EXPECT_EQ(strikingReportPath(c.path, c.tower, c.touch), c.expected) << c.path << " " << c.touch;
}

}  // namespace

#include "server/TowerState.h"

#include <gtest/gtest.h>

namespace {

class TowerStateTest : public ::testing::Test {
protected:
    TowerState tower{{"Ash", "Six bells", 6}, {{"Alice", {2, 3}}, {"Bob", {3, 6, 9}}}};
};

TEST_F(TowerStateTest, TheBandRingsEveryBellWithNoRingerHere)
{
    EXPECT_EQ(tower.assignments(), (std::vector<Assignment>{{"Band", "123456"}}));
    EXPECT_TRUE(tower.clientBells().empty());
}

TEST_F(TowerStateTest, RingersGetTheirPromisedBellsInJoinOrder)
{
    struct Step {
        const char* what;
        bool join;
        int client;
        const char* ringer;
        std::vector<Assignment> expected;
    };
    const Step steps[] = {
        {"Bob joins", true, 1, "Bob", {{"Bob", "36"}, {"Band", "1245"}}},
        {"Alice joins; bell 3 stays Bob's", true, 2, "Alice", {{"Bob", "36"}, {"Alice", "2"}, {"Band", "145"}}},
        {"Carol has no bells", true, 3, "Carol", {{"Bob", "36"}, {"Alice", "2"}, {"Carol", ""}, {"Band", "145"}}},
        {"Bob leaves; bell 3 goes to Alice", false, 1, "", {{"Alice", "23"}, {"Carol", ""}, {"Band", "1456"}}},
    };
    for (const Step& step : steps) {
        if (step.join)
            EXPECT_FALSE(tower.join(step.client, step.ringer).has_value()) << step.what;
        else
            EXPECT_TRUE(tower.leave(step.client)) << step.what;
        EXPECT_EQ(tower.assignments(), step.expected) << step.what;
    }
    EXPECT_EQ(tower.clientBells(), (std::map<int, std::string>{{2, "Alice"}, {3, "Alice"}}));
    EXPECT_EQ(tower.clients(), (std::vector<int>{2, 3}));
    EXPECT_EQ(tower.ringerOf(3), "Carol");
}

TEST_F(TowerStateTest, RefusesANameAlreadyHereTheBandsNameAndNoName)
{
    ASSERT_FALSE(tower.join(1, "Alice").has_value());
    EXPECT_TRUE(tower.join(2, "Alice").has_value());
    EXPECT_TRUE(tower.join(2, "Band").has_value());
    EXPECT_TRUE(tower.join(2, "").has_value());
    EXPECT_FALSE(tower.join(2, "alice").has_value()) << "names compare exactly";
    EXPECT_EQ(tower.clients(), (std::vector<int>{1, 2}));
}

TEST_F(TowerStateTest, LeavingTwiceOrUnjoinedChangesNothing)
{
    ASSERT_FALSE(tower.join(1, "Alice").has_value());
    EXPECT_FALSE(tower.leave(7));
    EXPECT_TRUE(tower.leave(1));
    EXPECT_FALSE(tower.leave(1));
    EXPECT_TRUE(tower.empty());
}

}  // namespace

#include "server/StateFile.h"

#include <gtest/gtest.h>

namespace {

TEST(StateFileTest, WhatIsWrittenIsReadBackAsItWas)
{
    SavedState state;
    state["Ash"] = {{{"Alice", {3, 4}}, {"<b>\"x\"</b>", {1}}}, {"Plain Bob Minor", 150.5, 7.25, false}};
    state["Elm"] = {{}, {"Grandsire Triples", 180, 20, true}};
    std::string error;
    const auto read = parseState(stateText(state), error);
    ASSERT_TRUE(read.has_value()) << error;
    EXPECT_EQ(*read, state);
}

TEST(StateFileTest, AFileNotWholeIsRefusedWhole)
{
    const std::string good = R"({"format": 1, "towers": {"Ash": {"bells": {"Alice": [3]},
        "band": {"method": "Plain Bob Minor", "pealMinutes": 150, "sdMs": 5, "conductor": true}}}})";
    std::string error;
    ASSERT_TRUE(parseState(good, error).has_value()) << error;
    for (const std::string& damaged : {
             std::string(""),
             good.substr(0, good.size() / 2),
             std::string(R"([1, 2])"),
             std::string(R"({"format": 2, "towers": {}})"),
             std::string(R"({"towers": {}})"),
             std::string(R"({"format": 1, "towers": {"Ash": {"bells": {"Alice": [3]}}}})"),
             std::string(R"({"format": 1, "towers": {"Ash": {"bells": {"Alice": [13]},
                 "band": {"method": "M", "pealMinutes": 1, "sdMs": 1, "conductor": true}}}})"),
             std::string(R"({"format": 1, "towers": {"Ash": {"bells": {"Alice": ["3"]},
                 "band": {"method": "M", "pealMinutes": 1, "sdMs": 1, "conductor": true}}}})"),
             std::string(R"({"format": 1, "towers": {"Ash": {"bells": {},
                 "band": {"method": 7, "pealMinutes": 1, "sdMs": 1, "conductor": true}}}})"),
         }) {
        error.clear();
        EXPECT_FALSE(parseState(damaged, error).has_value()) << damaged;
        EXPECT_FALSE(error.empty()) << damaged;
    }
}

}  // namespace

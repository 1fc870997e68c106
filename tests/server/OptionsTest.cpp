#include "server/Options.h"

#include <gtest/gtest.h>

namespace {

ParsedOptions parse(const std::vector<std::string>& arguments)
{
    return parseOptions(arguments);
}

TEST(OptionsTest, DefaultsToOneEightBellTower)
{
    const ParsedOptions parsed = parse({});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.options.towers,
              (std::vector<TowerConfig>{{"Tolvane Tower", "Eight bells on the local server", 8}}));
}

TEST(OptionsTest, ReadsEveryOption)
{
    const ParsedOptions parsed = parse({"--port", "0", "--listen", "127.0.0.2", "--tower", "A:First: with colon:6",
                                        "--tower", "B::12", "--ringer", "Tolvane=7,8", "--ringer", "Tolvane=2",
                                        "--peal-minutes", "90.5", "--error-ms", "0", "--seed", "7", "--wait-ms",
                                        "250", "--method", "Plain Bob Minor", "--methods", "m.txt",
                                        "--composition", "bps", "--mode", "1", "--conductor", "off",
                                        "--start-delay-ms", "0", "--touches", "3", "--max-changes", "100",
                                        "--exit-when-done", "--band-sd-ms", "30", "--band-bias-ms", "2.5",
                                        "--tempo-drift", "8", "--latency-ms", "40:10", "--striking-report",
                                        "s.svg", "--drift-shape", "sine", "--drift-period-s", "90",
                                        "--band-keeps-rhythm"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const ServerOptions& o = parsed.options;
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.listenAddress, "127.0.0.2");
    EXPECT_EQ(o.towers, (std::vector<TowerConfig>{{"A", "First: with colon", 6}, {"B", "", 12}}));
    EXPECT_EQ(o.ringerBells.at("Tolvane"), (std::set<int>{2, 7, 8}));
    EXPECT_EQ(o.pealMinutes, 90.5);
    EXPECT_EQ(o.errorMs, 0);
    EXPECT_EQ(o.seed, 7u);
    EXPECT_EQ(o.waitMs, 250);
    EXPECT_EQ(o.methodName, "Plain Bob Minor");
    EXPECT_EQ(o.methodsFile, "m.txt");
    EXPECT_EQ(o.composition, "bps");
    EXPECT_EQ(o.mode, 1);
    EXPECT_FALSE(o.conductor);
    EXPECT_EQ(o.startDelayMs, 0);
    EXPECT_EQ(o.touches, 3);
    EXPECT_EQ(o.maxChanges, 100);
    EXPECT_TRUE(o.exitWhenDone);
    EXPECT_EQ(o.bandSdMs, 30);
    EXPECT_EQ(o.bandBiasMs, 2.5);
    EXPECT_EQ(o.tempoDriftPercent, 8);
    EXPECT_EQ(o.latencyMs, 40);
    EXPECT_EQ(o.jitterMs, 10);
    EXPECT_EQ(o.strikingReport, "s.svg");
    EXPECT_EQ(o.driftShape, "sine");
    EXPECT_EQ(o.driftPeriodS, 90);
    EXPECT_TRUE(o.bandKeepsRhythm);
}

TEST(OptionsTest, TheNetworkIsInstantAndTheBandHumanUnlessAsked)
{
    const ServerOptions o = parse({"--latency-ms", "25"}).options;
    EXPECT_EQ(o.latencyMs, 25);
    EXPECT_EQ(o.jitterMs, 0);
    EXPECT_EQ(o.bandSdMs, 20);
    EXPECT_EQ(o.bandBiasMs, 5);
    EXPECT_FALSE(o.errorMs.has_value());
    EXPECT_EQ(parse({}).options.latencyMs, 0);
}

TEST(OptionsTest, ThePageIsOnAtItsOwnPortUnlessAskedOtherwise)
{
    const ServerOptions defaults = parse({}).options;
    EXPECT_TRUE(defaults.http);
    EXPECT_FALSE(defaults.httpGiven);
    EXPECT_EQ(defaults.httpAddress + ":" + std::to_string(defaults.httpPort), "127.0.0.1:17480");
    const ServerOptions given = parse({"--http", "0.0.0.0:8080", "--state", "s.json"}).options;
    EXPECT_TRUE(given.httpGiven);
    EXPECT_EQ(given.httpAddress + ":" + std::to_string(given.httpPort), "0.0.0.0:8080");
    EXPECT_EQ(given.statePath, "s.json");
    EXPECT_FALSE(parse({"--http", "off"}).options.http);
}

TEST(OptionsTest, AcceptsTheEdgesOfTheLatency)
{
    struct Case {
        const char* value;
        double latency;
        double jitter;
    };
    const Case cases[] = {
        {"0", 0, 0}, {"0:0", 0, 0}, {"40:40", 40, 40}, {"10000", 10000, 0}, {"10000:10000", 10000, 10000}};
    for (const Case& c : cases) {
        const ParsedOptions parsed = parse({"--latency-ms", c.value});
        ASSERT_TRUE(parsed.ok()) << c.value << ": " << parsed.error;
        EXPECT_EQ(parsed.options.latencyMs, c.latency) << c.value;
        EXPECT_EQ(parsed.options.jitterMs, c.jitter) << c.value;
    }
    EXPECT_FALSE(parse({"--latency-ms", "10000.5"}).ok());
}

TEST(OptionsErrorTest, RefusesBadValues)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--port"},
        {"--port", "65536"},
        {"--port", "-1"},
        {"--port", "12x"},
        {"--tower", "NoBells"},
        {"--tower", "A:desc"},
        {"--tower", "A:desc:3"},
        {"--tower", "A:desc:13"},
        {"--tower", ":desc:8"},
        {"--tower", std::string(80, 'n') + ":d:8"},
        {"--tower", "A:x:8", "--tower", "A:y:6"},
        {"--ringer", "Tolvane"},
        {"--ringer", "=1"},
        {"--ringer", "Tolvane=0"},
        {"--ringer", "Tolvane=13"},
        {"--ringer", "Tolvane=1,,2"},
        {"--mode", "2"},
        {"--conductor", "maybe"},
        {"--peal-minutes", "0"},
        {"--error-ms", "-1"},
        {"--band-sd-ms", "-1"},
        {"--tempo-drift", "51"},
        {"--drift-shape", "square"},
        {"--drift-period-s", "0"},
        {"--latency-ms", "40:50"},
        {"--latency-ms", "x"},
        {"--latency-ms", "40:"},
        {"--latency-ms", "-5"},
        {"--seed", "x"},
        {"--touches", "0"},
        {"--config", "/nonexistent/towers.conf"},
        {"--frobnicate"},
        {"--http", "127.0.0.1"},
        {"--http", ":8080"},
        {"--http", "127.0.0.1:65536"},
        {"--http", "on"},
    };
    for (const auto& arguments : cases) {
        const ParsedOptions parsed = parse(arguments);
        EXPECT_FALSE(parsed.ok()) << arguments.front() << " " << (arguments.size() > 1 ? arguments[1] : "");
    }
}

TEST(TowerConfigTest, ReadsOneTowerALineSkippingCommentsAndBlanks)
{
    std::vector<TowerConfig> towers;
    std::string error;
    ASSERT_TRUE(readTowerConfig("# towers\n\nAsh:Six:6\r\n  # more\nElm:Twelve # bells:12", towers, error)) << error;
    EXPECT_EQ(towers, (std::vector<TowerConfig>{{"Ash", "Six", 6}, {"Elm", "Twelve # bells", 12}}));

    towers.clear();
    EXPECT_FALSE(readTowerConfig("Ash:Six:6\nbroken line\n", towers, error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}

}  // namespace

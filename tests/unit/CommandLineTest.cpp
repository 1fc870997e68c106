#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <ostream>

#include <sstream>

namespace {

std::vector<std::string> words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

struct SwitchCase {
    const char* commandLine;
    const char* host;
    const char* name;
};

std::ostream& operator<<(std::ostream& out, const SwitchCase& c)
{
    return out << '"' << c.commandLine << '"';
}

class Switches : public testing::TestWithParam<SwitchCase> {};

TEST_P(Switches, ChooseServerAndName)
{
    const auto& c = GetParam();
    EXPECT_EQ(serverHostFromSwitches(c.commandLine), c.host);
    EXPECT_EQ(ringerNameFromSwitches(c.commandLine).value_or(kDefaultRingerName), c.name);
}

INSTANTIATE_TEST_SUITE_P(Table, Switches, testing::Values(
    SwitchCase{"/usr/bin/tolvane", kMainServerHost, "Tolvane"},
    SwitchCase{"tolvane -d -t", kTestServerHost, "Tolvane"},
    SwitchCase{"tolvane -t -d", kTestServerHost, "Tolvane"},
    SwitchCase{"tolvane -t -l", kLocalServerHost, "Tolvane"},
    SwitchCase{"tolvane -d", kDevelopmentServerAddress, "Tolvane"},
    SwitchCase{"tolvane -local", kLocalServerHost, "Tolvane"},
    SwitchCase{"tolvane -L", kMainServerHost, "Tolvane"},
    SwitchCase{"tolvane -n Fred Bloggs", kMainServerHost, "Fred"},
    SwitchCase{"tolvane -nFred", kMainServerHost, "Fred"},
    SwitchCase{"tolvane -n    Fred", kMainServerHost, "Fred"},
    SwitchCase{"tolvane -n   ", kMainServerHost, ""},
    SwitchCase{"tolvane -n Ann -n Bob", kMainServerHost, "Ann"},
    SwitchCase{"tolvane -n -lisa", kLocalServerHost, "-lisa"},
    SwitchCase{"/home/me/my -tools/tolvane", kTestServerHost, "Tolvane"},
    SwitchCase{"tolvane -N Fred", kMainServerHost, "Tolvane"}));

TEST(CommandLine, SwitchesAreSearchedInTheArgumentsJoinedWithBlanks)
{
    const auto parsed = parseCommandLine({"tolvane", "-l", "-n", "Robot"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.serverHost, kLocalServerHost);
    EXPECT_EQ(parsed.options.serverPort, 17481);
    EXPECT_EQ(parsed.options.ringerName, "Robot");
}

TEST(CommandLine, LongOptionsAndTheirValuesStayOutOfTheSwitchSearch)
{
    const auto parsed = parseCommandLine({"tolvane", "--tower", "Bow -lane", "--method=Stedman -triples", "-n", "Al"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.serverHost, kMainServerHost);
    EXPECT_EQ(parsed.options.tower, "Bow -lane");
    EXPECT_EQ(parsed.options.method, "Stedman -triples");
    EXPECT_EQ(parsed.options.ringerName, "Al");
}

TEST(CommandLine, ServerOptionOverridesTheSwitches)
{
    auto parsed = parseCommandLine(words("tolvane -l --server 10.1.2.3:4000"));
    EXPECT_EQ(parsed.options.serverHost, "10.1.2.3");
    EXPECT_EQ(parsed.options.serverPort, 4000);
    parsed = parseCommandLine(words("tolvane --server=ringing.example"));
    EXPECT_EQ(parsed.options.serverHost, "ringing.example");
    EXPECT_EQ(parsed.options.serverPort, 17481);
}

TEST(CommandLine, UnattendedOptions)
{
    const auto parsed = parseCommandLine({"tolvane", "--headless", "--notation", "x16x16x16,12", "--bob", "14",
                                          "--single", "1234", "--start-change", "14", "--composition", "bpp",
                                          "--mode", "1", "--speed", "-3"});
    ASSERT_EQ(parsed.error, "");
    const Options& o = parsed.options;
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.notation, "x16x16x16,12");
    EXPECT_EQ(o.bob, "14");
    EXPECT_EQ(o.single, "1234");
    EXPECT_EQ(o.startChange, "14");
    EXPECT_EQ(o.composition, "bpp");
    EXPECT_EQ(o.mode, 1);
    EXPECT_EQ(o.speed, -3);
}

TEST(CommandLine, BadOptionsAreErrors)
{
    for (const char* line : {"tolvane --frobnicate", "tolvane --mode 2", "tolvane --speed fast", "tolvane --tower",
                             "tolvane --server host:0", "tolvane --server host:99999", "tolvane --server :80",
                             "tolvane --headless=yes"})
        EXPECT_NE(parseCommandLine(words(line)).error, "") << line;
}

TEST(CommandLine, DoubleDashEndsTheOptions)
{
    const auto parsed = parseCommandLine({"tolvane", "--", "--headless", "-l"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_FALSE(parsed.options.headless);
    EXPECT_EQ(parsed.options.serverHost, kLocalServerHost);
}

} // namespace

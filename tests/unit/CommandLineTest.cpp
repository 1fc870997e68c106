#include "app/CommandLine.h"
#include "app/WriteSound.h"
#include "sound/Recording.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
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

TEST(CommandLine, CallingAndObservationBell)
{
    auto parsed = parseCommandLine({"tolvane", "--calling", "W sH", "--observation", "E"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.calling, "W sH");
    EXPECT_EQ(parsed.options.observation, 11);
    EXPECT_EQ(parsed.options.composition, std::nullopt);
    parsed = parseCommandLine({"tolvane", "--calling=B S", "--composition", "bs"});
    EXPECT_EQ(parsed.error, "options '--calling' and '--composition' cannot be used together");
}

TEST(CommandLine, RingYourself)
{
    const std::vector<std::pair<const char*, std::optional<PersonBells>>> good{
        {"tolvane", std::nullopt},
        {"tolvane --ring-yourself 4", PersonBells{4, 0}},
        {"tolvane --ring-yourself=T", PersonBells{12, 0}},
        {"tolvane --ring-yourself 0", PersonBells{10, 0}},
        {"tolvane --ring-yourself none", PersonBells{0, 0}},
        {"tolvane --headless --ring-yourself none", PersonBells{0, 0}},
        {"tolvane --ring-yourself 5,6", PersonBells{5, 6}},
        {"tolvane --ring-yourself 6,5", PersonBells{6, 5}},
        {"tolvane --ring-yourself E,12", PersonBells{11, 12}}};
    for (const auto& [line, bells] : good) {
        const auto parsed = parseCommandLine(words(line));
        EXPECT_EQ(parsed.error, "") << line;
        EXPECT_EQ(parsed.options.personBells, bells) << line;
    }
    for (const char* line : {"tolvane --ring-yourself 13", "tolvane --ring-yourself", "tolvane --ring-yourself treble",
                             "tolvane --ring-yourself= ", "tolvane --headless --ring-yourself 4",
                             "tolvane --headless --ring-yourself 4,5"})
        EXPECT_NE(parseCommandLine(words(line)).error, "") << line;

    // Two bells that cannot be rung name the value and say why.
    const std::vector<std::pair<const char*, const char*>> bad{
        {"5,5", "the same bell twice"},
        {"5,13", "'13' is not a bell"},
        {"5,", "'' is not a bell"},
        {"none,5", "'none' is not a bell"},
        {"4,5,6", "at most two bells"}};
    for (const auto& [value, why] : bad) {
        const std::string error = parseCommandLine({"tolvane", "--ring-yourself", value}).error;
        EXPECT_EQ(error.rfind("invalid value '" + std::string(value) + "' for option '--ring-yourself': ", 0), 0u)
            << error;
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }

    // The saved bells only where the command line names none: "none" turns them off.
    SavedSettings saved;
    saved.personBells = PersonBells{6, 0};
    Options options = parseCommandLine(words("tolvane")).options;
    applySavedSettings(options, saved);
    EXPECT_EQ(options.personBells, (PersonBells{6, 0}));
    options = parseCommandLine(words("tolvane --ring-yourself none")).options;
    applySavedSettings(options, saved);
    EXPECT_EQ(options.personBells, (PersonBells{0, 0}));
}

TEST(CommandLine, BadOptionsAreErrors)
{
    for (const char* line : {"tolvane --frobnicate", "tolvane --mode 2", "tolvane --speed fast", "tolvane --tower",
                             "tolvane --server host:0", "tolvane --server host:99999", "tolvane --server :80",
                             "tolvane --headless=yes", "tolvane --calling H --observation 13",
                             "tolvane --calling H --observation tenor"})
        EXPECT_NE(parseCommandLine(words(line)).error, "") << line;
    // Without a calling the observation bell would steer nothing.
    EXPECT_EQ(parseCommandLine(words("tolvane --observation 8")).error, "option '--observation' needs '--calling'");
}

TEST(CommandLine, RhythmOptions)
{
    const auto parsed = parseCommandLine(words("tolvane --rhythm band --handstroke-gap=0.5 --inertia 0.9"));
    ASSERT_EQ(parsed.error, "");
    const RhythmSettings rhythm = rhythmSettingsOf(parsed.options);
    EXPECT_EQ(rhythm.rhythm, RhythmSettings::Rhythm::Band);
    EXPECT_EQ(rhythm.handstrokeGap, 0.5);
    EXPECT_EQ(rhythm.inertia, 0.9);

    const RhythmSettings defaults = rhythmSettingsOf(parseCommandLine(words("tolvane")).options);
    EXPECT_EQ(defaults.rhythm, RhythmSettings::Rhythm::Interval);
    EXPECT_EQ(defaults.handstrokeGap, 1.0);
    EXPECT_EQ(defaults.inertia, 0.5);
}

TEST(CommandLine, BadRhythmValuesAreErrors)
{
    for (const char* line : {"tolvane --rhythm Band", "tolvane --rhythm", "tolvane --handstroke-gap 2.01",
                             "tolvane --handstroke-gap -0.1", "tolvane --handstroke-gap nan",
                             "tolvane --handstroke-gap 1,5", "tolvane --inertia inf", "tolvane --inertia 1.5", "tolvane --inertia 1",
                             "tolvane --inertia 0.91",
                             "tolvane --inertia=", "tolvane --inertia 0.5x"}) {
        const std::string error = parseCommandLine(words(line)).error;
        EXPECT_NE(error, "") << line;
    }
    EXPECT_EQ(parseCommandLine(words("tolvane --inertia 1")).error,
              "invalid value '1' for option '--inertia': from 0 to 0.9 (at 1 the rhythm would never move)");
    EXPECT_EQ(parseCommandLine(words("tolvane --handstroke-gap 3")).error,
              "invalid value '3' for option '--handstroke-gap'");
}

// The saved settings against the command line: a row gives the command line,
// whether a server was saved, and the server and rhythm that result. The
// saved rhythm values all differ from the defaults and from the command
// line's, so that each can be told apart in the result.
struct SavedCase {
    const char* commandLine;
    bool serverSaved;
    const char* host;
    int port;
    RhythmSettings expected;
};

std::ostream& operator<<(std::ostream& out, const SavedCase& c)
{
    return out << '"' << c.commandLine << "\" saved " << c.serverSaved;
}

class SavedSettingsRows : public testing::TestWithParam<SavedCase> {};

TEST_P(SavedSettingsRows, FillWhatTheCommandLineLeavesOpen)
{
    const auto& c = GetParam();
    SavedSettings saved;
    if (c.serverSaved)
        saved.serverHost = "tower.example";
    saved.serverPort = 4000;
    saved.rhythm = RhythmSettings::Rhythm::Band;
    saved.handstrokeGap = 1.5;
    saved.inertia = 0.25;
    Options options = parseCommandLine(words(c.commandLine)).options;
    applySavedSettings(options, saved);
    EXPECT_EQ(options.serverHost, c.host);
    EXPECT_EQ(options.serverPort, c.port);
    const RhythmSettings rhythm = rhythmSettingsOf(options);
    EXPECT_EQ(rhythm.rhythm, c.expected.rhythm);
    EXPECT_EQ(rhythm.handstrokeGap, c.expected.handstrokeGap);
    EXPECT_EQ(rhythm.inertia, c.expected.inertia);
}

constexpr RhythmSettings kSavedRhythm{RhythmSettings::Rhythm::Band, 1.5, 0.25};

INSTANTIATE_TEST_SUITE_P(Table, SavedSettingsRows, testing::Values(
    SavedCase{"tolvane", false, kMainServerHost, 17481, kSavedRhythm},
    SavedCase{"tolvane", true, "tower.example", 4000, kSavedRhythm},
    SavedCase{"tolvane -n Robot", true, "tower.example", 4000, kSavedRhythm},
    SavedCase{"tolvane -l", true, kLocalServerHost, 17481, kSavedRhythm},
    SavedCase{"tolvane -t", true, kTestServerHost, 17481, kSavedRhythm},
    SavedCase{"tolvane -d", true, kDevelopmentServerAddress, 17481, kSavedRhythm},
    SavedCase{"tolvane --server 10.0.0.1", true, "10.0.0.1", 17481, kSavedRhythm},
    SavedCase{"tolvane --rhythm interval", true, "tower.example", 4000, {RhythmSettings::Rhythm::Interval, 1.5, 0.25}},
    SavedCase{"tolvane --handstroke-gap 0", true, "tower.example", 4000, {RhythmSettings::Rhythm::Band, 0.0, 0.25}},
    SavedCase{"tolvane --inertia 0.75", true, "tower.example", 4000, {RhythmSettings::Rhythm::Band, 1.5, 0.75}},
    SavedCase{"tolvane --inertia 0 --handstroke-gap 2 --rhythm interval", true, "tower.example", 4000,
              {RhythmSettings::Rhythm::Interval, 2.0, 0.0}}));

TEST(SavedSettings, HostsAreNamesOrAddresses)
{
    for (const char* host : {"localhost", "127.0.0.1", "ringing.example.org", "my_server-2"})
        EXPECT_TRUE(isValidServerHost(host)) << host;
    for (const std::string& host : {std::string(), std::string("a b"), std::string("host:80"),
                                   std::string("\x1b[31m"), std::string(254, 'a')})
        EXPECT_FALSE(isValidServerHost(host)) << host;
}

TEST(CommandLine, DoubleDashEndsTheOptions)
{
    const auto parsed = parseCommandLine({"tolvane", "--", "--headless", "-l"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_FALSE(parsed.options.headless);
    EXPECT_EQ(parsed.options.serverHost, kLocalServerHost);
}

} // namespace

namespace {

// The sound's options: the command line's choice over the saved one, which
// decides only when the command line says nothing.
TEST(CommandLine, SoundIsOffUnlessChosen)
{
    struct Row {
        const char* commandLine;
        std::optional<bool> saved;
        bool on;
    };
    for (const Row row : {Row{"tolvane", std::nullopt, false}, Row{"tolvane", true, true},
                          Row{"tolvane --no-sound", true, false}, Row{"tolvane --sound", false, true},
                          Row{"tolvane --sound --no-sound", std::nullopt, false}}) {
        const auto parsed = parseCommandLine(words(row.commandLine));
        ASSERT_EQ(parsed.error, "") << row.commandLine;
        Options options = parsed.options;
        SavedSettings saved;
        saved.sound = row.saved;
        saved.soundVolume = 0.25;
        saved.tenorNote = "Eb4";
        applySavedSettings(options, saved);
        const SoundSettings sound = soundSettingsOf(options);
        EXPECT_EQ(sound.on, row.on) << row.commandLine;
        EXPECT_EQ(sound.volume, 0.25);
        EXPECT_EQ(sound.tenorNote, "Eb4");
    }
    EXPECT_EQ(soundSettingsOf(Options{}).tenorNote, sound::kDefaultTenorNote);
}

TEST(CommandLine, WriteSoundAndItsValues)
{
    const auto rounds = parseCommandLine(words("tolvane --write-sound rounds.wav --bells 6")).options;
    EXPECT_EQ(rounds.writeSound, "rounds.wav");
    EXPECT_EQ(rounds.soundBells, 6);
    EXPECT_FALSE(rounds.soundBell);
    const auto one = parseCommandLine(words("tolvane --write-sound=t.wav --bells 12 --bell T")).options;
    EXPECT_EQ(one.soundBell, 12);
    // The bell is named as --ring-yourself and --observation name theirs.
    EXPECT_EQ(parseCommandLine(words("tolvane --write-sound=t.wav --bell 0")).options.soundBell, 10);
    for (const char* line : {"tolvane --write-sound", "tolvane --write-sound=", "tolvane --write-sound a.wav --bells 0",
                             "tolvane --write-sound a.wav --bells 13", "tolvane --write-sound a.wav --bells six",
                             "tolvane --write-sound a.wav --bell 13", "tolvane --write-sound a.wav --bell X",
                             "tolvane --write-sound a.wav --bells 6 --bell 7",
                             "tolvane --bells 8", "tolvane --bell 2", "tolvane --sound=yes"})
        EXPECT_NE(parseCommandLine(words(line)).error, "") << line;
    for (const char* text : {"true", "false"})
        EXPECT_TRUE(parseOnOff(text)) << text;
    for (const char* text : {"1", "yes", "", "True"})
        EXPECT_FALSE(parseOnOff(text)) << text;
    EXPECT_FALSE(parseVolume("1.01"));
    EXPECT_FALSE(parseTenorNote("H5"));
}

} // namespace

TEST(WriteSound, OneBellAsAWavFileOfItsWholeSound)
{
    const std::string path = testing::TempDir() + "tolvane-bell.wav";
    Options options = parseCommandLine(words("tolvane --write-sound " + path + " --bell 3")).options;
    ASSERT_EQ(writeSoundFile(options), "");
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const double tenorHz = *sound::noteFrequency(sound::kDefaultTenorNote);
    EXPECT_EQ(bytes.size(), 44 + 2 * sound::recordBell(3, 8, tenorHz).size());
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    std::remove(path.c_str());
}

// A full disk, a missing folder or a folder for a file: each is refused with
// the reason, never a half-written file.
TEST(WriteSound, TargetsThatCannotBeWrittenSayWhy)
{
    const struct {
        std::string path;
        const char* why;
    } cases[] = {
        {"/dev/full", "No space left on device"},
        {testing::TempDir() + "no-such-folder/x.wav", "No such file or directory"},
        {testing::TempDir(), "Is a directory"},
    };
    for (const auto& c : cases) {
        Options options = parseCommandLine(words("tolvane --write-sound " + c.path + " --bell 2")).options;
        EXPECT_EQ(writeSoundFile(options), "cannot write '" + c.path + "': " + c.why) << c.path;
    }
}

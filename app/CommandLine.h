#pragma once

// The command line: the single-letter switches that choose the server and the
// ringer name, searched as plain substrings of the whole command line, and our
// GNU-style long options for unattended runs, which never take part in that
// search.

#include "engine/RhythmSettings.h"
#include "engine/RingingEngine.h"
#include "sound/SoundSettings.h"

#include <optional>
#include <string>
#include <vector>

inline constexpr const char* kLocalServerHost = "localhost";
// Placeholders: no public server speaks this protocol yet. The ".invalid"
// names never resolve, and nothing listens on the second loopback address.
inline constexpr const char* kMainServerHost = "ringing.tolvane.invalid";
inline constexpr const char* kTestServerHost = "test.tolvane.invalid";
inline constexpr const char* kDevelopmentServerAddress = "127.0.0.2";
inline constexpr int kServerPort = 17481;
inline constexpr const char* kDefaultRingerName = "Tolvane";

struct Options {
    std::string serverHost = kMainServerHost;
    int serverPort = kServerPort;
    bool serverGiven = false;   // --server, which overrides the switches
    bool serverChosen = false;  // --server or a server switch: the saved server is not used
    std::string ringerName = kDefaultRingerName;
    bool headless = false;
    bool help = false;
    bool version = false;
    std::optional<std::string> tower;
    std::optional<std::string> method;
    std::optional<std::string> notation;
    std::optional<std::string> bob;
    std::optional<std::string> single;
    std::optional<std::string> startChange;
    std::optional<std::string> composition;
    std::optional<std::string> calling;  // expanded into the composition at start-up
    std::optional<int> observation;      // a bell 1..12
    std::optional<int> mode;
    std::optional<int> speed;
    std::optional<RhythmSettings::Rhythm> rhythm;
    std::optional<double> handstrokeGap;
    std::optional<double> inertia;
    std::optional<std::string> importMethods;  // a collection file to import, then exit
    std::optional<std::string> methodInfo;     // a title to describe, then exit
    // --ring-yourself: the bells rung at the keyboard, the left hand's (F)
    // first; {0, 0} none, {B, 0} one bell.
    std::optional<PersonBells> personBells;
    bool reconnect = false;  // a lost connection is made again instead of ending the run
    std::optional<bool> sound;  // --sound, --no-sound
    std::optional<double> soundVolume;      // saved only
    std::optional<std::string> tenorNote;   // saved only
    // --write-sound FILE: rounds on soundBells bells (default 8), or soundBell
    // struck once, written as a WAV file instead of a run.
    std::optional<std::string> writeSound;
    std::optional<int> soundBells;
    std::optional<int> soundBell;
};

// What the options dialog saves between runs; a field never saved is empty.
struct SavedSettings {
    std::optional<std::string> serverHost;
    int serverPort = kServerPort;
    std::optional<RhythmSettings::Rhythm> rhythm;
    std::optional<double> handstrokeGap;
    std::optional<double> inertia;
    std::optional<PersonBells> personBells;
    std::optional<bool> reconnect;
    std::optional<bool> sound;
    std::optional<double> soundVolume;
    std::optional<std::string> tenorNote;
};

// The saved settings fill in what the command line leaves open: the server
// when no switch and no --server chose one, and each rhythm value not given.
void applySavedSettings(Options& options, const SavedSettings& saved);
// The rhythm values in force: those given, the defaults for the rest.
RhythmSettings rhythmSettingsOf(const Options& options);
SoundSettings soundSettingsOf(const Options& options);

struct ParsedCommandLine {
    Options options;
    std::string error;  // empty when the command line is good
};

// `arguments` as the process received them, the program's path first.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The switch rules over one command-line text.
std::string serverHostFromSwitches(const std::string& commandLine);
std::optional<std::string> ringerNameFromSwitches(const std::string& commandLine);

// The rules for each value, shared by the command line and the saved settings;
// nothing when the text is not a good value.
bool isValidServerHost(const std::string& host);
std::optional<RhythmSettings::Rhythm> parseRhythm(const std::string& text);
std::optional<double> parseHandstrokeGap(const std::string& text);
std::optional<double> parseInertia(const std::string& text);
const char* rhythmName(RhythmSettings::Rhythm rhythm);
// "none", a bell 1..12 as a number or symbol, or two different bells "B1,B2".
struct PersonBellsReading {
    std::optional<PersonBells> bells;
    std::string problem;  // what is wrong with the text, when bells is empty
};
PersonBellsReading readPersonBells(const std::string& text);
std::optional<PersonBells> parsePersonBells(const std::string& text);
// "5", "5,6": as --ring-yourself takes them.
std::string personBellsText(const PersonBells& bells);
std::optional<bool> parseOnOff(const std::string& text);  // "true" or "false"
std::optional<double> parseVolume(const std::string& text);
std::optional<std::string> parseTenorNote(const std::string& text);

std::string usageText();

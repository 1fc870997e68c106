#pragma once

// The server's command line: towers, ringers, the band's speed and errors, the
// conductor, and where to listen.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct TowerConfig {
    std::string name;
    std::string description;
    int bells = 8;
    friend bool operator==(const TowerConfig&, const TowerConfig&) = default;
};

inline constexpr int kMinTowerBells = 4;
inline constexpr int kMaxTowerBells = 12;
inline constexpr std::uint16_t kDefaultPort = 17481;
inline constexpr std::uint16_t kDefaultHttpPort = 17480;
// Tower names travel in 80-byte fields; a longer name could never be joined.
inline constexpr std::size_t kMaxNameLength = 80;

struct ServerOptions {
    std::string listenAddress = "127.0.0.1";
    int port = kDefaultPort;
    bool http = true;                                // the tower page
    std::string httpAddress = "127.0.0.1";
    int httpPort = kDefaultHttpPort;
    bool httpGiven = false;                          // --http named an address
    std::string captainKeyFile;                      // empty: a fresh key each start
    std::string statePath;                           // empty: the page's changes are not kept
    std::vector<TowerConfig> towers;                 // never empty after parsing
    std::map<std::string, std::set<int>> ringerBells;  // ringer name -> bell numbers
    double pealMinutes = 180;
    double bandSdMs = 20;
    std::optional<double> errorMs;                   // uniform errors instead of normal ones
    double bandBiasMs = 5;
    double tempoDriftPercent = 0;
    std::string driftShape = "eased";                // eased, sine or ramp
    double driftPeriodS = 60;
    bool bandKeepsRhythm = false;
    double latencyMs = 0;
    double jitterMs = 0;
    std::string strikingReport;                      // SVG path; empty: no picture
    std::optional<std::uint32_t> seed;
    int waitMs = 3000;
    std::string methodName;                          // empty: Plain Bob at each tower's stage
    std::string methodsFile;                         // empty: searched for
    std::string composition;
    int mode = 0;
    bool conductor = true;
    int startDelayMs = 1000;
    int touches = 1;
    int maxChanges = 5040;
    bool exitWhenDone = false;
    bool help = false;
    bool version = false;
};

// The outcome of reading the command line: options, or one line saying what is wrong.
struct ParsedOptions {
    ServerOptions options;
    std::string error;
    bool ok() const { return error.empty(); }
};

ParsedOptions parseOptions(const std::vector<std::string>& arguments);

// "NAME:DESCRIPTION:BELLS"; the description may itself hold colons.
std::optional<TowerConfig> parseTowerSpec(std::string_view spec, std::string& error);
// "NAME=7,8" (bell numbers).
bool parseRingerSpec(std::string_view spec, std::map<std::string, std::set<int>>& ringers,
                     std::string& error);
// One tower per line; blank lines and lines starting with '#' are skipped.
bool readTowerConfig(std::string_view text, std::vector<TowerConfig>& towers, std::string& error);

std::string helpText();

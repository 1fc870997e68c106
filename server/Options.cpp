#include "server/Options.h"

#include <charconv>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

template <typename Number>
bool parseNumber(std::string_view text, Number& value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && ptr == end && !text.empty();
}

bool parseIntIn(std::string_view text, int low, int high, int& value)
{
    return parseNumber(text, value) && value >= low && value <= high;
}

std::string_view trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool validName(std::string_view name)
{
    return !name.empty() && name.size() < kMaxNameLength && name.find('\0') == std::string_view::npos;
}

bool readFile(const std::string& path, std::string& text)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream contents;
    contents << file.rdbuf();
    text = contents.str();
    return true;
}

// What each option does with its value; returns an error text or empty.
using ValueHandler = std::function<std::string(ServerOptions&, const std::string&)>;

std::string numberError(const std::string& option, const std::string& value)
{
    return "bad value for " + option + ": '" + value + "'";
}

ValueHandler intOption(int ServerOptions::*member, int low, int high, const std::string& name)
{
    return [=](ServerOptions& options, const std::string& value) {
        return parseIntIn(value, low, high, options.*member) ? std::string() : numberError(name, value);
    };
}

ValueHandler doubleOption(double ServerOptions::*member, double low, double high, const std::string& name)
{
    return [=](ServerOptions& options, const std::string& value) {
        double number = 0;
        if (!parseNumber(value, number) || !(number >= low && number <= high))
            return numberError(name, value);
        options.*member = number;
        return std::string();
    };
}

// "ADDR:PORT" or "off".
std::string setHttp(ServerOptions& options, const std::string& value)
{
    options.httpGiven = true;
    if (value == "off") {
        options.http = false;
        return {};
    }
    const auto colon = value.rfind(':');
    int port = 0;
    if (colon == std::string::npos || colon == 0 || !parseIntIn(std::string_view(value).substr(colon + 1), 0, 65535, port))
        return "bad value for --http: '" + value + "' (ADDR:PORT, or off)";
    options.http = true;
    options.httpAddress = value.substr(0, colon);
    options.httpPort = port;
    return {};
}

// "L" or "L:J", milliseconds.
std::string setLatency(ServerOptions& options, const std::string& value)
{
    const auto colon = value.find(':');
    double latency = 0;
    double jitter = 0;
    const bool ok = parseNumber(std::string_view(value).substr(0, colon), latency) &&
                    (colon == std::string::npos || parseNumber(std::string_view(value).substr(colon + 1), jitter));
    if (!ok || !(latency >= 0 && latency <= 10000) || !(jitter >= 0 && jitter <= latency))
        return "bad value for --latency-ms: '" + value + "' (L or L:J in ms, 0 <= J <= L <= 10000)";
    options.latencyMs = latency;
    options.jitterMs = jitter;
    return {};
}

ValueHandler textOption(std::string ServerOptions::*member)
{
    return [=](ServerOptions& options, const std::string& value) {
        options.*member = value;
        return std::string();
    };
}

std::string addTower(ServerOptions& options, const std::string& value, bool& towersGiven)
{
    std::string error;
    const auto tower = parseTowerSpec(value, error);
    if (!tower)
        return error;
    if (!towersGiven)
        options.towers.clear();
    towersGiven = true;
    options.towers.push_back(*tower);
    return {};
}

std::string addConfig(ServerOptions& options, const std::string& path, bool& towersGiven)
{
    std::string text;
    if (!readFile(path, text))
        return "cannot read config file '" + path + "'";
    if (!towersGiven)
        options.towers.clear();
    towersGiven = true;
    std::string error;
    return readTowerConfig(text, options.towers, error) ? std::string() : path + ": " + error;
}

std::map<std::string, ValueHandler> valueHandlers(bool& towersGiven)
{
    using O = ServerOptions;
    return {
        {"--port", intOption(&O::port, 0, 65535, "--port")},
        {"--listen", textOption(&O::listenAddress)},
        {"--http", setHttp},
        {"--captain-key-file", textOption(&O::captainKeyFile)},
        {"--state", textOption(&O::statePath)},
        {"--tower", [&](O& o, const std::string& v) { return addTower(o, v, towersGiven); }},
        {"--config", [&](O& o, const std::string& v) { return addConfig(o, v, towersGiven); }},
        {"--ringer", [](O& o, const std::string& v) {
             std::string error;
             parseRingerSpec(v, o.ringerBells, error);
             return error;
         }},
        {"--peal-minutes", doubleOption(&O::pealMinutes, 1, 100000, "--peal-minutes")},
        {"--error-ms", [](O& o, const std::string& v) {
             double ms = 0;
             if (!parseNumber(v, ms) || !(ms >= 0 && ms <= 1000))
                 return numberError("--error-ms", v);
             o.errorMs = ms;
             return std::string();
         }},
        {"--band-sd-ms", doubleOption(&O::bandSdMs, 0, 1000, "--band-sd-ms")},
        {"--band-bias-ms", doubleOption(&O::bandBiasMs, 0, 1000, "--band-bias-ms")},
        {"--tempo-drift", doubleOption(&O::tempoDriftPercent, 0, 50, "--tempo-drift")},
        {"--drift-shape", [](O& o, const std::string& v) {
             if (v != "eased" && v != "sine" && v != "ramp")
                 return numberError("--drift-shape", v);
             o.driftShape = v;
             return std::string();
         }},
        {"--drift-period-s", doubleOption(&O::driftPeriodS, 1, 100000, "--drift-period-s")},
        {"--latency-ms", setLatency},
        {"--striking-report", textOption(&O::strikingReport)},
        {"--seed", [](O& o, const std::string& v) {
             std::uint32_t seed = 0;
             if (!parseNumber(v, seed))
                 return numberError("--seed", v);
             o.seed = seed;
             return std::string();
         }},
        {"--wait-ms", intOption(&O::waitMs, 0, 600000, "--wait-ms")},
        {"--method", textOption(&O::methodName)},
        {"--methods", textOption(&O::methodsFile)},
        {"--composition", textOption(&O::composition)},
        {"--mode", intOption(&O::mode, 0, 1, "--mode")},
        {"--conductor", [](O& o, const std::string& v) {
             if (v != "on" && v != "off")
                 return numberError("--conductor", v);
             o.conductor = v == "on";
             return std::string();
         }},
        {"--start-delay-ms", intOption(&O::startDelayMs, 0, 600000, "--start-delay-ms")},
        {"--touches", intOption(&O::touches, 1, 1000000, "--touches")},
        {"--max-changes", intOption(&O::maxChanges, 1, 10000000, "--max-changes")},
    };
}

std::string checkOptions(const ServerOptions& options)
{
    std::set<std::string> names;
    for (const TowerConfig& tower : options.towers)
        if (!names.insert(tower.name).second)
            return "tower '" + tower.name + "' is named twice";
    return {};
}

}  // namespace

std::optional<TowerConfig> parseTowerSpec(std::string_view spec, std::string& error)
{
    const auto first = spec.find(':');
    const auto last = spec.rfind(':');
    if (first == std::string_view::npos || first == last) {
        error = "tower '" + std::string(spec) + "' is not NAME:DESCRIPTION:BELLS";
        return std::nullopt;
    }
    TowerConfig tower;
    tower.name = std::string(spec.substr(0, first));
    tower.description = std::string(spec.substr(first + 1, last - first - 1));
    if (!validName(tower.name) || tower.description.size() >= kMaxNameLength) {
        error = "tower name must be 1 to 79 bytes and the description under 80";
        return std::nullopt;
    }
    if (!parseIntIn(trim(spec.substr(last + 1)), kMinTowerBells, kMaxTowerBells, tower.bells)) {
        error = "tower '" + tower.name + "' must have 4 to 12 bells";
        return std::nullopt;
    }
    return tower;
}

bool parseRingerSpec(std::string_view spec, std::map<std::string, std::set<int>>& ringers,
                     std::string& error)
{
    const auto equals = spec.find('=');
    const std::string name(spec.substr(0, equals == std::string_view::npos ? 0 : equals));
    if (equals == std::string_view::npos || !validName(name)) {
        error = "ringer '" + std::string(spec) + "' is not NAME=BELL,BELL...";
        return false;
    }
    std::set<int> bells;
    std::string_view rest = spec.substr(equals + 1);
    while (true) {
        const auto comma = rest.find(',');
        int bell = 0;
        if (!parseIntIn(trim(rest.substr(0, comma)), 1, kMaxTowerBells, bell)) {
            error = "ringer '" + name + "': bells are numbers 1 to 12, separated by commas";
            return false;
        }
        bells.insert(bell);
        if (comma == std::string_view::npos)
            break;
        rest = rest.substr(comma + 1);
    }
    ringers[name].insert(bells.begin(), bells.end());
    return true;
}

bool readTowerConfig(std::string_view text, std::vector<TowerConfig>& towers, std::string& error)
{
    int lineNumber = 0;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const std::string_view line = trim(text.substr(0, newline));
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#')
            continue;
        const auto tower = parseTowerSpec(line, error);
        if (!tower) {
            error = "line " + std::to_string(lineNumber) + ": " + error;
            return false;
        }
        towers.push_back(*tower);
    }
    return true;
}

ParsedOptions parseOptions(const std::vector<std::string>& arguments)
{
    ParsedOptions parsed;
    ServerOptions& options = parsed.options;
    options.towers = {TowerConfig{"Tolvane Tower", "Eight bells on the local server", 8}};
    bool towersGiven = false;
    const auto handlers = valueHandlers(towersGiven);
    for (std::size_t i = 0; i < arguments.size() && parsed.ok(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--exit-when-done") {
            options.exitWhenDone = true;
        } else if (argument == "--band-keeps-rhythm") {
            options.bandKeepsRhythm = true;
        } else if (const auto handler = handlers.find(argument); handler != handlers.end()) {
            if (i + 1 >= arguments.size())
                parsed.error = argument + " needs a value";
            else
                parsed.error = handler->second(options, arguments[++i]);
        } else {
            parsed.error = "unknown option '" + argument + "' (see --help)";
        }
    }
    if (parsed.ok() && options.towers.empty())
        parsed.error = "no towers: the config file names none";
    if (parsed.ok())
        parsed.error = checkOptions(options);
    return parsed;
}

std::string helpText()
{
    return R"(Usage: tolvane-server [options]

A local ringing server: towers, ringers joining them, every strike and call
relayed to the tower, and a simulated band ringing every bell no client holds.

Listening:
  --port N              TCP port (default 17481; 0 picks a free port)
  --listen ADDR         IPv4 address to listen on (default 127.0.0.1: this
                        computer only). 0.0.0.0 listens on every network
                        this computer is on: anyone who can reach the port
                        can join its towers and ring.
  The first line written is "listening on ADDR:PORT".

Towers and ringers:
  --tower "NAME:DESCRIPTION:BELLS"
                        a tower of 4 to 12 bells; repeatable. Replaces the
                        default tower "Tolvane Tower" (8 bells).
  --config FILE         towers from FILE, one "NAME:DESCRIPTION:BELLS" a line;
                        blank lines and lines starting with # are skipped
  --ringer NAME=B,B...  bells (numbers) rung by the client that joins as NAME,
                        in any tower; repeatable. Every other bell rings by
                        the band, whose assignment is sent under the name "Band".

The band:
  --peal-minutes M      speed: a peal of 5040 rows in M minutes (default 180);
                        interval = M minutes / (5040 x bells + 2520)
  --band-sd-ms S        the band rings like people: each row's blows are due
                        at the band's pace (one interval apart, one more
                        before each handstroke row), and each band blow lands
                        at its due time plus a normal error of SD S ms
                        (default 20), never more than half an interval out
  --band-bias-ms B      plus a steady bias per band bell, drawn once within
                        B ms either side (default 5)
  --error-ms E          instead of the normal error, each band blow lands up to
                        E ms either side of its due time, uniformly (for tests
                        and exact timing; the bias still applies)
  --tempo-drift P       the pace wanders smoothly within P percent either side
                        of the set speed over a touch, starting at the set
                        speed (default 0; at most 50)
                        The band follows: the first blow of the ringing sets
                        its beat, and no band blow comes sooner than half an
                        interval after the blow before it (a client's late
                        bell, or a band bell rung late). When that holds a
                        bell back, the beat moves back with it and the band
                        rings on at its pace from there, without rushing.
  --drift-shape SHAPE   how the pace drifts: eased (the default: eased from
                        one random point to the next every 24 rows), sine (a
                        sinusoid of P percent either side, see
                        --drift-period-s) or ramp (quickening by P percent
                        over the first 30 rows, then holding)
  --drift-period-s S    the sinusoid's period in seconds (default 60)
  --band-keeps-rhythm   the band keeps its own rhythm: it never moves its beat
                        back for a late bell, and a bell held past its time by
                        one strikes at once. Each ringer's striking from the
                        method on is then also judged against that true
                        rhythm (rms, mean, sd, the lag: the largest mean
                        error over six rows, and the ratio of its rms to the
                        band's).
  --seed S              seed for the errors, biases, drift and network jitter,
                        for repeatable runs
  --wait-ms W           how long past its time a client's bell is waited for
                        before the band rings it instead (default 3000); the
                        band then rings that ringer's bells on time, without
                        waiting, until the ringer strikes again
  --method NAME         method from the library (default: "Plain Bob" at the
                        tower's stage, else rounds)
  --methods FILE        method library (default: methods.txt in the current
                        directory, then next to this program, then the
                        installed one, then the project's data/methods.txt)
  --composition TEXT    calls by lead end, p plain, b bob, s single
  --mode 0|1            0: one pair of rounds, the method, stop at rounds;
                        1: rounds until "Go", stop on "Stand" after "That's All"

The tower page:
  --http ADDR:PORT      serve the tower page and its API on this IPv4 address
                        and port (default 127.0.0.1:17480; when that default
                        port is taken the server runs on without the page and
                        says so; an address given here that cannot be served
                        stops the server with exit status 1)
  --http off            no page: the server runs exactly as it would without one
  --captain-key-file FILE
                        the captain's key, the first line of FILE, which must be
                        readable by its owner alone; a missing FILE is made so,
                        with a fresh key. Without it a fresh random key is made
                        at each start. Either way the page's address with the
                        key (?key=...) is written to the log once, at start.
  --state FILE          keep what the page sets up (each tower's bells by ringer
                        name, its band, whether the server conducts) in FILE,
                        written whole on every change and read at start; a
                        damaged FILE is reported, renamed to FILE.damaged and
                        the server starts afresh

  Anyone who can reach the page may look; changing anything needs the key.
  The JSON API under the page (/api/...) is listed under TOWER PAGE API in
  the man page, and in the README.

The conductor:
  --conductor on|off    on (default): once a client has joined and the start
                        delay has passed, call "Here's treble", ring the touch,
                        call the composition two rows before each call's first
                        changed row, and in mode 1 call "Go", "That's All" and
                        "Stand". off: follow the clients' calls; ringing
                        starts on "Here's treble" or a client's first strike.
  --start-delay-ms D    settle time after the bells are assigned (default 1000)
  --touches N           touches to ring before standing for good (default 1)
  --max-changes N       "Stand" is called if a touch has not come round by
                        then (default 5040)
  --exit-when-done      once the touches have stood, close every connection
                        and exit 0

The network and the striking:
  --latency-ms L[:J]    delay every message between the server and each client
                        by L ms each way, plus a jitter uniform within J ms
                        either side (J <= L), keeping each client's order.
                        A client's strike counts (in the log, to the band and
                        in the striking analysis) when it reaches the server.
  --striking-report FILE.svg
                        after each touch, write its striking chart: rows down
                        the page, places across, each blow at its error from
                        the rhythm fitted to the touch, the clients' bells in
                        colour, each bell's mean and SD beside it (from the
                        method on; the rounds before it are drawn pale and
                        not counted). Touch 1
                        goes to FILE.svg, touch N to FILE-N.svg; a second
                        tower's to FILE-tower2.svg, FILE-tower2-N.svg. When
                        FILE.svg cannot be written the server exits 2 at once.

Other:
  --help, -h            show this help and exit
  --version             show the version and exit

The server runs until SIGINT or SIGTERM, then closes every connection and exits 0.
SIGUSR1 closes every client's connection and runs on, as a network failure would.

Log (standard output, one line each, flushed; times are ms since start):
  listening on 127.0.0.1:17481
  tower page on http://127.0.0.1:17480/
  captain's page: http://127.0.0.1:17480/?key=KEY

  [TOWER] 8 bells, Plain Bob Major, strike interval 252.101 ms

  client 3 connected from 127.0.0.1:51234 | client 3 closed

  drop client 3 (127.0.0.1:51234): unknown message type 8

  [TOWER] join NAME (client 3) | leave NAME (client 3) | refused NAME ...: why

  [TOWER] assign NAME=78 Band=123456

  [TOWER] strike bell 7 H stamp 12 at 5123.456 by NAME
          (a client's strike; stamp "-" when the message carries none)

  [TOWER] call "Bob" by NAME|band

  [TOWER] row 12 H 13254768 at 8123.456 | 1:+0 3:+252 2:+504 ...
          (row number since "Here's treble", stroke, the row, the time of its
          first bell, then each bell in row order with its strike time in ms
          after the first)

  [TOWER] ringing starts from 12345678 at T | method starts | rounds

  [TOWER] band rings bell 7 for NAME
          (the ringer's bell was not struck)

  [TOWER] touch 1 stands after 114 rows

  [TOWER] striking touch 1: Tolvane bells 7,8: mean +3.1 ms, sd 6.2 ms, 224 blows
  [TOWER] striking touch 1: band: sd 21.4 ms, 672 blows, 12 faults
          (after each touch, one line per client ringer ("bell 7" for one
          bell), then one for the band's own blows: the mean error (late
          positive) and SD in ms against the rhythm fitted to the touch's
          blows, and the blows further than 50 ms from it (faults), from
          the method on: the rounds before it are not counted)
  [TOWER] striking touch 1: strokes: Tolvane bells 7,8: rms 6.3 ms; handstroke rms 5.9 mean +2.8 sd 5.2 ms; backstroke ...
  [TOWER] striking touch 1: strokes: band: rms 21.4 ms; handstroke ...
  [TOWER] striking touch 1: rows: handstroke 1168.4 ms sd 25.7, backstroke 1308.4 ms sd 26.9, quickest pull 2399.5 ms at row 56, slowest pull 2510.8 ms at row 66, 0 rows skipped
  [TOWER] striking touch 1: handstroke gap: mean 0.97 sd 0.20 blows over 39 rows
          (then each ringer's and the band's figures at handstroke and at
          backstroke; each row's length from its first blow to the next
          row's, rows starting at handstroke and at backstroke apart; the
          quickest and slowest whole pull; the handstroke gap in blows'
          spaces less one; rows with a blow missing or extra skipped)

  [TOWER] striking chart written to FILE.svg | cannot write FILE.svg: why

Messages a client sends that cannot be read (a length below 6 or above 1024,
an unknown type, a message too short for its type) drop that client, as does
a client that leaves 256 KiB unread, or under --latency-ms has more than
64 KiB on its way to the server. A client that closes is dropped once what it
sent before has arrived. Strikes of bells the tower lacks, and
messages of types 2, 5, 6, 7 and 10, are ignored. At most 256 clients are
connected at once; further connections wait to be accepted.
)";
}

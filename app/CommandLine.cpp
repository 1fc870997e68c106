#include "app/CommandLine.h"

#include "method/Calling.h"

#include <array>
#include <charconv>
#include <cstring>

namespace {

enum class Value { None, Text, Mode, Number, Rhythm };

struct LongOption {
    const char* name;
    Value value;
};

constexpr std::array kLongOptions{
    LongOption{"headless", Value::None},   LongOption{"help", Value::None},
    LongOption{"version", Value::None},    LongOption{"server", Value::Text},
    LongOption{"tower", Value::Text},      LongOption{"method", Value::Text},
    LongOption{"notation", Value::Text},   LongOption{"bob", Value::Text},
    LongOption{"single", Value::Text},     LongOption{"start-change", Value::Text},
    LongOption{"composition", Value::Text}, LongOption{"mode", Value::Mode},
    LongOption{"speed", Value::Number},    LongOption{"rhythm", Value::Rhythm},
    LongOption{"handstroke-gap", Value::Rhythm}, LongOption{"inertia", Value::Rhythm},
    LongOption{"calling", Value::Text},    LongOption{"observation", Value::Text},
    LongOption{"import-methods", Value::Text}, LongOption{"method-info", Value::Text},
    LongOption{"ring-yourself", Value::Text},
    LongOption{"reconnect", Value::None},
    LongOption{"sound", Value::None},      LongOption{"no-sound", Value::None},
    LongOption{"write-sound", Value::Text}, LongOption{"bells", Value::Text},
    LongOption{"bell", Value::Text},
};

constexpr std::size_t kMaxHostLength = 253;  // the longest DNS name
constexpr double kMaxHandstrokeGap = 2.0;

const LongOption* findLongOption(const std::string& name)
{
    for (const auto& option : kLongOptions)
        if (name == option.name)
            return &option;
    return nullptr;
}

std::optional<int> parseInteger(const std::string& text)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty())
        return std::nullopt;
    return value;
}

// A whole text as a number from `low` to `high`; not NaN, not infinite.
std::optional<double> parseNumberIn(const std::string& text, double low, double high)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || !(value >= low && value <= high))
        return std::nullopt;
    return value;
}

std::string setRhythmOption(const std::string& name, const std::string& value, Options& options)
{
    bool good;
    if (name == "rhythm")
        good = (options.rhythm = parseRhythm(value)).has_value();
    else if (name == "handstroke-gap")
        good = (options.handstrokeGap = parseHandstrokeGap(value)).has_value();
    else
        good = (options.inertia = parseInertia(value)).has_value();
    if (good)
        return {};
    const std::string error = "invalid value '" + value + "' for option '--" + name + "'";
    // The largest inertias are the ones a user tries, and 1 would freeze the rhythm.
    return name == "inertia" ? error + ": from 0 to 0.9 (at 1 the rhythm would never move)" : error;
}

// HOST or HOST:PORT.
bool parseServer(const std::string& text, Options& options)
{
    const auto colon = text.rfind(':');
    std::string host = text;
    if (colon != std::string::npos) {
        const auto port = parseInteger(text.substr(colon + 1));
        if (!port || *port < 1 || *port > 65535)
            return false;
        options.serverPort = *port;
        host = text.substr(0, colon);
    }
    if (host.empty())
        return false;
    options.serverHost = host;
    options.serverGiven = true;
    return true;
}

std::string setOption(const std::string& name, const std::string& value, Options& options)
{
    const auto bad = [&] { return "invalid value '" + value + "' for option '--" + name + "'"; };
    if (name == "server")
        return parseServer(value, options) ? std::string() : bad();
    if (findLongOption(name)->value == Value::Rhythm)
        return setRhythmOption(name, value, options);
    if (name == "mode") {
        if (value != "0" && value != "1")
            return bad();
        options.mode = value == "1" ? 1 : 0;
        return {};
    }
    if (name == "speed") {
        const auto speed = parseInteger(value);
        if (!speed)
            return bad();
        options.speed = *speed;
        return {};
    }
    if (name == "ring-yourself") {
        PersonBellsReading reading = readPersonBells(value);
        options.personBells = reading.bells;
        return reading.bells ? std::string() : bad() + ": " + reading.problem;
    }
    if (name == "observation" || name == "bell") {
        const int bell = parseBell(value);
        if (bell == 0)
            return bad();
        (name == "bell" ? options.soundBell : options.observation) = bell;
        return {};
    }
    if (name == "bells") {
        const auto bells = parseInteger(value);
        if (!bells || *bells < 1 || *bells > 12)
            return bad();
        options.soundBells = *bells;
        return {};
    }
    if (name == "write-sound") {
        if (value.empty())
            return bad();
        options.writeSound = value;
        return {};
    }
    std::optional<std::string>* text = name == "tower"          ? &options.tower
                                       : name == "method"       ? &options.method
                                       : name == "notation"     ? &options.notation
                                       : name == "bob"          ? &options.bob
                                       : name == "single"       ? &options.single
                                       : name == "start-change" ? &options.startChange
                                       : name == "calling"      ? &options.calling
                                       : name == "import-methods" ? &options.importMethods
                                       : name == "method-info"  ? &options.methodInfo
                                                                : &options.composition;
    *text = value;
    return {};
}

void setFlag(const std::string& name, Options& options)
{
    if (name == "headless")
        options.headless = true;
    else if (name == "help")
        options.help = true;
    else if (name == "reconnect")
        options.reconnect = true;
    else if (name == "sound" || name == "no-sound")
        options.sound = name == "sound";
    else
        options.version = true;
}

} // namespace

namespace {

std::optional<std::string> switchedServerHost(const std::string& commandLine)
{
    if (commandLine.find(" -l") != std::string::npos)
        return kLocalServerHost;
    if (commandLine.find(" -t") != std::string::npos)
        return kTestServerHost;
    if (commandLine.find(" -d") != std::string::npos)
        return kDevelopmentServerAddress;
    return std::nullopt;
}

} // namespace

std::string serverHostFromSwitches(const std::string& commandLine)
{
    return switchedServerHost(commandLine).value_or(kMainServerHost);
}

// Host names and dotted addresses: letters, digits, dots, hyphens and
// underscores. Anything else is a mistake or an attack on the terminal.
bool isValidServerHost(const std::string& host)
{
    constexpr std::string_view kHostCharacters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_";
    return !host.empty() && host.size() <= kMaxHostLength
           && host.find_first_not_of(kHostCharacters) == std::string::npos;
}

std::optional<RhythmSettings::Rhythm> parseRhythm(const std::string& text)
{
    if (text == rhythmName(RhythmSettings::Rhythm::Interval))
        return RhythmSettings::Rhythm::Interval;
    if (text == rhythmName(RhythmSettings::Rhythm::Band))
        return RhythmSettings::Rhythm::Band;
    return std::nullopt;
}

std::optional<double> parseHandstrokeGap(const std::string& text)
{
    return parseNumberIn(text, 0.0, kMaxHandstrokeGap);
}

std::optional<double> parseInertia(const std::string& text)
{
    return parseNumberIn(text, 0.0, RhythmSettings::kMaxInertia);
}

PersonBellsReading readPersonBells(const std::string& text)
{
    if (text == "none")
        return {PersonBells{}, {}};
    std::vector<std::string> parts{text};
    if (const auto comma = text.find(','); comma != std::string::npos)
        parts = {text.substr(0, comma), text.substr(comma + 1)};
    if (parts.back().find(',') != std::string::npos)
        return {std::nullopt, "at most two bells, the left hand's and the right's"};
    PersonBells bells{};
    for (std::size_t hand = 0; hand < parts.size(); ++hand) {
        bells[hand] = parseBell(parts[hand]);
        if (bells[hand] == 0)
            return {std::nullopt, "'" + parts[hand] + "' is not a bell (1 to 9, 0, E, T, or 10 to 12)"};
    }
    if (bells[0] == bells[1])
        return {std::nullopt, "the same bell twice"};
    return {bells, {}};
}

std::optional<PersonBells> parsePersonBells(const std::string& text)
{
    return readPersonBells(text).bells;
}

std::string personBellsText(const PersonBells& bells)
{
    if (bells[0] == 0)
        return "none";
    std::string text = std::to_string(bells[0]);
    if (bells[1] != 0)
        text += "," + std::to_string(bells[1]);
    return text;
}

const char* rhythmName(RhythmSettings::Rhythm rhythm)
{
    return rhythm == RhythmSettings::Rhythm::Band ? "band" : "interval";
}

std::optional<bool> parseOnOff(const std::string& text)
{
    if (text == "true" || text == "false")
        return text == "true";
    return std::nullopt;
}

std::optional<double> parseVolume(const std::string& text)
{
    return parseNumberIn(text, 0.0, 1.0);
}

std::optional<std::string> parseTenorNote(const std::string& text)
{
    return sound::noteFrequency(text) ? std::optional(text) : std::nullopt;
}

void applySavedSettings(Options& options, const SavedSettings& saved)
{
    if (!options.serverChosen && saved.serverHost) {
        options.serverHost = *saved.serverHost;
        options.serverPort = saved.serverPort;
    }
    if (!options.rhythm)
        options.rhythm = saved.rhythm;
    if (!options.handstrokeGap)
        options.handstrokeGap = saved.handstrokeGap;
    if (!options.inertia)
        options.inertia = saved.inertia;
    if (!options.personBells)
        options.personBells = saved.personBells;
    options.reconnect = options.reconnect || saved.reconnect.value_or(false);
    if (!options.sound)
        options.sound = saved.sound;
    options.soundVolume = saved.soundVolume;
    options.tenorNote = saved.tenorNote;
}

RhythmSettings rhythmSettingsOf(const Options& options)
{
    RhythmSettings settings;
    settings.rhythm = options.rhythm.value_or(settings.rhythm);
    settings.handstrokeGap = options.handstrokeGap.value_or(settings.handstrokeGap);
    settings.inertia = options.inertia.value_or(settings.inertia);
    return settings;
}

SoundSettings soundSettingsOf(const Options& options)
{
    SoundSettings settings;
    settings.on = options.sound.value_or(settings.on);
    settings.volume = options.soundVolume.value_or(settings.volume);
    settings.tenorNote = options.tenorNote.value_or(settings.tenorNote);
    return settings;
}

std::optional<std::string> ringerNameFromSwitches(const std::string& commandLine)
{
    const auto at = commandLine.find(" -n");
    if (at == std::string::npos)
        return std::nullopt;
    constexpr const char* kWhiteSpace = " \t\n\v\f\r";
    const std::string rest = commandLine.substr(at + 3);
    const auto start = rest.find_first_not_of(kWhiteSpace);
    if (start == std::string::npos)
        return std::string();
    const std::string name = rest.substr(start);
    return name.substr(0, name.find(' '));
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments)
{
    ParsedCommandLine parsed;
    Options& options = parsed.options;
    std::string commandLine = arguments.empty() ? std::string() : arguments[0];
    bool optionsEnded = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.rfind("--", 0) != 0) {
            commandLine += " " + argument;
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const auto equals = argument.find('=');
        const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const LongOption* option = findLongOption(name);
        if (!option) {
            parsed.error = "unrecognized option '" + argument + "'";
            return parsed;
        }
        if (option->value == Value::None) {
            if (equals != std::string::npos) {
                parsed.error = "option '--" + name + "' doesn't allow an argument";
                return parsed;
            }
            setFlag(name, options);
            continue;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            parsed.error = "option '--" + name + "' requires an argument";
            return parsed;
        }
        if (const std::string error = setOption(name, value, options); !error.empty()) {
            parsed.error = error;
            return parsed;
        }
    }
    // A touch is given one way or the other; a composition string that is also
    // a calling ("B S") must never be taken for the other form.
    if (options.calling && options.composition) {
        parsed.error = "options '--calling' and '--composition' cannot be used together";
        return parsed;
    }
    // The observation bell only steers a calling: alone it would do nothing.
    if (options.observation && !options.calling) {
        parsed.error = "option '--observation' needs '--calling'";
        return parsed;
    }
    // Without a window there is no key to ring with.
    if (options.headless && options.personBells.value_or(PersonBells{})[0] != 0) {
        parsed.error = "options '--ring-yourself' and '--headless' cannot be used together";
        return parsed;
    }
    if ((options.soundBells || options.soundBell) && !options.writeSound) {
        parsed.error = "options '--bells' and '--bell' need '--write-sound'";
        return parsed;
    }
    if (options.soundBell && *options.soundBell > options.soundBells.value_or(*options.soundBell)) {
        parsed.error = "bell " + std::to_string(*options.soundBell) + " is not among the "
                       + std::to_string(*options.soundBells) + " bells of '--bells'";
        return parsed;
    }
    const auto switched = switchedServerHost(commandLine);
    if (!options.serverGiven)
        options.serverHost = switched.value_or(kMainServerHost);
    options.serverChosen = options.serverGiven || switched.has_value();
    if (const auto name = ringerNameFromSwitches(commandLine))
        options.ringerName = *name;
    return parsed;
}

std::string usageText()
{
    return "Usage: tolvane [-l | -t | -d] [-n NAME] [OPTION]...\n"
           "A robot ringer: joins a tower on a ringing server and rings its bells.\n"
           "\n"
           "Server and name (searched anywhere in the command line):\n"
           "  -l                  the ringing server on this computer (localhost)\n"
           "  -t                  the test server\n"
           "  -d                  the development server\n"
           "  -n NAME             ring as NAME (default Tolvane)\n"
           "\n"
           "Options:\n"
           "      --server HOST[:PORT]  use this server (port 17481 when none is given)\n"
           "      --tower NAME          join the tower NAME without asking\n"
           "      --method NAME         ring the library method NAME\n"
           "      --notation PN         place notation of the plain lead\n"
           "      --bob PN              place notation of a bob\n"
           "      --single PN           place notation of a single\n"
           "      --start-change TEXT   the row, or short form of a row, to start from\n"
           "      --composition TEXT    the composition, one letter per block end: p, b or s\n"
           "      --calling TEXT        the calling by positions, e.g. \"W sH\" or \"2x M W H\":\n"
           "                            H W M I B O T F V X S E N, s before one for a single,\n"
           "                            a count for repeats (3H); instead of --composition\n"
           "      --observation BELL    the bell the calling's positions follow (default\n"
           "                            the heaviest of the method)\n"
           "      --mode 0|1            0: start after a whole pull of the start row and stop\n"
           "                            at rounds; 1: start on Go, stop after That's All\n"
           "      --speed N             start N steps faster (negative: slower)\n"
           "      --rhythm interval|band\n"
           "                            interval (the default): strike one interval after\n"
           "                            the bell before; band: ring in the band's rhythm\n"
           "      --handstroke-gap G    the handstroke gap: G extra intervals before each\n"
           "                            handstroke row, from 0 to 2 (default 1)\n"
           "      --inertia X           how steady the band's rhythm is held, from 0 (each\n"
           "                            blow moves it) to 0.9, the most (a change of pace\n"
           "                            takes several rows to follow; default 0.5)\n"
           "      --import-methods FILE import the Central Council's methods collection\n"
           "                            (CCCBR_methods.xml, zipped or not) and exit\n"
           "      --method-info NAME    show the library method NAME and exit\n"
           "      --ring-yourself BELL  ring BELL (a number or symbol, or none) yourself:\n"
           "                            Space, J or F strikes it; Tolvane rings the rest\n"
           "                            (B1,B2: two bells, F strikes B1 and J B2)\n"
           "      --reconnect           when the connection is lost, connect again (after\n"
           "                            1, 2, 4, 8, 16 s, then every 30 s) and join the same\n"
           "                            tower; without it a lost connection ends the run\n"
           "      --sound, --no-sound   play, or do not play, the bells' sound (saved in the\n"
           "                            options dialog; off unless chosen)\n"
           "      --write-sound FILE.wav [--bells N] [--bell B]\n"
           "                            write the bells' sound as a 16-bit WAV file and\n"
           "                            exit: a whole pull of rounds on N bells (default 8,\n"
           "                            or B if higher), or bell B (a number or symbol:\n"
           "                            0, E, T are 10, 11, 12) struck once\n"
           "      --headless            no window: messages go to standard error and the\n"
           "                            rows rung to standard output\n"
           "      --help                show this help and exit\n"
           "      --version             show the version and exit\n"
           "\n"
           "Exit status: 0 when the run ends by the user or the server closes the\n"
           "connection, 1 when no connection could be made or no tower was joined,\n"
           "2 for a bad option or an unknown method.\n"
           "\n"
           "With no -l, -t, -d or --server, the server saved in the options dialog\n"
           "(right-click the window) is used; when none is saved the window asks for\n"
           "one (a headless run uses the main server). The options dialog also saves\n"
           "the rhythm, handstroke gap, inertia, your bell, reconnecting and sound; the\n"
           "options above override them. They are kept in\n"
           "~/.config/tolvane/tolvane.conf.\n";
}

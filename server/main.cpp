// tolvane-server: the local ringing server with its simulated band.

#include "files/AtomicFile.h"
#include "method/Method.h"
#include "method/MethodLibrary.h"
#include "server/CaptainKey.h"
#include "server/Options.h"
#include "server/ServerLoop.h"
#include "server/StateFile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

namespace {

std::filesystem::path executableDirectory()
{
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path.parent_path();
}

std::vector<std::filesystem::path> libraryCandidates(const ServerOptions& options)
{
    if (!options.methodsFile.empty())
        return {options.methodsFile};
    return {kMethodLibraryFileName, executableDirectory() / kMethodLibraryFileName,
            std::filesystem::path(TOLVANE_INSTALLED_DATA_DIR) / kMethodLibraryFileName,
            std::filesystem::path(TOLVANE_DATA_DIR) / kMethodLibraryFileName};
}

std::string stageName(int bells)
{
    static const char* const kNames[] = {"Minimus", "Doubles", "Minor", "Triples", "Major",
                                         "Caters", "Royal", "Cinques", "Maximus"};
    return kNames[bells - kMinTowerBells];
}

// The stage a record names, or 0 when it names none.
int stageOf(const MethodDef& record)
{
    if (record.stage != 0)
        return record.stage;
    for (int bells = kMinTowerBells; bells <= kMaxTowerBells; ++bells)
        if (record.name.ends_with(" " + stageName(bells)))
            return bells;
    return 0;
}

const MethodDef* findMethod(const MethodLibrary& library, const std::string& name)
{
    for (const auto& [number, record] : library)
        if (record.name == name)
            return &record;
    return nullptr;
}

CompiledMethod compiled(const MethodDef* record, const std::string& name, int mode, bool conductor,
                        const std::string& composition)
{
    CompiledMethod method;
    MethodSettings settings;
    settings.goAndStopMode = mode;
    if (record != nullptr) {
        settings.placeNotation = record->placeNotation;
        settings.bobNotation = record->bobNotation;
        settings.singleNotation = record->singleNotation;
    }
    MessageList messages;
    compileMethod(method, settings, messages);
    for (const std::string& text : messages.texts)
        std::cerr << "method " << name << ": " << text << '\n';
    // Only the conductor calls a composition; otherwise the band follows the clients' calls.
    if (conductor)
        parseComposition(method, composition);
    return method;
}

std::string methodNameFor(const TowerConfig& tower, const ServerOptions& options)
{
    return options.methodName.empty() ? "Plain Bob " + stageName(tower.bells) : options.methodName;
}

// The method a tower rings; false when a method asked for by name is missing.
bool compileFor(const TowerConfig& tower, const ServerOptions& options, const MethodLibrary& library,
                CompiledMethod& method, std::string& described)
{
    const std::string name = methodNameFor(tower, options);
    const MethodDef* record = findMethod(library, name);
    if (record == nullptr && !options.methodName.empty())
        return false;
    described = record != nullptr ? name : "rounds (no " + name + " in the method library)";
    method = compiled(record, name, options.mode, options.conductor, options.composition);
    return true;
}

// What the tower page may choose from: the library's methods by name.
MethodCompiler methodCompiler(std::shared_ptr<const MethodLibrary> library, const ServerOptions& options)
{
    return [library, mode = options.mode, composition = options.composition](
               const std::string& name, int bells, bool conductor) -> std::shared_ptr<const CompiledMethod> {
        const MethodDef* record = findMethod(*library, name);
        if (record == nullptr || (stageOf(*record) != 0 && stageOf(*record) != bells))
            return nullptr;
        return std::make_shared<CompiledMethod>(compiled(record, name, mode, conductor, composition));
    };
}

BandSettings bandSettingsFor(const TowerConfig& tower, const ServerOptions& options, std::uint32_t seed)
{
    BandSettings band;
    band.bells = tower.bells;
    band.interval = strikeIntervalFor(options.pealMinutes, tower.bells);
    band.errorSd = static_cast<Micros>(options.bandSdMs * 1000.0);
    band.uniformError = options.errorMs.has_value();
    band.maxError = static_cast<Micros>(options.errorMs.value_or(0) * 1000.0);
    band.biasBound = static_cast<Micros>(options.bandBiasMs * 1000.0);
    band.tempoDrift = options.tempoDriftPercent / 100.0;
    band.driftShape = options.driftShape == "sine"   ? BandSettings::DriftShape::Sine
                      : options.driftShape == "ramp" ? BandSettings::DriftShape::Ramp
                                                     : BandSettings::DriftShape::Eased;
    band.driftPeriod = static_cast<Micros>(options.driftPeriodS * 1e6);
    band.keepsRhythm = options.bandKeepsRhythm;
    band.wait = static_cast<Micros>(options.waitMs) * 1000;
    band.seed = seed;
    band.mode = options.mode;
    band.conductor = options.conductor;
    band.startDelay = static_cast<Micros>(options.startDelayMs) * 1000;
    band.touches = options.touches;
    band.maxChanges = options.maxChanges;
    return band;
}

std::string describeTower(const TowerSetup& tower, const std::string& method)
{
    char interval[32];
    std::snprintf(interval, sizeof interval, "%.3f", static_cast<double>(tower.band.interval) / 1000.0);
    return "[" + tower.config.name + "] " + std::to_string(tower.config.bells) + " bells, " + method +
           ", strike interval " + interval + " ms";
}

bool buildSetup(const ServerOptions& options, ServerSetup& setup, std::vector<std::string>& described,
                std::string& error)
{
    if (!options.methodsFile.empty() && !std::ifstream(options.methodsFile)) {
        error = "cannot read the method library " + options.methodsFile;
        return false;
    }
    // The chart is written only once a touch has stood: find out now, not an
    // hour into the ringing, that it cannot be. Nothing is left behind.
    const std::string why = options.strikingReport.empty() ? "" : files::checkFileWritable(options.strikingReport);
    if (!why.empty()) {
        error = "cannot write the striking report " + options.strikingReport + ": " + why;
        return false;
    }
    const auto library = std::make_shared<const MethodLibrary>(loadMethodLibrary(libraryCandidates(options)));
    const std::uint32_t seed = options.seed ? *options.seed : std::random_device{}();
    setup.listenAddress = options.listenAddress;
    setup.port = options.port;
    setup.ringerBells = options.ringerBells;
    setup.exitWhenDone = options.exitWhenDone;
    setup.latency = static_cast<Micros>(options.latencyMs * 1000.0);
    setup.jitter = static_cast<Micros>(options.jitterMs * 1000.0);
    setup.networkSeed = seed;
    setup.strikingReport = options.strikingReport;
    setup.httpAddress = options.httpAddress;
    setup.httpPort = options.http ? options.httpPort : -1;
    setup.httpOptional = !options.httpGiven;
    setup.statePath = options.statePath;
    setup.compileMethod = methodCompiler(library, options);
    for (const auto& [number, record] : *library)
        setup.methods.push_back({record.name, stageOf(record)});
    if (options.http) {
        setup.captainKey = options.captainKeyFile.empty() ? newCaptainKey()
                                                          : captainKeyFrom(options.captainKeyFile, error);
        if (setup.captainKey.empty())
            return false;
    }
    for (std::size_t i = 0; i < options.towers.size(); ++i) {
        const TowerConfig& tower = options.towers[i];
        auto method = std::make_shared<CompiledMethod>();
        std::string methodName;
        if (!compileFor(tower, options, *library, *method, methodName)) {
            error = "no method called \"" + options.methodName + "\" in the method library";
            return false;
        }
        // A tower ringing rounds for want of its method shows no method.
        const std::string name = findMethod(*library, methodNameFor(tower, options)) ? methodNameFor(tower, options) : "";
        const BandChoice choice{name, options.pealMinutes, options.bandSdMs, options.conductor};
        setup.towers.push_back({tower, bandSettingsFor(tower, options, seed + static_cast<std::uint32_t>(i)),
                                std::move(method), choice});
        described.push_back(describeTower(setup.towers.back(), methodName));
    }
    return true;
}

void logPage(ServerLoop& loop, const ServerOptions& options)
{
    if (!options.http)
        return;
    const auto port = loop.httpPort();
    if (!port) {
        loop.log("no tower page: " + loop.httpError() + " (--http ADDR:PORT to choose another, --http off for none)");
        return;
    }
    const std::string address = "http://" + options.httpAddress + ":" + std::to_string(*port) + "/";
    loop.log("tower page on " + address);
    loop.log("captain's page: " + address + "?key=" + loop.captainKey());
}

}  // namespace

int main(int argc, char** argv)
{
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok()) {
        std::cerr << "tolvane-server: " << parsed.error << '\n';
        return 2;
    }
    if (parsed.options.help) {
        std::cout << helpText();
        return 0;
    }
    if (parsed.options.version) {
        std::cout << "tolvane-server " << TOLVANE_VERSION << '\n';
        return 0;
    }
    ServerSetup setup;
    std::vector<std::string> described;
    std::string error;
    if (!buildSetup(parsed.options, setup, described, error)) {
        std::cerr << "tolvane-server: " << error << '\n';
        return 2;
    }
    ServerLoop loop(std::move(setup), std::cout);
    if (!loop.open(error)) {
        std::cerr << "tolvane-server: " << error << '\n';
        return 1;
    }
    loop.log("listening on " + parsed.options.listenAddress + ":" + std::to_string(loop.port()));
    logPage(loop, parsed.options);
    for (const std::string& line : described)
        loop.log(line);
    if (!parsed.options.statePath.empty()) {
        const LoadedState loaded = loadState(parsed.options.statePath);
        if (!loaded.report.empty())
            loop.log(loaded.report);
        for (const std::string& line : loop.restore(loaded.state))
            loop.log(line);
    }
    loop.run();
    return 0;
}

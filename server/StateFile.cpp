#include "server/StateFile.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

using nlohmann::json;

namespace {

constexpr int kFormat = 1;

// Throws json's own exceptions on a wrong shape; parseState turns them into the error.
TowerSaved towerFrom(const json& value)
{
    TowerSaved tower;
    for (const auto& [ringer, bells] : value.at("bells").items()) {
        for (const json& bell : bells) {
            const int number = bell.get<int>();
            if (number < 1 || number > kMaxTowerBells)
                throw std::out_of_range("bell " + std::to_string(number) + " of " + ringer);
            tower.bells[ringer].insert(number);
        }
    }
    const json& band = value.at("band");
    tower.band.method = band.at("method").get<std::string>();
    tower.band.pealMinutes = band.at("pealMinutes").get<double>();
    tower.band.sdMs = band.at("sdMs").get<double>();
    tower.band.conductor = band.at("conductor").get<bool>();
    return tower;
}

}  // namespace

std::string stateText(const SavedState& state)
{
    json towers = json::object();
    for (const auto& [name, tower] : state) {
        json bells = json::object();
        for (const auto& [ringer, numbers] : tower.bells)
            bells[ringer] = numbers;
        towers[name] = {{"bells", bells},
                        {"band", {{"method", tower.band.method},
                                  {"pealMinutes", tower.band.pealMinutes},
                                  {"sdMs", tower.band.sdMs},
                                  {"conductor", tower.band.conductor}}}};
    }
    const json file = {{"format", kFormat}, {"towers", towers}};
    return file.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<SavedState> parseState(const std::string& text, std::string& error)
{
    const json file = json::parse(text, nullptr, false);
    if (file.is_discarded()) {
        error = "not JSON";
        return std::nullopt;
    }
    try {
        if (file.at("format").get<int>() != kFormat) {
            error = "format " + file.at("format").dump() + " is not " + std::to_string(kFormat);
            return std::nullopt;
        }
        SavedState state;
        for (const auto& [name, tower] : file.at("towers").items())
            state[name] = towerFrom(tower);
        return state;
    } catch (const std::exception& wrong) {
        error = wrong.what();
        return std::nullopt;
    }
}

LoadedState loadState(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (errno == ENOENT)
            return {};
        return {{}, "cannot read the state file " + path + ": " + std::strerror(errno)};
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    std::string error;
    if (auto state = parseState(contents.str(), error))
        return {std::move(*state), {}};
    const std::string aside = path + ".damaged";
    std::error_code renameError;
    std::filesystem::rename(path, aside, renameError);
    if (renameError)
        return {{}, "the state file " + path + " is damaged (" + error + ") and cannot be set aside: " +
                        renameError.message() + "; starting afresh"};
    return {{}, "the state file " + path + " is damaged (" + error + "): set aside as " + aside +
                    "; starting afresh"};
}

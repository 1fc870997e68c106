#include "server/TowerState.h"

#include "method/PlaceNotation.h"

#include <algorithm>

TowerState::TowerState(TowerConfig config, std::map<std::string, std::set<int>> promisedBells)
    : config_(std::move(config)), promisedBells_(std::move(promisedBells))
{
}

std::optional<std::string> TowerState::join(int clientId, const std::string& ringer)
{
    if (ringer.empty())
        return std::string("Please give a ringer name");
    if (ringer == kBandName)
        return "The name " + ringer + " is taken by the band";
    const auto sameName = [&](const Ringer& r) { return r.name == ringer; };
    if (std::any_of(ringers_.begin(), ringers_.end(), sameName))
        return ringer + " is already ringing in " + config_.name;
    ringers_.push_back({clientId, ringer});
    return std::nullopt;
}

bool TowerState::leave(int clientId)
{
    const auto removed = std::erase_if(ringers_, [&](const Ringer& r) { return r.clientId == clientId; });
    return removed > 0;
}

bool TowerState::contains(int clientId) const
{
    return std::any_of(ringers_.begin(), ringers_.end(), [&](const Ringer& r) { return r.clientId == clientId; });
}

std::string TowerState::ringerOf(int clientId) const
{
    for (const Ringer& ringer : ringers_)
        if (ringer.clientId == clientId)
            return ringer.name;
    return {};
}

std::vector<int> TowerState::clients() const
{
    std::vector<int> ids;
    for (const Ringer& ringer : ringers_)
        ids.push_back(ringer.clientId);
    return ids;
}

std::map<int, std::string> TowerState::clientBells() const
{
    // A bell promised to two ringers goes to the one who joined first.
    std::map<int, std::string> owners;
    for (const Ringer& ringer : ringers_) {
        const auto promised = promisedBells_.find(ringer.name);
        if (promised == promisedBells_.end())
            continue;
        for (int bell : promised->second)
            if (bell <= config_.bells)
                owners.emplace(bell, ringer.name);
    }
    return owners;
}

std::vector<Assignment> TowerState::assignments() const
{
    const auto owners = clientBells();
    std::vector<Assignment> result;
    for (const Ringer& ringer : ringers_)
        result.push_back({ringer.name, {}});
    Assignment band{kBandName, {}};
    for (int bell = 1; bell <= config_.bells; ++bell) {
        const char symbol = kBellSymbols[static_cast<std::size_t>(bell - 1)];
        const auto owner = owners.find(bell);
        if (owner == owners.end()) {
            band.bells += symbol;
            continue;
        }
        for (Assignment& assignment : result)
            if (assignment.ringer == owner->second)
                assignment.bells += symbol;
    }
    result.push_back(band);
    return result;
}

std::map<std::string, std::set<int>> TowerState::promisedBells() const
{
    std::map<std::string, std::set<int>> promised;
    for (const auto& [ringer, bells] : promisedBells_)
        for (int bell : bells)
            if (bell <= config_.bells)
                promised[ringer].insert(bell);
    return promised;
}

void TowerState::setPromisedBells(std::map<std::string, std::set<int>> promised)
{
    promisedBells_ = std::move(promised);
}

void TowerState::promise(int bell, const std::string& ringer)
{
    for (auto& [name, bells] : promisedBells_)
        bells.erase(bell);
    std::erase_if(promisedBells_, [](const auto& entry) { return entry.second.empty(); });
    if (ringer != kBandName)
        promisedBells_[ringer].insert(bell);
}

// The captain's changes from the tower page, carried out on the towers the
// loop holds, and the setup they make kept in the state file.

#include "server/ServerLoop.h"

#include "files/AtomicFile.h"
#include "protocol/Messages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

TowerSetup ServerLoop::setupFor(const Tower& tower, const BandChoice& choice,
                                std::shared_ptr<const CompiledMethod> method) const
{
    TowerSetup setup = tower.setup;
    setup.choice = choice;
    setup.method = std::move(method);
    setup.band.interval = strikeIntervalFor(choice.pealMinutes, tower.state.config().bells);
    setup.band.errorSd = static_cast<Micros>(choice.sdMs * 1000.0);
    setup.band.conductor = choice.conductor;
    return setup;
}

DeskAnswer ServerLoop::assignBell(Tower& tower, int bell, const std::string& ringer)
{
    const auto clients = tower.state.clients();
    const bool inTower = std::any_of(clients.begin(), clients.end(),
                                     [&](int id) { return tower.state.ringerOf(id) == ringer; });
    if (ringer != kBandName && !inTower)
        return {404, "no ringer called " + ringer + " in " + tower.name()};
    tower.state.promise(bell, ringer);
    tower.log("captain gives bell " + std::to_string(bell) + " to " + ringer);
    announceAssignments(tower);
    saveState();
    return {200, "Bell " + std::to_string(bell) + ": " + ringer};
}

DeskAnswer ServerLoop::setBand(Tower& tower, const BandChoice& choice)
{
    auto method = setup_.compileMethod ? setup_.compileMethod(choice.method, tower.state.config().bells,
                                                              choice.conductor)
                                       : nullptr;
    if (method == nullptr)
        return {400, "method: " + choice.method + " is not for " + std::to_string(tower.state.config().bells) + " bells"};
    TowerSetup next = setupFor(tower, choice, std::move(method));
    char figures[96];
    std::snprintf(figures, sizeof figures, ", %g peal minutes, sd %g ms, conductor %s", choice.pealMinutes,
                  choice.sdMs, choice.conductor ? "on" : "off");
    tower.log("captain sets the band: " + choice.method + figures);
    // A new band mid-touch would not know where the ringing is: it waits.
    const bool ringing = tower.band->ringing();
    tower.pendingBand = std::move(next);
    applyPendingBands();
    saveState();
    return {200, ringing ? "The band changes once it stands" : "The band is set"};
}

DeskAnswer ServerLoop::call(Tower& tower, const std::string& text)
{
    broadcast(tower, makeCall(text));
    tower.band->onCall(text, "captain", now());
    return {200, "Called " + text};
}

void ServerLoop::applyPendingBands()
{
    for (auto& tower : towers_) {
        if (!tower->pendingBand || tower->band->ringing())
            continue;
        TowerSetup next = std::move(*tower->pendingBand);
        tower->pendingBand.reset();
        tower->setup.choice = next.choice;
        tower->replaceBand(next.band, next.method, now());
        tower->log("the band now rings " + (next.choice.method.empty() ? std::string("rounds") : next.choice.method));
    }
}

std::vector<std::string> ServerLoop::findMethods(const std::string& part, int bells, std::size_t most) const
{
    const std::string wanted = lowered(part);
    std::vector<std::string> found;
    for (const LibraryMethod& method : setup_.methods) {
        if (found.size() >= most)
            break;
        const bool fits = bells == 0 || method.stage == 0 || method.stage == bells;
        if (fits && lowered(method.name).find(wanted) != std::string::npos)
            found.push_back(method.name);
    }
    return found;
}

bool ServerLoop::knowsMethod(const std::string& name) const
{
    return std::any_of(setup_.methods.begin(), setup_.methods.end(),
                       [&](const LibraryMethod& method) { return method.name == name; });
}

void ServerLoop::saveState()
{
    if (setup_.statePath.empty())
        return;
    SavedState state;
    for (const auto& tower : towers_)
        state[tower->name()] = {tower->state.promisedBells(),
                                tower->pendingBand ? tower->pendingBand->choice : tower->setup.choice};
    if (const std::string why = files::writeFileAtomically(setup_.statePath, stateText(state)); !why.empty())
        log("cannot write the state file " + setup_.statePath + ": " + why);
}

std::vector<std::string> ServerLoop::restore(const SavedState& state)
{
    std::vector<std::string> report;
    for (const auto& entry : state) {
        const std::string& name = entry.first;
        const TowerSaved& saved = entry.second;
        const auto found = std::find_if(towers_.begin(), towers_.end(), [&](const auto& t) { return t->name() == name; });
        if (found == towers_.end()) {
            report.push_back("state file: no tower called " + name + " now; its setup is left aside");
            continue;
        }
        Tower& tower = **found;
        tower.state.setPromisedBells(saved.bells);
        auto method = setup_.compileMethod ? setup_.compileMethod(saved.band.method, tower.state.config().bells,
                                                                  saved.band.conductor)
                                           : nullptr;
        if (method == nullptr) {
            report.push_back("[" + name + "] state file: no method called " + saved.band.method +
                             " in the library; the band rings as started");
            continue;
        }
        tower.pendingBand = setupFor(tower, saved.band, std::move(method));
        report.push_back("[" + name + "] setup from the state file: " + saved.band.method);
    }
    applyPendingBands();
    return report;
}

// What the clients say, and what the server does with it: the tower list,
// joining and leaving a tower with the assignments that follow, and strikes
// and calls relayed to the tower and heard by its band.

#include "server/ServerLoop.h"
#include "server/LogText.h"

#include "protocol/MessageLayout.h"
#include "protocol/Messages.h"

#include <algorithm>
#include <cstdio>

namespace {

int signedWord(const NetMessage& message, std::size_t offset)
{
    return static_cast<std::int16_t>(message.getWord(offset));
}

}  // namespace

void ServerLoop::handleMessage(int id, Client& client, const NetMessage& message)
{
    switch (static_cast<MessageType>(messageType(message))) {
    case MessageType::Hello:
        sendTowerList(id);
        break;
    case MessageType::JoinTower:
        handleJoin(id, client, message);
        break;
    case MessageType::Strike:
        handleStrike(id, client, message);
        break;
    case MessageType::Call:
        handleCall(id, client, message);
        break;
    default:
        // Server-to-client types, and the two the protocol leaves unused.
        logIgnored(id, client, "message type " + std::to_string(messageType(message)));
        break;
    }
}

void ServerLoop::sendTowerList(int id)
{
    const int count = static_cast<int>(towers_.size());
    for (const auto& tower : towers_)
        send(id, makeTowerEntry(count, tower->state.config().name, tower->state.config().description));
}

void ServerLoop::handleJoin(int id, Client& client, const NetMessage& message)
{
    using namespace layout::joinTower;
    const std::string towerName = message.getText(kTowerName.begin, kTowerName.end);
    const std::string ringer = message.getText(kRingerName.begin, kRingerName.end);
    const auto found = std::find_if(towers_.begin(), towers_.end(),
                                    [&](const auto& tower) { return tower->state.config().name == towerName; });
    if (found == towers_.end()) {
        log("client " + std::to_string(id) + ": refused " + ringer + ": no tower \"" + towerName + "\"");
        send(id, makeServerText("There is no tower called " + towerName));
        return;
    }
    leaveTower(id, client);
    Tower& tower = **found;
    if (const auto refusal = tower.state.join(id, ringer)) {
        tower.log("refused " + ringer + " (client " + std::to_string(id) + "): " + *refusal);
        send(id, makeServerText(*refusal));
        return;
    }
    client.tower = static_cast<int>(found - towers_.begin());
    tower.log("join " + ringer + " (client " + std::to_string(id) + ")");
    send(id, makeJoinConfirmation(towerName));
    announceAssignments(tower);
}

void ServerLoop::leaveTower(int id, Client& client)
{
    if (client.tower < 0)
        return;
    Tower& tower = *towers_[static_cast<std::size_t>(client.tower)];
    const std::string ringer = tower.state.ringerOf(id);
    client.tower = -1;
    if (!tower.state.leave(id))
        return;
    tower.log("leave " + ringer + " (client " + std::to_string(id) + ")");
    announceAssignments(tower);
}

void ServerLoop::announceAssignments(Tower& tower)
{
    const int bells = tower.state.config().bells;
    std::string summary = "assign";
    for (const Assignment& assignment : tower.state.assignments()) {
        summary += " " + assignment.ringer + "=" + assignment.bells;
        broadcast(tower, makeBellAssignment(bells, assignment.ringer, assignment.bells));
    }
    tower.log(summary);
    tower.band->setClients(tower.state.clientBells(), !tower.state.empty(), now());
}

void ServerLoop::handleStrike(int id, Client& client, const NetMessage& message)
{
    using namespace layout::strike;
    if (client.tower < 0) {
        logIgnored(id, client, "strike outside a tower");
        return;
    }
    Tower& tower = *towers_[static_cast<std::size_t>(client.tower)];
    const int bell = signedWord(message, kBell);
    const bool handstroke = message.getWord(kStroke) != 0;
    const std::string ringer = tower.state.ringerOf(id);
    if (bell < 1 || bell > tower.state.config().bells) {
        logIgnored(id, client, "strike of bell " + std::to_string(bell) + " by " + ringer);
        return;
    }
    const std::string stamp = message.size() >= static_cast<std::size_t>(kLengthWithStamp)
                                  ? std::to_string(message.getWord(kStamp))
                                  : std::string("-");
    const Micros time = now();
    tower.log("strike bell " + std::to_string(bell) + (handstroke ? " H" : " B") + " stamp " + stamp +
                     " at " + millis(time) + " by " + ringer);
    broadcast(tower, message);
    tower.band->onStrike(bell, handstroke, ringer, time);
}

void ServerLoop::handleCall(int id, Client& client, const NetMessage& message)
{
    if (client.tower < 0) {
        logIgnored(id, client, "call outside a tower");
        return;
    }
    Tower& tower = *towers_[static_cast<std::size_t>(client.tower)];
    const std::string text = message.getText(layout::call::kText.begin, layout::call::kText.end);
    broadcast(tower, message);
    tower.band->onCall(text, tower.state.ringerOf(id), now());
}

#include "protocol/Messages.h"


namespace {

NetMessage fresh(int length, MessageType type)
{
    NetMessage message;
    message.init(length, static_cast<int>(type), layout::kTag);
    return message;
}

void put(NetMessage& message, TextField field, std::string_view text)
{
    message.putText(field.begin, field.end, text);
}

std::string get(const NetMessage& message, TextField field)
{
    return message.getText(field.begin, field.end);
}

int signedWord(const NetMessage& message, std::size_t offset)
{
    return static_cast<std::int16_t>(message.getWord(offset));
}

} // namespace

NetMessage makeHello()
{
    return fresh(layout::kHelloLength, MessageType::Hello);
}

NetMessage makeJoinTower(std::string_view towerName, std::string_view ringerName)
{
    NetMessage message = fresh(layout::joinTower::kLength, MessageType::JoinTower);
    put(message, layout::joinTower::kTowerName, towerName);
    put(message, layout::joinTower::kRingerName, ringerName);
    return message;
}

NetMessage makeStrike(int bellNumber, bool handstroke, std::uint16_t stamp, int echoDelay)
{
    using namespace layout::strike;
    NetMessage message = fresh(kLength, MessageType::Strike);
    message.putWord(kBell, static_cast<unsigned>(bellNumber));
    message.putWord(kStroke, handstroke ? 1u : 0u);
    message.putWord(kStamp, stamp);
    message.putWord(kEchoDelay, static_cast<unsigned>(echoDelay));
    return message;
}

NetMessage makeCall(std::string_view text)
{
    NetMessage message = fresh(layout::call::kLength, MessageType::Call);
    if (!text.empty())
        put(message, layout::call::kText, text);
    return message;
}

NetMessage makeTowerEntry(int towerCount, std::string_view name, std::string_view description)
{
    using namespace layout::towerEntry;
    NetMessage message = fresh(static_cast<int>(kDescription.end), MessageType::TowerEntry);
    message.putWord(kTowerCount, static_cast<unsigned>(towerCount));
    put(message, kName, name);
    put(message, kDescription, description);
    return message;
}

NetMessage makeJoinConfirmation(std::string_view towerName)
{
    NetMessage message = fresh(static_cast<int>(layout::joinTower::kTowerName.end), MessageType::JoinTower);
    put(message, layout::joinTower::kTowerName, towerName);
    return message;
}

NetMessage makeBellAssignment(int bellCount, std::string_view ringerName, std::string_view bells)
{
    using namespace layout::bellAssignment;
    NetMessage message = fresh(static_cast<int>(kBells.end), MessageType::BellAssignment);
    message.putWord(kBellCount, static_cast<unsigned>(bellCount));
    put(message, kRingerName, ringerName);
    put(message, kBells, bells);
    return message;
}

NetMessage makeServerText(std::string_view text)
{
    NetMessage message = fresh(static_cast<int>(layout::serverText::kText.end), MessageType::ServerText);
    put(message, layout::serverText::kText, text);
    return message;
}

unsigned messageType(const NetMessage& message)
{
    return message.size() >= layout::kTypeOffset + 2 ? message.getWord(layout::kTypeOffset) : 0u;
}

BellAssignmentReport readBellAssignment(const NetMessage& message)
{
    using namespace layout::bellAssignment;
    BellAssignmentReport report;
    report.bellCount = signedWord(message, kBellCount);
    report.ringerName = get(message, kRingerName);
    report.bells = get(message, kBells);
    return report;
}

std::string readCall(const NetMessage& message)
{
    return get(message, layout::call::kText);
}

TowerEntryReport readTowerEntry(const NetMessage& message)
{
    using namespace layout::towerEntry;
    TowerEntryReport report;
    report.towerCount = signedWord(message, kTowerCount);
    report.name = get(message, kName);
    report.description = get(message, kDescription);
    return report;
}

std::string readJoinConfirmation(const NetMessage& message)
{
    return get(message, layout::joinTower::kTowerName);
}

std::string readServerText(const NetMessage& message)
{
    return get(message, layout::serverText::kText);
}

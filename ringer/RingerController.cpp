#include "ringer/RingerController.h"

#include "protocol/MessageLayout.h"
#include "protocol/MessageTexts.h"
#include "protocol/Messages.h"

#include <utility>

RingerController::RingerController(RingerHost& host, std::string ringerName)
    : host(host),
      fullRingerName(std::move(ringerName)),
      connection(
          host, [this](const std::string& text) { loseConnection(text); },
          [&host](const std::string& text) { host.showMessageLater(text); }),
      engine(*this, methodSettings, compiledMethod)
{
}

std::string RingerController::wireRingerName() const
{
    return fullRingerName.substr(0, layout::joinTower::kRingerName.end - layout::joinTower::kRingerName.begin);
}

void RingerController::connected()
{
    everConnected = true;
    ++connectionNumber;
    connection.opened();
    connection.sendMessage(makeHello());
}

int RingerController::reconnectDelayMs(int attempt)
{
    constexpr int kDoublings = 5;  // 1, 2, 4, 8, 16 s
    constexpr int kLongestMs = 30'000;
    return attempt >= 1 && attempt <= kDoublings ? 1000 << (attempt - 1) : kLongestMs;
}

void RingerController::bytesReceived(std::string_view bytes)
{
    if (!isRunning)
        return;
    const Micros arrived = host.monotonicMicros();
    connection.received(bytes);
    // A handler may open a box whose nested loop takes further messages off
    // the buffer; each pass looks at the buffer afresh.
    while (isRunning) {
        switch (connection.frameState()) {
        case Connection::FrameState::Incomplete:
            return;
        case Connection::FrameState::Broken:
            loseConnection(formatText(text::kImpossibleLength, connection.declaredLength()));
            return;
        case Connection::FrameState::Complete:
            dispatchMessage(arrived);
            break;
        }
    }
}

void RingerController::dispatchMessage(Micros arrived)
{
    // Off the buffer before it is handled, so that a nested loop goes on with
    // the bytes behind it.
    const NetMessage message = connection.takeMessage();
    try {
        handle(message.getWord(layout::kTypeOffset), message, arrived);
    } catch (const NetMessageRangeError&) {
        // Too short for the fields its type reads: every message is read
        // whole before anything changes, so dropping it leaves no trace.
    }
}

void RingerController::handle(unsigned type, const NetMessage& message, Micros arrived)
{
    switch (static_cast<MessageType>(type)) {
    case MessageType::Hello:
    case MessageType::Ignored5:
    case MessageType::Ignored6:
        return;
    case MessageType::BellAssignment:
        onBellAssignment(message);
        return;
    case MessageType::Call: {
        std::string words = readCall(message);
        host.heardCall(words);
        engine.onCall({std::move(words), arrived});
        return;
    }
    case MessageType::Strike:
        // Read here, not in a handler of its own: a band's every strike comes this way.
        if (const auto report = readStrike(message)) {
            host.heardStrike(report->bell, report->handstroke);
            engine.onStrike({arrived, report->bell, report->handstroke, report->stamp});
        }
        return;
    case MessageType::TowerEntry:
        onTowerEntry(message);
        return;
    case MessageType::JoinTower:
        onJoinTower(message);
        return;
    case MessageType::ServerText:
        onServerText(message);
        return;
    }
    host.showMessage(formatText(text::kUnexpectedType, static_cast<int>(type)));
}

void RingerController::onBellAssignment(const NetMessage& message)
{
    BellAssignmentReport report = readBellAssignment(message);
    const bool ours = report.ringerName == wireRingerName();
    const bool noneForUs = ours && report.bells.empty();
    engine.onBellAssignment({report.bellCount, std::move(report.bells), ours});
    if (ours)
        sayWhenGivenNoBells(noneForUs);
}

// Without bells of its own Tolvane only watches, and the rows stay on rounds
// while the band rings on: said once, not at every new assignment.
void RingerController::sayWhenGivenNoBells(bool noBells)
{
    const bool toldAlready = std::exchange(toldNoBells, noBells);
    if (!noBells || toldAlready)
        return;
    const std::string text = "The server gave Tolvane no bells";
    host.showMessage(towerName.empty() ? text : text + " in " + towerName);
}

void RingerController::sendStrike(int bellNumber, bool handstroke, std::uint16_t stamp, int echoDelay)
{
    connection.sendMessage(makeStrike(bellNumber, handstroke, stamp, echoDelay));
}

void RingerController::sendCall(const std::string& words)
{
    connection.sendMessage(makeCall(words));
}

std::string RingerController::sendPersonsCall(const std::string& words)
{
    if (!isRunning || !connection.isOpen())
        return "Not connected to a server: the call was not sent";
    if (towerName.empty())
        return "No tower joined yet: the call was not sent";
    connection.sendMessage(makeCall(words));
    return {};
}

void RingerController::onTowerEntry(const NetMessage& message)
{
    const TowerEntryReport entry = readTowerEntry(message);
    if (!entry.name.empty())
        towerList[entry.name] = entry.description;
    if (entry.towerCount == static_cast<int>(towerList.size()))
        chooseTower(true);
}

void RingerController::onJoinTower(const NetMessage& message)
{
    const std::string joined = readJoinConfirmation(message);
    engine.setBellCount(0);
    towerName = joined;
    toldNoBells = false;
    everJoined = everJoined || !joined.empty();
    rejoinTower.clear();
    rejoinSent = false;
    reconnectAttempt = 0;
}

void RingerController::onServerText(const NetMessage& message)
{
    const std::string said = readServerText(message);
    // Going back to the tower we were in was refused: most likely the server
    // has not yet noticed that our old connection is gone and holds the name.
    // Trying again later gets past that; a box or a new choice would not.
    // What the server said is shown while waiting, in case it lasts.
    if (rejoinSent && towerName.empty()) {
        dropConnection(said);
        return;
    }
    host.showMessageThen(said, [this] {
        if (isRunning && towerName.empty())
            chooseTower(false);
    });
}

void RingerController::chooseTower(bool listComplete)
{
    const int askedOn = connectionNumber;
    const TowerChoice choice = host.chooseTower(towerList, listComplete);
    // The connection the list came on may have been lost and made again
    // while the choice was open: its answer belongs to that list.
    if (!isRunning || askedOn != connectionNumber || !connection.isOpen())
        return;
    switch (choice.action) {
    case TowerChoice::Action::Wait:
        return;
    case TowerChoice::Action::Cancel:
        endRun();
        return;
    case TowerChoice::Action::Join:
        rejoinSent = !rejoinTower.empty() && choice.tower == rejoinTower;
        connection.sendMessage(makeJoinTower(choice.tower, fullRingerName));
        return;
    }
}

void RingerController::applySettings(const MethodSettings& newSettings)
{
    MessageList messages;
    CompiledMethod fresh;
    compileMethod(fresh, newSettings, messages);
    parseComposition(fresh, newSettings.composition);
    methodSettings = newSettings;
    compiledMethod = std::move(fresh);
    for (const std::string& text : messages.texts)
        host.showMessage(text);
}

// Stops everything at once, before any box opens, so that no nested loop can
// run a handler on a dead connection. False when the run had already ended.
bool RingerController::shutDown()
{
    if (!isRunning)
        return false;
    isRunning = false;
    connection.close();
    host.killStrikeTimer();
    return true;
}

void RingerController::loseConnection(const std::string& text, bool networkLoss)
{
    if (networkLoss && reconnectOn && everConnected && isRunning) {
        dropConnection();
        return;
    }
    if (!shutDown())
        return;
    host.showFinalMessage(text);
    host.endRun();
}

// The run goes on without a connection: everything waiting either way is
// forgotten and the ringing stops at once, so that nothing meant for the old
// connection goes out on the next. The next touch starts from the new
// assignments, as after any join.
void RingerController::dropConnection(const std::string& refusal)
{
    connection.close();
    rejoinSent = false;
    engine.setBellCount(0);
    host.killStrikeTimer();
    towerList.clear();
    if (!towerName.empty())
        rejoinTower = towerName;
    towerName.clear();
    scheduleReconnect(refusal);
}

void RingerController::scheduleReconnect(const std::string& refusal)
{
    if (!isRunning)
        return;
    ++reconnectAttempt;
    host.reconnectAfter(reconnectDelayMs(reconnectAttempt), reconnectAttempt, refusal);
}

void RingerController::endRun()
{
    if (shutDown())
        host.endRun();
}

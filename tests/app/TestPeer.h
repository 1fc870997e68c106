#pragma once

// A ringing server played by the test on loopback: it accepts the program's
// connection, reads and writes whole messages, and can ring a band's bells in
// row order while echoing the program's strikes, as a server does.

#include "method/PlaceNotation.h"
#include "protocol/Messages.h"
#include "protocol/NetMessage.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <optional>
#include <string>
#include <vector>

class TestPeer {
public:
    TestPeer() { server.listen(QHostAddress::LocalHost, 0); }

    int port() const { return server.serverPort(); }

    bool accept(int milliseconds = 10000)
    {
        if (!QTest::qWaitFor([this] { return server.hasPendingConnections(); }, milliseconds))
            return false;
        socket = server.nextPendingConnection();
        buffer.clear();  // what was left of an earlier connection
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return true;
    }

    void send(const std::string& bytes)
    {
        socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
        socket->flush();
    }
    void send(const NetMessage& message) { send(message.bytes()); }

    // The next whole message from the program, or nothing within the time.
    std::optional<NetMessage> next(int milliseconds = 5000)
    {
        const auto whole = [this] {
            buffer += socket->readAll().toStdString();
            return buffer.size() >= 2 && buffer.size() >= NetMessage(buffer.substr(0, 2)).getWord(0);
        };
        if (!QTest::qWaitFor(whole, milliseconds))
            return std::nullopt;
        const std::size_t length = NetMessage(buffer.substr(0, 2)).getWord(0);
        NetMessage message(buffer.substr(0, length));
        buffer.erase(0, length);
        return message;
    }

    bool closedByProgram(int milliseconds = 5000)
    {
        return QTest::qWaitFor([this] { return socket->state() != QAbstractSocket::ConnectedState; },
                               milliseconds);
    }

    void close()
    {
        if (socket)
            socket->close();
    }

    QTcpServer server;
    QTcpSocket* socket = nullptr;
    std::string buffer;
};

// Takes the program's connection and seats it in "Ash", a tower of six: the
// one-tower list answers its Hello, its join is confirmed, and it is given
// `ownBells` under the name Tolvane, the band the rest.
inline bool seatInAsh(TestPeer& peer, const std::string& ownBells)
{
    if (!peer.accept() || !peer.next())
        return false;
    peer.send(makeTowerEntry(1, "Ash", ""));
    if (!peer.next())
        return false;
    std::string band;
    for (char bell : std::string("123456"))
        if (ownBells.find(bell) == std::string::npos)
            band += bell;
    peer.send(makeJoinConfirmation("Ash"));
    peer.send(makeBellAssignment(6, "Band", band));
    peer.send(makeBellAssignment(6, "Tolvane", ownBells));
    return true;
}

// Rings rows with the program: the band's bells strike `gap` ms apart, the
// program's strikes are checked and echoed. Returns false on the first fault.
inline bool ringWithProgram(TestPeer& peer, const std::vector<std::string>& rows, const std::string& robotBells,
                            int gap)
{
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const bool handstroke = r % 2 == 0;
        for (char symbol : rows[r]) {
            const int bell = static_cast<int>(kBellSymbols.find(symbol)) + 1;
            if (robotBells.find(symbol) == std::string::npos) {
                QTest::qWait(gap);
                peer.send(makeStrike(bell, handstroke, 0, 0));
                continue;
            }
            const auto strike = peer.next();
            if (!strike || strike->getWord(2) != 4 || strike->getWord(6) != bell
                || (strike->getWord(8) != 0) != handstroke) {
                qWarning("row %zu (%s): expected bell %d", r, rows[r].c_str(), bell);
                return false;
            }
            peer.send(*strike);
        }
    }
    return true;
}

inline std::vector<std::string> plainCourseFromRounds(const std::vector<std::string>& lead, int bells)
{
    const std::string rounds(kBellSymbols.substr(0, static_cast<std::size_t>(bells)));
    std::vector<std::string> rows{rounds, rounds};
    std::string row = rounds;
    do {
        for (const auto& token : lead)
            rows.push_back(row = applyChange(row, token, bells));
    } while (row != rounds);
    return rows;
}

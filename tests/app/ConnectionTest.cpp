// The program's socket glue against a peer on loopback: the greeting, framing
// across reads, the close event and connect failures.

#include "TestPeer.h"

#include "app/RingerShell.h"

#include <QElapsedTimer>
#include <filesystem>
#include <functional>
#include <utility>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The shell with the real socket and timers, recording what a person would see.
class RecordingShell : public RingerShell {
public:
    explicit RecordingShell(int port, std::string host = "127.0.0.1") : RingerShell(options(port, host)) {}

    void showMessage(const std::string& text) override { shown.push_back(text); }
    void showSpeed(const std::string&, const std::string&) override {}
    void showChanges(const ChangeDisplay& display) override
    {
        for (const auto& row : display.addedRows)
            rows.push_back(row);
    }
    void endRun() override { ended = true; }

    std::vector<std::string> shown;
    int towerChoices = 0;
    std::vector<std::string> rows;
    bool ended = false;

protected:
    void showReconnecting(const std::string& text) override { shown.push_back(text); }
    TowerChoice askForTower(const TowerList& towers, bool listComplete) override
    {
        if (!listComplete)
            return TowerChoice::wait();
        ++towerChoices;
        return towers.empty() ? TowerChoice::cancel() : TowerChoice::join(towers.begin()->first);
    }

private:
    static Options options(int port, const std::string& host)
    {
        Options o;
        o.serverHost = host;
        o.serverPort = port;
        return o;
    }
};

// A listener on the port that never accepts, its queue filled: a connect to
// it hangs, as to a host that drops every packet.
class SilentListener {
public:
    explicit SilentListener(int port)
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        listening = ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                    ::listen(listener, 0) == 0;
        for (int& filler : fillers) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        }
    }
    ~SilentListener()
    {
        for (const int filler : fillers)
            ::close(filler);
        ::close(listener);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    bool listening = false;

private:
    int listener = -1;
    int fillers[3] = {-1, -1, -1};
};

// A shell whose tower choice runs a nested loop, as a dialog does, with
// whatever the test does meanwhile.
class NestedChoiceShell : public RecordingShell {
public:
    using RecordingShell::RecordingShell;
    std::function<void()> whileChoosing;

protected:
    TowerChoice askForTower(const TowerList&, bool) override
    {
        if (whileChoosing)
            std::exchange(whileChoosing, nullptr)();
        return TowerChoice::wait();
    }
};

std::ptrdiff_t openFileCount()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class ConnectionTest : public QObject {
    Q_OBJECT

private slots:
    void greetsTheServerOnceConnected()
    {
        TestPeer peer;
        RecordingShell shell(peer.port());
        shell.start();
        QVERIFY(peer.accept());
        const auto hello = peer.next();
        QVERIFY(hello);
        QCOMPARE(hello->bytes(), std::string("\x06\x00\x01\x00\x01\x00", 6));
    }

    void framesMessagesAcrossSplitAndMergedReads()
    {
        TestPeer peer;
        RecordingShell shell(peer.port());
        shell.start();
        QVERIFY(peer.accept());
        QVERIFY(peer.next());
        const std::string both = makeBellAssignment(6, "Band", "12345").bytes() + makeBellAssignment(6, "Tolvane", "6").bytes();
        peer.send(both);
        const std::string strike = makeStrike(1, true, 0, 0).bytes();
        peer.send(strike.substr(0, 5));
        QTest::qWait(50);
        QVERIFY(!shell.controller().ringing().ringing);
        peer.send(strike.substr(5));
        QVERIFY(QTest::qWaitFor([&] { return shell.controller().ringing().ringing; }, 5000));
        QVERIFY(shell.controller().ringing().bellTable[5].ownBell);
        QCOMPARE(shell.controller().ringing().struckBells, std::string("1"));
        QVERIFY(shell.shown.empty());
    }

    void joinsTheTowerAndSendsTheRequestBytes()
    {
        TestPeer peer;
        RecordingShell shell(peer.port());
        shell.start();
        QVERIFY(peer.accept());
        QVERIFY(peer.next());
        peer.send(makeTowerEntry(2, "Elm", "").bytes() + makeTowerEntry(2, "Ash", "").bytes());
        const auto join = peer.next();
        QVERIFY(join);
        QCOMPARE(join->bytes(), makeJoinTower("Ash", "Tolvane").bytes());
    }

    void theServerClosingEndsTheRunAfterItsLastMessages()
    {
        TestPeer peer;
        RecordingShell shell(peer.port());
        shell.start();
        QVERIFY(peer.accept());
        QVERIFY(peer.next());
        peer.send(makeServerText("Bye"));
        peer.close();
        QVERIFY(QTest::qWaitFor([&] { return shell.ended; }, 5000));
        QCOMPARE(shell.shown, (std::vector<std::string>{"Bye", "Connection to Server Lost."}));
        QVERIFY(!shell.controller().running());
    }

    void aFailedConnectEndsTheRunSayingWhereAndWhy_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << "127.0.0.1" << "Connection to server failed" << "refused";
        QTest::newRow("not found") << "no-such-tower.invalid" << "Internet connection not found" << "not found";
    }

    void aFailedConnectEndsTheRunSayingWhereAndWhy()
    {
        QFETCH(QString, host);
        QFETCH(QString, said);
        QFETCH(QString, reason);
        const int port = freePort();
        RecordingShell shell(port, host.toStdString());
        shell.start();
        QVERIFY(QTest::qWaitFor([&] { return shell.ended; }, 25000));
        // The usual message first, unchanged; where and why under it.
        const std::string shown = QStringLiteral("%1\n%2, port %3: %4").arg(said, host).arg(port).arg(reason).toStdString();
        QCOMPARE(shell.shown, std::vector<std::string>{shown});
        QCOMPARE(shell.exitCode(), 1);
    }

    void anImpossibleLengthEndsTheRun()
    {
        TestPeer peer;
        RecordingShell shell(peer.port());
        shell.start();
        QVERIFY(peer.accept());
        QVERIFY(peer.next());
        peer.send(std::string(16, '\0'));
        QVERIFY(QTest::qWaitFor([&] { return shell.ended; }, 5000));
        QCOMPARE(shell.shown.size(), std::size_t(1));
        QVERIFY(shell.shown[0].rfind("Connection to Server Lost.", 0) == 0);
        QVERIFY(peer.closedByProgram());
    }

    void saysOnceWhenTheServerGivesItNoBells()
    {
        TestPeer peer;
        RecordingShell shell(peer.port());
        shell.start();
        QVERIFY(peer.accept());
        QVERIFY(peer.next());
        peer.send(makeJoinConfirmation("<i>Ash</i>"));
        // Every join or leave in the tower announces the assignments again.
        for (const char* ours : {"", "", "6", ""}) {
            peer.send(makeBellAssignment(6, "Band", "12345"));
            peer.send(makeBellAssignment(6, "Tolvane", ours));
        }
        const std::string said = "The server gave Tolvane no bells in <i>Ash</i>";
        QVERIFY(QTest::qWaitFor([&] { return shell.shown.size() == 2; }, 5000));
        QTest::qWait(100);
        QCOMPARE(shell.shown, (std::vector<std::string>{said, said}));
    }

    void reconnectWaitsDoubleToThirtySeconds()
    {
        const int expected[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000};
        for (int attempt = 1; attempt <= 7; ++attempt)
            QCOMPARE(RingerController::reconnectDelayMs(attempt), expected[attempt - 1]);
    }

    // A server that sends what cannot be read would send it again: only a
    // link that drops is made again.
    void aProtocolFaultEndsTheRunEvenWhenReconnecting()
    {
        TestPeer peer;
        RecordingShell shell(peer.port());
        shell.controller().setReconnect(true);
        shell.start();
        QVERIFY(seatInAsh(peer, "6"));
        peer.send(std::string(16, '\0'));
        QVERIFY(QTest::qWaitFor([&] { return shell.ended; }, 5000));
        QCOMPARE(shell.shown.size(), std::size_t(1));
        QVERIFY(shell.shown[0].rfind("Connection to Server Lost.", 0) == 0);
        QVERIFY2(!peer.accept(1500), "the first attempt would come after 1 s");
    }

    void aDropAfterARejoinStartsAgainAtTheFirstAttempt()
    {
        TestPeer peer;
        RecordingShell shell(peer.port());
        shell.controller().setReconnect(true);
        shell.start();
        QVERIFY(seatInAsh(peer, "6"));
        peer.close();
        QVERIFY(seatInAsh(peer, "6"));
        QVERIFY(QTest::qWaitFor([&] { return !shell.controller().reconnecting(); }, 5000));
        peer.close();
        QVERIFY(QTest::qWaitFor([&] { return shell.shown.size() == 2; }, 5000));
        QCOMPARE(shell.shown, (std::vector<std::string>{reconnectingText(1), reconnectingText(1)}));
    }

    // Reconnecting to a server that does not answer is waited out beside the
    // window: its loop runs on (a connect that blocked would hold it 5 s).
    void aSilentServerDoesNotHoldTheLoopWhileReconnecting()
    {
        auto peer = std::make_unique<TestPeer>();
        const int port = peer->port();
        RecordingShell shell(port);
        shell.controller().setReconnect(true);
        shell.start();
        QVERIFY(seatInAsh(*peer, "6"));
        peer.reset();
        const SilentListener silent(port);
        QVERIFY(silent.listening);
        QVERIFY(QTest::qWaitFor([&] { return !shell.shown.empty(); }, 5000));
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, sinceTick.restart());
        });
        sinceTick.start();
        tick.start(50);
        QTest::qWait(4000);  // covers the first attempt, which comes after 1 s
        QVERIFY2(longestGap < 2000, std::to_string(longestGap).c_str());
        QVERIFY(!shell.ended);
        QCOMPARE(shell.shown.front(), reconnectingText(1));
    }

    // The connection drops while the tower choice is open, and the attempt
    // to reconnect begins inside it: once the choice closes, the read that
    // opened it must not go on with the attempt's socket (taking it for the
    // lost connection, and starting a second attempt beside the first).
    void aDropWhileChoosingATowerLeavesOneAttempt()
    {
        auto peer = std::make_unique<TestPeer>();
        const int port = peer->port();
        NestedChoiceShell shell(port);
        shell.controller().setReconnect(true);
        std::unique_ptr<SilentListener> silent;
        // The choice closes the moment the attempt has made its socket.
        shell.whileChoosing = [&] {
            peer.reset();
            silent = std::make_unique<SilentListener>(port);
            QVERIFY(QTest::qWaitFor([&] { return !shell.shown.empty(); }, 5000));
            const auto before = openFileCount();
            QVERIFY(QTest::qWaitFor([&] { return openFileCount() > before; }, 5000));
        };
        shell.start();
        QVERIFY(peer->accept());
        QVERIFY(peer->next());
        peer->send(makeTowerEntry(2, "Ash", "").bytes() + makeTowerEntry(2, "Oak", "").bytes());
        QVERIFY(QTest::qWaitFor([&] { return silent != nullptr; }, 5000));
        QVERIFY(silent->listening);
        QVERIFY(QTest::qWaitFor([&] { return !shell.whileChoosing; }, 5000));
        QTest::qWait(1500);
        QCOMPARE(shell.shown, (std::vector<std::string>{reconnectingText(1)}));
    }

    // The program's strike is due when the connection drops: it must not go
    // out on the next connection, and nothing else may either until the
    // tower is joined again (without asking) and a new touch starts.
    void nothingSentBeforeADropIsSentAgainAfterIt()
    {
        TestPeer peer;
        RecordingShell shell(peer.port());
        shell.controller().setReconnect(true);
        shell.start();
        QVERIFY(seatInAsh(peer, "6"));
        QVERIFY(ringWithProgram(peer, {"123456", "123456"}, "6", 20));
        for (int bell = 1; bell <= 5; ++bell)
            peer.send(makeStrike(bell, true, 0, 0));
        peer.close();

        // The first time back the server still holds the name: refused, the
        // program tries again later rather than asking.
        for (const bool refused : {true, false}) {
            QVERIFY(peer.accept(5000));
            const auto hello = peer.next();
            QVERIFY(hello);
            QCOMPARE(hello->bytes(), makeHello().bytes());
            peer.send(makeTowerEntry(2, "Ash", "").bytes() + makeTowerEntry(2, "Oak", "").bytes());
            const auto join = peer.next();
            QVERIFY(join);
            QCOMPARE(join->bytes(), makeJoinTower("Ash", "Tolvane").bytes());
            if (refused)
                peer.send(makeServerText("Tolvane is already ringing in Ash"));
        }
        QVERIFY2(!peer.next(1000), "nothing before the new assignments");
        QCOMPARE(shell.towerChoices, 1);
        QCOMPARE(shell.shown, (std::vector<std::string>{reconnectingText(1),
                                                        reconnectingText(2, "Tolvane is already ringing in Ash")}));

        peer.send(makeJoinConfirmation("Ash"));
        peer.send(makeBellAssignment(6, "Band", "12345"));
        peer.send(makeBellAssignment(6, "Tolvane", "6"));
        QVERIFY(ringWithProgram(peer, {"123456", "123456"}, "6", 20));
        QVERIFY(!shell.ended);
    }
};

QTEST_MAIN(ConnectionTest)
#include "ConnectionTest.moc"
